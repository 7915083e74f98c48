#pragma once

#include "filter/ScanCycle.h"
#include "support/ListRows.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedBrowserSource.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>

// The lists and option controls of the main window as the scan sees them, a scripted page
// source, a sound player that records, and the scan over them.
struct ScanRig
{
    explicit ScanRig(ScanCycle::Clock clock) : scan(controls(), source, sound, std::move(clock))
    {
        ListView1.setColumnCount(2);
        ListView2.setColumnCount(2);
        ListView4.setColumnCount(3);
        Check1.setCheckState(Qt::Checked);
    }

    ScanControls controls()
    {
        return {&ListView1, &ListView2, &ListView3, &ListView4, &sb, &Check1, &Text1};
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
    ScriptedBrowserSource source;
    RecordingSoundPlayer sound;
    ScanCycle scan;
};
