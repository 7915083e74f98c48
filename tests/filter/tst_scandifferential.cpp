#include "LiteralScanCycle.h"
#include "filter/ScanCycle.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedBrowserSource.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTest>
#include <QTreeWidget>

// The scan against the literal reference, which lower-cases and tests every (page, keyword)
// pair: both get the same lists, pages and edits, and must leave the same journal, counts,
// total, status text, close requests, sounds and open-pages list.

namespace {

// Pieces of page texts and keywords: letters whose lower case is another letter, or two
// (U+0130), or the same for several capitals (K and the Kelvin sign), letters outside the
// Basic Multilingual Plane, and short words that overlap one another.
const QStringList kPieces = {
    QStringLiteral("a"),      QStringLiteral("b"),  QStringLiteral("ab"),  QStringLiteral("A"),
    QStringLiteral("B"),      QStringLiteral("é"),  QStringLiteral("É"),   QStringLiteral("ß"),
    QStringLiteral("ẞ"),      QStringLiteral("İ"),  QStringLiteral("i"),   QStringLiteral("I"),
    QStringLiteral("ı"),      QStringLiteral("Σ"),  QStringLiteral("σ"),   QStringLiteral("ς"),
    QStringLiteral("\u212A"), QStringLiteral("k"),  QStringLiteral("𐐀"),   QStringLiteral("𐐨"),
    QStringLiteral(" "),      QStringLiteral("-"),  QStringLiteral("."),   QStringLiteral("pub"),
    QStringLiteral("PUB"),    QStringLiteral("Pu"), QStringLiteral("ubi"), QStringLiteral("aba"),
};

const QStringList kCounts = {QStringLiteral("0"), QStringLiteral("9"), QStringLiteral("41"),
                             QStringLiteral("n/a"), QString()};

class Random
{
public:
    explicit Random(quint32 seed) : m_generator(seed) {}
    int below(int bound) { return bound <= 0 ? 0 : static_cast<int>(m_generator.bounded(bound)); }
    bool chance(int percent) { return below(100) < percent; }
    QString text(int maxPieces)
    {
        QString text;
        for (int n = below(maxPieces + 1); n > 0; --n)
            text += kPieces[below(static_cast<int>(kPieces.size()))];
        return text;
    }

private:
    QRandomGenerator m_generator;
};

// The lists and option controls of one window, with the scan under test or the reference.
template <typename Scan>
struct Side
{
    QTreeWidget ListView1, ListView2, ListView3, ListView4;
    QLabel sb;
    QCheckBox Check1;
    QLineEdit Text1{QStringLiteral("/sounds/close.wav")};
    ScriptedBrowserSource source;
    RecordingSoundPlayer sound;
    int clockCalls = 0;
    // Each close sequence reads the clock once: the journal's times number its rows.
    Scan scan{{&ListView1, &ListView2, &ListView3, &ListView4, &sb, &Check1, &Text1},
              source,
              sound,
              [this] { return QTime(0, 0).addSecs(clockCalls++); },
              QLocale(QLocale::French, QLocale::France)};

