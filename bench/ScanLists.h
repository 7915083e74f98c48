#pragma once

#include "filter/ScanCycle.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedBrowserSource.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>

// The lists and option controls a scan works on, filled as after start-up: the keywords in
// ListView3 and one statistics row per keyword in ListView2, in the same order. The pages come
// from a scripted source; the sound option is off.
class ScanLists
{
public:
    ScanLists(const QList<BrowserPage> &pages, const QStringList &keywords)
    {
        ListView1.setColumnCount(2);
        ListView2.setColumnCount(2);
        ListView4.setColumnCount(3);
        QList<QTreeWidgetItem *> keywordRows;
        QList<QTreeWidgetItem *> statisticsRows;
        for (const QString &keyword : keywords) {
            keywordRows.append(new QTreeWidgetItem(QStringList{keyword}));
            statisticsRows.append(new QTreeWidgetItem(QStringList{QStringLiteral("0"), keyword}));
        }
        ListView3.addTopLevelItems(keywordRows);
        ListView2.addTopLevelItems(statisticsRows);
        source.m_pages = pages;
    }

    ScanControls controls()
    {
        return {&ListView1, &ListView2, &ListView3, &ListView4, &sb, &Check1, &Text1};
    }

    QTreeWidget ListView1, ListView2, ListView3, ListView4;
    QLabel sb;
    QCheckBox Check1;
    QLineEdit Text1;
    ScriptedBrowserSource source;
    RecordingSoundPlayer sound;
};
