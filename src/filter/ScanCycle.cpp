#include "filter/ScanCycle.h"

#include "filter/JournalTime.h"
#include "filter/RecordFormat.h"
#include "platform/SoundPlayer.h"

#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>

#include <algorithm>

namespace {

// Texts remembered as matching nothing: a full list of pages four times over.
constexpr qsizetype kMaxUnmatched = 4 * qsizetype(kMaxRows);

} // namespace

ScanCycle::ScanCycle(const ScanControls &controls, BrowserWindowSource &source, SoundPlayer &sound,
                     Clock clock, QLocale locale)
    : m_controls(controls), m_source(source), m_sound(sound), m_clock(std::move(clock)),
      m_locale(std::move(locale)), m_keywordsWatch(controls.ListView3, 0),
      m_statisticsWatch(controls.ListView2, 1)
{}

void ScanCycle::tick()
{
    QTreeWidget *windows = m_controls.ListView1;
    const int selected = rememberSelection();
    QList<BrowserPage> pages = m_source.walk();
    // Most ticks find the pages as they were: the rows stand, and so does a single selection.
    const bool samePages =
        pages.isSharedWith(m_lastWalk) && windows->topLevelItemCount() == m_shownPages.size();
    if (!samePages) {
        m_lastWalk = pages;
        refillWindowList(std::move(pages));
        restoreSelection();
    } else if (selected > 1) {
        windows->clearSelection();
        restoreSelection();
    }

    const QSet<WindowHandle> reportMatched = std::exchange(m_reportMatched, {});
    m_tickMatched.clear();
    const int windowCount = windows->topLevelItemCount();
    if (windowCount == 0)
        return;
    keywordMatcher();
    if (samePages && m_quietWith == m_matcherBuilds)
        return;
    m_quietWith = m_matcherBuilds;

    // By page, then by keyword row, as a test of every pair in that order would find them. The
    // keyword list does not change during a tick: nothing here yields to the event loop.
    for (int i = 0; i < windowCount; ++i) {
        // The close request goes to the page this row was built from, not to the first page
        // that happens to share its name.
        const BrowserPage &page = m_shownPages[i];
        const WindowHandle &handle = page.handle;
        if (handle.isValid() && reportMatched.contains(handle)) {
            m_quietWith.reset();
            continue;
        }
        const QString pageName = page.pageName.value_or(QString());
        const QString address = page.address.value_or(QString());
        for (const int j : rowsFoundIn(pageName, address)) {
            closeSequence(pageName, address, handle, j);
            m_tickMatched.insert(handle);
            m_quietWith.reset();
        }
    }
}

void ScanCycle::pagesReported(const QList<BrowserPage> &pages)
{
    for (const BrowserPage &page : pages) {
        if (!page.handle.isValid() || m_reportMatched.contains(page.handle) ||
            m_tickMatched.contains(page.handle))
            continue;
        const QString pageName = page.pageName.value_or(QString());
        const QString address = page.address.value_or(QString());
        for (const int j : rowsFoundIn(pageName, address)) {
            closeSequence(pageName, address, page.handle, j);
            m_reportMatched.insert(page.handle);
        }
    }
}

KeywordMatcher &ScanCycle::keywordMatcher()
{
    if (m_keywordsWatch.takeChanged()) {
        const QTreeWidget *keywords = m_controls.ListView3;
        QStringList words;
        const int count = keywords->topLevelItemCount();
        words.reserve(count);
        for (int j = 0; j < count; ++j)
            words.append(keywords->topLevelItem(j)->text(0));
        m_matcher.emplace(words);
        ++m_matcherBuilds;
        m_unmatched.clear();
    }
    return *m_matcher;
}

QList<int> ScanCycle::rowsFoundIn(const QString &pageName, const QString &address)
{
    KeywordMatcher &matcher = keywordMatcher();
    std::pair<QString, QString> texts{pageName, address};
    if (m_unmatched.contains(texts))
        return {};
    QList<int> rows = matcher.rowsFoundIn(pageName, address);
    if (rows.isEmpty()) {
        if (m_unmatched.size() >= kMaxUnmatched)
            m_unmatched.clear();
        m_unmatched.insert(std::move(texts));
    }
    return rows;
}