    Side()
    {
        ListView1.setColumnCount(2);
        ListView2.setColumnCount(2);
        ListView4.setColumnCount(3);
        Check1.setCheckState(Qt::Checked);
    }
};

QList<QStringList> rowsOf(const QTreeWidget &list)
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

int selectedRow(const QTreeWidget &list)
{
    const auto selected = list.selectedItems();
    return selected.isEmpty() ? 0 : list.indexOfTopLevelItem(selected.first()) + 1;
}

// Runs one change on the same list of both sides.
template <typename Change>
void onBoth(Side<ScanCycle> &fast, Side<LiteralScanCycle> &literal, Change change)
{
    change(fast.ListView1, fast.ListView2, fast.ListView3, fast.source);
    change(literal.ListView1, literal.ListView2, literal.ListView3, literal.source);
}

// A keyword: random pieces (sometimes none), a piece of a page text in another case, or a
// keyword already in the list.
QString keyword(Random &random, const QList<BrowserPage> &pages, const QTreeWidget &keywords)
{
    const int kind = random.below(4);
    if (kind == 0 && keywords.topLevelItemCount() > 0)
        return keywords.topLevelItem(random.below(keywords.topLevelItemCount()))->text(0);
    if (kind == 1 && !pages.isEmpty()) {
        const BrowserPage &page = pages[random.below(static_cast<int>(pages.size()))];
        const QString text = (random.chance(50) ? page.pageName : page.address).value_or("");
        const int from = random.below(static_cast<int>(text.size()));
        const QString piece = text.mid(from, 1 + random.below(6));
        return random.chance(50) ? piece.toUpper() : piece;
    }
    return random.text(3);
}

void randomPages(Random &random, ScriptedBrowserSource &source, int count)
{
    source.clear();
    for (int w = 0; w < count; ++w) {
        std::optional<QString> name = random.text(8);
        std::optional<QString> address = random.text(8);
        if (random.chance(10))
            name.reset();
        if (random.chance(10))
            address.reset();
        // Pages that share a name.
        if (w > 0 && random.chance(15))
            name = source.m_pages.last().pageName;
        source.addPage(name, address, QByteArray::number(w));
    }
}

// One edit of the keyword list, the statistics list, the pages or the selection, as the
// commands, a reload or the user would make it.
void randomEdit(Random &random, Side<ScanCycle> &fast, Side<LiteralScanCycle> &literal)
{
    const QString text = keyword(random, fast.source.m_pages, fast.ListView3);
    const QString count = kCounts[random.below(static_cast<int>(kCounts.size()))];
    const int keywords = fast.ListView3.topLevelItemCount();
    const int statistics = fast.ListView2.topLevelItemCount();
    const int keywordRow = random.below(keywords);
    const int statisticsRow = random.below(statistics);
    const int windowRow = random.below(fast.ListView1.topLevelItemCount());
    const int what = random.below(11);
    const bool anyKeyword = keywords > 0;
    const bool anyStatistic = statistics > 0;
    const bool anyWindow = fast.ListView1.topLevelItemCount() > 0;
    const quint32 pageSeed = random.below(1 << 30);
    onBoth(fast, literal,
           [&](QTreeWidget &ListView1, QTreeWidget &ListView2, QTreeWidget &ListView3,
               ScriptedBrowserSource &source) {
               switch (what) {
               case 0:
                   ListView3.addTopLevelItem(new QTreeWidgetItem(QStringList{text}));
                   break;
               case 1:
                   ListView3.insertTopLevelItem(keywordRow, new QTreeWidgetItem(QStringList{text}));
                   break;
               case 2:
                   if (anyKeyword)
                       delete ListView3.takeTopLevelItem(keywordRow);
                   break;
               case 3:
                   if (anyKeyword)
                       ListView3.topLevelItem(keywordRow)->setText(0, text);
                   break;
               case 4:
                   ListView3.sortItems(0, Qt::AscendingOrder);
                   break;
               case 5:
                   ListView3.clear();
                   break;
               case 6:
                   ListView2.addTopLevelItem(new QTreeWidgetItem(QStringList{count, text}));
                   break;
               case 7:
                   if (anyStatistic)
                       ListView2.topLevelItem(statisticsRow)->setText(1, text);
                   break;
               case 8:
                   if (anyStatistic)
                       delete ListView2.takeTopLevelItem(statisticsRow);
                   break;
               case 9: {
                   Random pages(pageSeed);
                   randomPages(pages, source, pages.below(9));
                   break;
               }
               default:
                   ListView1.clearSelection();
                   if (anyWindow)
                       ListView1.topLevelItem(windowRow)->setSelected(true);
                   break;
               }
           });
}

// Compares everything a tick leaves behind; returns the number of closings so far.
template <typename Fast, typename Literal>
int compareOutcome(const Fast &fast, const Literal &literal, const QString &context)
{
    const auto check = [&](bool same, const char *what) {
        if (!same)
            QTest::qFail(qPrintable(QStringLiteral("%1 differ (%2)").arg(what, context)), __FILE__,
                         __LINE__);
        return same;
    };
    const bool same =
        check(rowsOf(fast.ListView4) == rowsOf(literal.ListView4), "journals") &&
        check(rowsOf(fast.ListView2) == rowsOf(literal.ListView2), "statistics") &&
        check(fast.scan.ClosedTotal() == literal.scan.ClosedTotal(), "totals") &&
        check(fast.sb.text() == literal.sb.text(), "status texts") &&
        check(fast.source.m_closed == literal.source.m_closed, "close requests") &&
        check(fast.sound.m_played == literal.sound.m_played, "sounds") &&
        check(rowsOf(fast.ListView1) == rowsOf(literal.ListView1), "page lists") &&
        check(selectedRow(fast.ListView1) == selectedRow(literal.ListView1), "selections");
    return same ? static_cast<int>(fast.source.m_closed.size()) : -1;
}

} // namespace

class TestScanDifferential : public QObject
{
    Q_OBJECT

private slots:
    void randomListsPagesAndEdits();
    void fullKeywordList();
    void everyCharacterBesideCapitalSigmas();
};

