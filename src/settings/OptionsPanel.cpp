#include "settings/OptionsPanel.h"

#include "platform/Dialogs.h"
#include "settings/CheckStates.h"
#include "settings/Ini.h"
#include "settings/StartAtLogOn.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <functional>

const QString OptionsPanel::kSection = QStringLiteral("Config");
const QString OptionsPanel::kSoundFilter = QStringLiteral("Fichier son Wav|*.wav");

OptionsPanel::OptionsPanel(const OptionControls &controls, const QString &appFolder,
                           const ConfigFolders &folders, const QString &programFolder)
    : m_controls(controls), m_appFolder(appFolder),
      m_programFolder(programFolder.isEmpty() ? appFolder : programFolder), m_folders(folders)
{}

void OptionsPanel::loadSoundPath()
{
    m_controls.Text1->setText(ReadIni(m_appFolder, kSection, QStringLiteral("Text1")));
    if (!m_controls.Text1->text().isEmpty())
        return;
    const QString own = m_appFolder + QStringLiteral("/sound.wav");
    m_controls.Text1->setText(
        QFileInfo::exists(own) ? own : m_programFolder + QStringLiteral("/sound.wav"));
}

void OptionsPanel::loadStoredStates()
{
    struct Box
    {
        QCheckBox *box;
        int builtIn;
        std::function<void()> click;
    };
    const Box boxes[] = {
        {m_controls.Check1, CheckStates::kTicked,
         [this] {
             Check1Click();
         }},
        {m_controls.Check2, CheckStates::kTicked,
         [this] {
             Check2Click();
         }},
        {m_controls.Check3, CheckStates::kUnticked,
         [this] {
             Check3Click();
         }},
        {m_controls.Check4, CheckStates::kUnticked,
         [this] {
             Check4Click();
         }},
    };
    for (const Box &b : boxes) {
        const std::optional<int> state =
            CheckStates::parse(ReadIni(m_appFolder, kSection, b.box->objectName()));
        if (!state)
            continue;
        CheckStates::show(b.box, *state);
        if (*state != b.builtIn)
            b.click();
    }
}

void OptionsPanel::writeState(const QCheckBox *box)
{
    WriteIni(m_appFolder, kSection, box->objectName(), QString::number(CheckStates::stored(box)));
}

void OptionsPanel::Check1Click()
{
    writeState(m_controls.Check1);
    const bool enabled = CheckStates::stored(m_controls.Check1) != CheckStates::kUnticked;
    m_controls.FramePlus5->setEnabled(enabled);
    m_controls.Text1->setEnabled(enabled);
    m_controls.Command2->setEnabled(enabled);
}

void OptionsPanel::Check2Click()
{
    if (CheckStates::stored(m_controls.Check2) == CheckStates::kUnticked)
        m_controls.Timer1->stop();
    else if (!m_controls.Timer1->isActive())
        m_controls.Timer1->start();
    writeState(m_controls.Check2);
}

bool OptionsPanel::Check3Click()
{
    bool done = false;
    if (CheckStates::stored(m_controls.Check3) == CheckStates::kUnticked)
        done = DeleteRegistryValue(m_folders, kRunSubKey, kRunValueName);
    else
        done = SetRegistryValue(m_folders, kRunSubKey, kRunValueName,
                                m_programFolder + u'/' + kExecutableName, REG_SZ);
    writeState(m_controls.Check3);
    return done;
}

void OptionsPanel::Check4Click()
{
    writeState(m_controls.Check4);
}

void OptionsPanel::Command2Click(Dialogs &dialogs, QString &filter, QString &fileName)
{
    filter = kSoundFilter;
    fileName = dialogs.openFile(filter, fileName);
    if (fileName.isEmpty())
        return;
    m_controls.Text1->setText(fileName);
    WriteIni(m_appFolder, kSection, QStringLiteral("Text1"), m_controls.Text1->text());
}
