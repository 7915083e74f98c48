#pragma once

#include <QString>

class Dialogs;
class QTreeWidget;
class QWidget;

// Add, Modify and Delete of the keyword panel. Edits live in the lists until the program
// quits; only Add writes a file, the statistics record of the new keyword.
class KeywordCommands
{
public:
    // window gives the dialogs their title, its caption at the moment of use.
    KeywordCommands(QTreeWidget *ListView2, QTreeWidget *ListView3, QWidget *window,
                    Dialogs &dialogs, QString appFolder);

    void add();
    void modify();
    void remove();

    // The lowest selected row of the keyword list, from 0; -1 when none is selected.
    static int selectedRow(const QTreeWidget *list);

private:
    // The files store a keyword between double quotes, without escaping.
    bool refuseUnstorable(const QString &keyword);

    QTreeWidget *m_statistics;
    QTreeWidget *m_keywords;
    QWidget *m_window;
    Dialogs &m_dialogs;
    QString m_appFolder;
};
