#pragma once

#include "support/ScanRig.h"

// The scan's lists filled as after start-up: the keywords in ListView3 and one statistics row
// per keyword in ListView2, in the same order. The pages come from a scripted source; the
// sound option is off.
struct ScanLists : ScanRig
{
    ScanLists(const QList<BrowserPage> &pages, const QStringList &keywords)
        : ScanRig(&QTime::currentTime)
    {
        Check1.setCheckState(Qt::Unchecked);
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
};