void TestScanDifferential::randomListsPagesAndEdits()
{
    int closings = 0;
    int trialsWithClosings = 0;
    for (quint32 seed = 1; seed <= 400; ++seed) {
        Random random(seed);
        Side<ScanCycle> fast;
        Side<LiteralScanCycle> literal;
        const quint32 pageSeed = random.below(1 << 30);
        onBoth(fast, literal,
               [&](QTreeWidget &, QTreeWidget &, QTreeWidget &, ScriptedBrowserSource &source) {
                   Random pages(pageSeed);
                   randomPages(pages, source, pages.below(9));
               });
        for (int k = random.below(12); k > 0; --k) {
            const QString text = keyword(random, fast.source.m_pages, fast.ListView3);
            onBoth(
                fast, literal,
                [&](QTreeWidget &, QTreeWidget &, QTreeWidget &ListView3, ScriptedBrowserSource &) {
                    ListView3.addTopLevelItem(new QTreeWidgetItem(QStringList{text}));
                });
        }
        for (int s = random.below(8); s > 0; --s) {
            const int row = random.below(fast.ListView3.topLevelItemCount());
            const QString text = fast.ListView3.topLevelItemCount() > 0 && random.chance(80)
                                     ? fast.ListView3.topLevelItem(row)->text(0)
                                     : random.text(2);
            const QString count = kCounts[random.below(static_cast<int>(kCounts.size()))];
            onBoth(
                fast, literal,
                [&](QTreeWidget &, QTreeWidget &ListView2, QTreeWidget &, ScriptedBrowserSource &) {
                    ListView2.addTopLevelItem(new QTreeWidgetItem(QStringList{count, text}));
                });
        }

        int closed = 0;
        for (int tick = 1; tick <= 4; ++tick) {
            fast.scan.tick();
            literal.scan.tick();
            closed = compareOutcome(fast, literal,
                                    QStringLiteral("seed %1, tick %2").arg(seed).arg(tick));
            if (closed < 0)
                return;
            for (int e = random.below(4); e > 0; --e)
                randomEdit(random, fast, literal);
        }
        closings += closed;
        trialsWithClosings += closed > 0 ? 1 : 0;
    }
    // The comparison means something only if the random lists do match, often and repeatedly.
    QVERIFY2(trialsWithClosings > 200, qPrintable(QString::number(trialsWithClosings)));
    QVERIFY2(closings > 2000, qPrintable(QString::number(closings)));
}

// The keyword list at its 32,767-row limit, with repeated keywords among the rows, against
// pages that hold some of them.
void TestScanDifferential::fullKeywordList()
{
    Random random(2007);
    Side<ScanCycle> fast;
    Side<LiteralScanCycle> literal;
    QList<QTreeWidgetItem *> fastRows;
    QList<QTreeWidgetItem *> literalRows;
    for (int k = 0; k < ScanCycle::kMaxRows; ++k) {
        const QString text = random.text(6);
        fastRows.append(new QTreeWidgetItem(QStringList{text}));
        literalRows.append(new QTreeWidgetItem(QStringList{text}));
    }
    fast.ListView3.addTopLevelItems(fastRows);
    literal.ListView3.addTopLevelItems(literalRows);
    randomPages(random, fast.source, 12);
    literal.source.m_pages = fast.source.m_pages;

    fast.scan.tick();
    literal.scan.tick();
    QVERIFY(compareOutcome(fast, literal, QStringLiteral("full list")) > 100);
}

// The scan lower-cases a text a character at a time unless one of them needs more; that is
// exact only if lower-casing never looks at a character's neighbours. Every character of the
// Basic Multilingual Plane, each followed by a capital sigma, whose lower case would depend on
// what stands around it where that rule is applied.
void TestScanDifferential::everyCharacterBesideCapitalSigmas()
{
    QString text;
    for (char16_t unit = 1; unit < 0xFFFF; ++unit) {
        const QChar c(unit);
        if (!c.isSurrogate() && QString(c).toLower().size() == 1)
            text += c + QStringLiteral("Σ");
    }
    Side<ScanCycle> fast;
    Side<LiteralScanCycle> literal;
    for (auto *side : {&fast.ListView3, &literal.ListView3})
        side->addTopLevelItem(new QTreeWidgetItem(QStringList{text}));
    fast.source.addPage(text, QString(), "w");
    literal.source.addPage(text, QString(), "w");
    fast.scan.tick();
    literal.scan.tick();
    QCOMPARE(compareOutcome(fast, literal, QStringLiteral("every character")), 1);
}

QTEST_MAIN(TestScanDifferential)
#include "tst_scandifferential.moc"
