#include "lang/LanguagePanel.h"

#include "platform/Dialogs.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QListWidget>

const QString LanguagePanel::kStoreSection = QStringLiteral("FILES");
const QString LanguagePanel::kStoreKey = QStringLiteral("LNG");

LanguagePanel::LanguagePanel(const LanguageControls &controls, const LanguageWindow &window,
                             const QString &appFolder, const UserStore &store, Dialogs &dialogs,
                             const QString &programFolder)
    : m_controls(controls), m_window(window), m_appFolder(appFolder),
      m_programFolder(programFolder.isEmpty() ? appFolder : programFolder), m_store(store),
      m_dialogs(dialogs)
{
    m_controls.File1->setEnabled(false);
}

QString LanguagePanel::languageFolder() const
{
    return m_appFolder + QStringLiteral("/Lang");
}

QStringList LanguagePanel::languageFolders() const
{
    QStringList folders{languageFolder(), m_programFolder + QStringLiteral("/Lang")};
    folders.removeDuplicates();
    return folders;
}

QString LanguagePanel::builtInFile() const
{
    return languageFolder() + QStringLiteral("/Francais.lng");
}

void LanguagePanel::loadStoredChoice()
{
    m_languageFile = m_store.setting(kStoreSection, kStoreKey, builtInFile());
}

void LanguagePanel::WriteLanguageFile(const QString &file) const
{
    ::WriteLanguageFile(m_window, file);
}

void LanguagePanel::ApplyLanguageFile(const QString &file)
{
    m_languageFile = file;
    if (applyLanguageTexts(m_window, file)) {
        m_qtTexts.follow(file);
        return;
    }
    m_dialogs.messageBox(QStringLiteral("Le fichier de langue « %1 » dépasse 1 Mo : ce n'est pas "
                                        "un fichier de langue, il n'a pas été appliqué.")
                             .arg(QFileInfo(file).fileName()),
                         QStringLiteral("Vexlor Popup"), Dialogs::Icon::Warning);
}

void LanguagePanel::Check7Click()
{
    if (m_controls.Check7->checkState() == Qt::Unchecked) {
        m_controls.File1->setEnabled(false);
    } else {
        m_controls.File1->setEnabled(true);
        m_controls.File1->setFocus();
    }
}

void LanguagePanel::ButtonPlus5Click()
{
    if (m_controls.Check7->checkState() != Qt::Checked)
        return;
    const QList<QListWidgetItem *> selected = m_controls.File1->selectedItems();
    const QString fileName = selected.isEmpty() ? QString() : selected.constFirst()->text();
    m_languageFile = languageFolder() + u'/' + fileName;
    for (const QString &folder : languageFolders()) {
        if (!fileName.isEmpty() && QFileInfo::exists(folder + u'/' + fileName)) {
            m_languageFile = folder + u'/' + fileName;
            break;
        }
    }
    m_store.saveSetting(kStoreSection, kStoreKey, m_languageFile);
    ApplyLanguageFile(m_languageFile);
}
