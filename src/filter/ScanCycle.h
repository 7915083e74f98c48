#pragma once

#include "filter/KeywordMatcher.h"
#include "filter/ListWatch.h"
#include "platform/BrowserWindowSource.h"
#include "platform/Limits.h"

#include <QHash>
#include <QLocale>
#include <QSet>
#include <QTime>

#include <functional>
#include <optional>

class SoundPlayer;
class QCheckBox;
class QLabel;
class QLineEdit;
class QTreeWidget;

// The controls of the main window that one scan reads and writes.
struct ScanControls
{
    QTreeWidget *ListView1 = nullptr; // open pages: name, address
    QTreeWidget *ListView2 = nullptr; // statistics: count, keyword
    QTreeWidget *ListView3 = nullptr; // keywords
    QTreeWidget *ListView4 = nullptr; // journal: time, keyword, address
    QLabel *sb = nullptr;             // status text
    QCheckBox *Check1 = nullptr;      // sound on closing
    QLineEdit *Text1 = nullptr;       // sound path
};

// One tick lists the open browser pages, tests each against each keyword, ignoring case, and
// closes, journals, counts and announces every match, by page and then by keyword row.
//
// The keywords are compiled into a KeywordMatcher, kept until the keyword list changes, so a
// tick costs a pass over the pages' texts rather than a test of every (page, keyword) pair. The
// statistics row of each keyword is likewise kept until the statistics list changes.
class ScanCycle
{
public:
    using Clock = std::function<QTime()>;

    ScanCycle(const ScanControls &controls, BrowserWindowSource &source, SoundPlayer &sound,
              Clock clock = &QTime::currentTime, QLocale locale = QLocale::system());

    void tick();
    // Matches pages a source reported between ticks, at once, with all a tick does for a match.
    // Each page is matched at most once from one tick to the next: a page matched here is left
    // alone by reports until the next tick and by that tick itself, and a page the last tick
    // matched is left alone by reports until the next tick.
    void pagesReported(const QList<BrowserPage> &pages);

    int SelectedWindowRow() const { return m_selectedWindowRow; }
    int ClosedTotal() const { return m_closedTotal; }

private:
    // How many rows are selected.
    int rememberSelection();
    void refillWindowList(QList<BrowserPage> pages);
    void restoreSelection();
    void closeSequence(const QString &pageName, const QString &address, const WindowHandle &handle,
                       int keywordRow);
    void countClosing(const QString &keyword);
    KeywordMatcher &keywordMatcher();
    // The keyword rows found in the page's name or address.
    QList<int> rowsFoundIn(const QString &pageName, const QString &address);

    ScanControls m_controls;
    BrowserWindowSource &m_source;
    SoundPlayer &m_sound;
    Clock m_clock;
    QLocale m_locale;
    int m_selectedWindowRow = 0;
    int m_closedTotal = 0;
    ListWatch m_keywordsWatch;
    std::optional<KeywordMatcher> m_matcher;
    quint64 m_matcherBuilds = 0;
    // The names and addresses in which the keywords as they stand were found nowhere: pages
    // that stay open are listed again at every tick, and need not be searched again until the
    // keyword list changes. Bounded, since a page may retitle itself endlessly.
    QSet<std::pair<QString, QString>> m_unmatched;
    // The pages ListView1 shows, row by row: only this class fills it.
    QList<BrowserPage> m_shownPages;
    // What the source's last walk gave. While it gives that list again, shared, the pages are
    // the same.
    QList<BrowserPage> m_lastWalk;
    // The matcher with which the last tick found no page and passed over none: another tick over
    // the same pages with it would find nothing either.
    std::optional<quint64> m_quietWith;
    ListWatch m_statisticsWatch;
    // Keyword -> first statistics row that names it.
    QHash<QString, int> m_statisticsRows;
    // The pages matched since the last tick, from reports, and by the last tick.
    QSet<WindowHandle> m_reportMatched;
    QSet<WindowHandle> m_tickMatched;
};
