#include "filter/KeywordCommands.h"

#include "filter/DataFiles.h"
#include "platform/Dialogs.h"

#include <QTreeWidget>

KeywordCommands::KeywordCommands(QTreeWidget *ListView2, QTreeWidget *ListView3, QWidget *window,
                                 Dialogs &dialogs, QString appFolder)
    : m_statistics(ListView2), m_keywords(ListView3), m_window(window), m_dialogs(dialogs),
      m_appFolder(std::move(appFolder))
{}

int KeywordCommands::selectedRow(const QTreeWidget *list)
{
    const int count = list->topLevelItemCount();
    for (int i = 0; i < count; ++i) {
        if (list->topLevelItem(i)->isSelected())
            return i;
    }
    return -1;
}

bool KeywordCommands::refuseUnstorable(const QString &keyword)
{
    if (!keyword.contains(u'"') && !keyword.contains(u'\r') && !keyword.contains(u'\n'))
        return false;
    m_dialogs.messageBox(QStringLiteral("Un mot clef ne peut contenir ni guillemet (\") ni retour "
                                        "à la ligne : il ne pourrait pas être enregistré tel "
                                        "quel. Aucun changement n'a été fait."),
                         m_window->windowTitle(), Dialogs::Icon::Warning);
    return true;
}

void KeywordCommands::add()
{
    const QString answer =
        m_dialogs.inputBox(QStringLiteral("Mot ou partie de l'url a fermer automatiquement?"),
                           m_window->windowTitle());
    if (answer.isEmpty() || refuseUnstorable(answer))
        return;
    if (m_keywords->topLevelItemCount() >= kMaxRows) {
        m_dialogs.messageBox(QStringLiteral("La liste des mots clefs est pleine : elle compte "
                                            "déjà 32 767 mots. Supprimez-en un avant d'en ajouter "
                                            "un autre."),
                             m_window->windowTitle(), Dialogs::Icon::Warning);
        return;
    }
    m_keywords->addTopLevelItem(new QTreeWidgetItem(QStringList{answer}));

    // The new keyword's statistics row joins the list as the file now ends, and the counts the
    // scan gained in this run are kept instead of being read back from the file.
    DataFiles::Failure failure;
    if (!DataFiles::AppendStatisticsRecord(m_appFolder, answer, &failure)) {
        m_dialogs.messageBox(failure.message + QStringLiteral("\nLe mot clef est ajouté, mais "
                                                              "ses statistiques ne seront pas "
                                                              "comptées."),
                             m_window->windowTitle(), Dialogs::Icon::Warning);
        return;
    }
    // A full list keeps the record with those it could not take, so the quit writes it back
    // where the file now holds it.
    if (m_statistics->topLevelItemCount() < kMaxRows &&
        DataFiles::recordsBeyond(m_statistics).isEmpty())
        m_statistics->addTopLevelItem(new QTreeWidgetItem({QStringLiteral("0"), answer}));
    else
        DataFiles::keepBeyond(m_statistics, {answer, QStringLiteral("0")});
}

void KeywordCommands::modify()
{
    const int row = selectedRow(m_keywords);
    if (row < 0)
        return;
    QTreeWidgetItem *item = m_keywords->topLevelItem(row);
    const QString answer = m_dialogs.inputBox(QStringLiteral("Modification de ") + item->text(0),
                                              m_window->windowTitle());
    if (answer.isEmpty() || refuseUnstorable(answer))
        return;
    // The dialog is modal and only user commands remove keyword rows: the row is still there.
    item->setText(0, answer);
}

void KeywordCommands::remove()
{
    const int row = selectedRow(m_keywords);
    if (row >= 0)
        delete m_keywords->takeTopLevelItem(row);
}