int ScanCycle::rememberSelection()
{
    const QTreeWidget *windows = m_controls.ListView1;
    if (windows->topLevelItemCount() == 0)
        return 0;
    // The selection model knows the selected rows without a look at every row.
    const QItemSelectionModel *selection = windows->selectionModel();
    if (!selection->hasSelection()) {
        m_selectedWindowRow = 0;
        return 0;
    }
    QModelIndexList selected = selection->selectedRows();
    std::sort(selected.begin(), selected.end());
    m_selectedWindowRow = selected.isEmpty() ? 0 : selected.first().row() + 1;
    return static_cast<int>(selected.size());
}

// The list shows exactly one row per page, in walking order. Rows are reused rather than
// deleted and made again, so the user's scroll position survives the twice-a-second refill.
void ScanCycle::refillWindowList(QList<BrowserPage> pages)
{
    QTreeWidget *windows = m_controls.ListView1;
    if (pages.size() > kMaxRows)
        pages.resize(kMaxRows);

    windows->clearSelection();
    const int count = static_cast<int>(pages.size());
    while (windows->topLevelItemCount() > count)
        delete windows->takeTopLevelItem(windows->topLevelItemCount() - 1);

    // A page whose name or address cannot be read keeps its row, with an empty text.
    const auto fill = [](QTreeWidgetItem *row, const BrowserPage &page) {
        row->setText(0, page.pageName.value_or(QString()));
        row->setText(1, page.address.value_or(QString()));
    };
    // A row that shows its page already is left alone: most pages do not change between ticks.
    const int reused = windows->topLevelItemCount();
    for (int r = 0; r < reused; ++r) {
        if (r >= m_shownPages.size() || m_shownPages[r] != pages[r])
            fill(windows->topLevelItem(r), pages[r]);
    }
    QList<QTreeWidgetItem *> added;
    for (int r = reused; r < count; ++r) {
        added.append(new QTreeWidgetItem);
        fill(added.last(), pages[r]);
    }
    windows->addTopLevelItems(added);
    m_shownPages = std::move(pages);
}

void ScanCycle::restoreSelection()
{
    QTreeWidget *windows = m_controls.ListView1;
    const int count = windows->topLevelItemCount();
    if (m_selectedWindowRow > count)
        m_selectedWindowRow = count;
    if (m_selectedWindowRow != 0)
        windows->topLevelItem(m_selectedWindowRow - 1)->setSelected(true);
}

void ScanCycle::closeSequence(const QString &pageName, const QString &address,
                              const WindowHandle &handle, int keywordRow)
{
    const QString keyword = m_controls.ListView3->topLevelItem(keywordRow)->text(0);

    QTreeWidget *journal = m_controls.ListView4;
    if (journal->topLevelItemCount() >= kMaxRows)
        delete journal->takeTopLevelItem(0);
    journal->addTopLevelItem(
        new QTreeWidgetItem({journalTimeText(m_clock(), m_locale), keyword, address}));

    countClosing(keyword);

    if (m_closedTotal < kMaxRows)
        ++m_closedTotal;

    m_controls.sb->setText(QStringLiteral("Fermeture: ") + pageName +
                           QStringLiteral("     (Total:") + QString::number(m_closedTotal) +
                           QStringLiteral(")"));

    if (handle.isValid())
        m_source.requestClose(handle);

    if (m_controls.Check1->checkState() == Qt::Checked)
        m_sound.playSync(m_controls.Text1->text());
}

void ScanCycle::countClosing(const QString &keyword)
{
    QTreeWidget *statistics = m_controls.ListView2;
    if (m_statisticsWatch.takeChanged()) {
        m_statisticsRows.clear();
        // From the last row up, so the first row of a repeated keyword is the one kept.
        for (int k = statistics->topLevelItemCount() - 1; k >= 0; --k)
            m_statisticsRows.insert(statistics->topLevelItem(k)->text(1), k);
    }
    const auto found = m_statisticsRows.constFind(keyword);
    if (found == m_statisticsRows.cend())
        return;
    QTreeWidgetItem *row = statistics->topLevelItem(*found);
    // A count that is not a number is left as it stands.
    if (const auto value = RecordFormat::countValue(row->text(0)))
        row->setText(0, RecordFormat::countText(*value + 1));
}
