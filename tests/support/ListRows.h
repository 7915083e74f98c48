#pragma once

#include <QList>
#include <QStringList>
#include <QTreeWidget>

// The texts of one column of a list, top to bottom.
inline QStringList column(const QTreeWidget *list, int c)
{
    QStringList texts;
    for (int r = 0; r < list->topLevelItemCount(); ++r)
        texts.append(list->topLevelItem(r)->text(c));
    return texts;
}

inline QStringList column(const QTreeWidget &list, int c)
{
    return column(&list, c);
}

// Every row of a list, as the texts of its columns.
inline QList<QStringList> rows(const QTreeWidget &list)
{
    QList<QStringList> rows;
    for (int r = 0; r < list.topLevelItemCount(); ++r) {
        QStringList row;
        for (int c = 0; c < list.columnCount(); ++c)
            row.append(list.topLevelItem(r)->text(c));
        rows.append(row);
    }
    return rows;
}

inline QList<QStringList> rows(const QTreeWidget *list)
{
    return rows(*list);
}

// Replaces the rows of a list.
inline void setRows(QTreeWidget *list, const QList<QStringList> &rows)
{
    list->clear();
    for (const QStringList &row : rows)
        list->addTopLevelItem(new QTreeWidgetItem(row));
}

inline void setRows(QTreeWidget &list, const QList<QStringList> &rows)
{
    setRows(&list, rows);
}
