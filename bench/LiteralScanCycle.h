#pragma once

#include "filter/ScanCycle.h"

// The scan tick done the plain way, step by step, kept as the reference that the scan is
// measured and tested against: the open-pages list cleared and refilled row by row, then every
// (page row, keyword row) pair lower-cased and tested in the inner loop, and the close sequence
// run for each match in that order.
//
// It produces what ScanCycle produces. Like the program, it sends the close request to the page
// a row was built from, keeps the newest 32,767 journal rows and stops the total at 32,767.
class LiteralScanCycle
{
public:
    LiteralScanCycle(const ScanControls &controls, BrowserWindowSource &source, SoundPlayer &sound,
                     ScanCycle::Clock clock = &QTime::currentTime,
                     QLocale locale = QLocale::system());

    void tick();

    int SelectedWindowRow() const { return m_selectedWindowRow; }
    int ClosedTotal() const { return m_closedTotal; }

private:
    void closeSequence(int windowRow, int keywordRow);

    ScanControls m_controls;
    BrowserWindowSource &m_source;
    SoundPlayer &m_sound;
    ScanCycle::Clock m_clock;
    QLocale m_locale;
    int m_selectedWindowRow = 0;
    int m_closedTotal = 0;
};
