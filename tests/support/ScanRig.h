#pragma once

#include "filter/ScanCycle.h"
#include "support/ListRows.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedBrowserSource.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

// The lists and option controls of the main window as the scan sees them, a page source, a
// sound player that records, and the scan over them. Timer1 ticks the scan every 500 ms once
// the test starts it. Source is any BrowserWindowSource that can be built without arguments.
template <typename Source = ScriptedBrowserSource>
struct ScanRig
{
    explicit ScanRig(ScanCycle::Clock clock = &QTime::currentTime,
                     QLocale locale = QLocale::system())
        : scan(controls(), source, sound, std::move(clock), std::move(locale))
    {
        ListView1.setColumnCount(2);
        ListView2.setColumnCount(2);
        ListView4.setColumnCount(3);
        Timer1.setInterval(500);
        QObject::connect(&Timer1, &QTimer::timeout, [this] { scan.tick(); });
    }

    // The controls, for another scan over the same lists.
    ScanControls controls()
    {
        return {&ListView1, &ListView2, &ListView3, &ListView4, &sb, &Check1, &Text1};
    }

    // Replaces the keywords, each with a statistics row that counts 0.
    void setKeywords(const QStringList &keywords)
    {
        ListView2.clear();
        ListView3.clear();
        for (const QString &keyword : keywords) {
            ListView3.addTopLevelItem(new QTreeWidgetItem(QStringList{keyword}));
            ListView2.addTopLevelItem(new QTreeWidgetItem({QStringLiteral("0"), keyword}));
        }
    }

    // The count of the keyword's first statistics row; empty when it has none.
    QString count(const QString &keyword) const
    {
        for (const QStringList &row : rows(ListView2)) {
            if (row.value(1) == keyword)
                return row.value(0);
        }
        return {};
    }

    // The selected row of the open-pages list, from 1; 0 for none.
    int selectedRow() const
    {
        const auto selected = ListView1.selectedItems();
        return selected.isEmpty() ? 0 : ListView1.indexOfTopLevelItem(selected.first()) + 1;
    }

    QTreeWidget ListView1, ListView2, ListView3, ListView4;
    QLabel sb;
    QCheckBox Check1;
    QLineEdit Text1;
    Source source;
    RecordingSoundPlayer sound;
    ScanCycle scan;
    QTimer Timer1;
};
