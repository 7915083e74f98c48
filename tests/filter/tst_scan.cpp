#include "LiteralScanCycle.h"
#include "support/ScanRig.h"

#include <QRandomGenerator>
#include <QTest>

// The scan against the literal reference, which lower-cases and tests every (page, keyword) pair.

namespace {

// Letters whose lower case is another, or two (U+0130), or shared by several capitals (K and the
// Kelvin sign), letters beyond the Basic Multilingual Plane, and words that overlap.
const QStringList kPieces = {"a", "b", "ab", "A",   "B",   "é",  "É",      "ß",  "ẞ", "İ",
                             "i", "I", "ı",  "Σ",   "σ",   "ς",  "\u212A", "k",  "𐐀", "𐐨",
                             " ", "-", ".",  "pub", "PUB", "Pu", "ubi",    "aba"};

struct Random : QRandomGenerator
{
    using QRandomGenerator::QRandomGenerator;
    int below(qsizetype bound)
    {
        return bound <= 0 ? 0 : static_cast<int>(bounded(static_cast<int>(bound)));
    }
    bool chance(int percent) { return below(100) < percent; }
    QString text(int maxPieces)
    {
        QString text;
        for (int n = below(maxPieces + 1); n > 0; --n)
            text += kPieces[below(kPieces.size())];
        return text;
    }
    int row(const QTreeWidget &list) { return below(list.topLevelItemCount()); }
    QString count() { return QStringList{"0", "9", "41", "n/a", ""}[below(5)]; }
};

// Up to eight pages, some sharing a name, some whose name or address cannot be read.
void randomPages(quint32 seed, ScriptedBrowserSource &source)
{
    Random random(seed);
    source.clear();
    for (int w = random.below(9) - 1; w >= 0; --w) {
        std::optional<QString> name = random.text(8);
        std::optional<QString> address = random.text(8);
        if (random.chance(10))
            name.reset();
        if (random.chance(10))
            address.reset();
        if (!source.m_pages.isEmpty() && random.chance(15))
            name = source.m_pages.last().pageName;
        source.addPage(name, address, QByteArray::number(w));
    }
}

// A keyword: random pieces (sometimes none), a piece of a page text in another case, or a
// keyword already in the list.
QString keyword(Random &random, const ScanRig &side)
{
    const QList<BrowserPage> &pages = side.source.m_pages;
    const int kind = random.below(4);
    if (kind == 0 && side.ListView3.topLevelItemCount() > 0)
        return side.ListView3.topLevelItem(random.row(side.ListView3))->text(0);
    if (kind == 1 && !pages.isEmpty()) {
        const BrowserPage &page = pages[random.below(pages.size())];
        const QString text = (random.chance(50) ? page.pageName : page.address).value_or("");
        const QString piece = text.mid(random.below(text.size()), 1 + random.below(6));
        return random.chance(50) ? piece.toUpper() : piece;
    }
    return random.text(3);
}

// The edits of the lists, pages, sound box and selection made between two ticks. Each side draws
// from a generator of its own with the same seed, so both make the same edit.
const QList<std::function<void(ScanRig &, Random &)>> kEdits = {
    [](ScanRig &s, Random &r) {
        s.ListView3.addTopLevelItem(new QTreeWidgetItem({keyword(r, s)}));
    },
    [](ScanRig &s, Random &r) {
        s.ListView2.addTopLevelItem(new QTreeWidgetItem({r.count(), keyword(r, s)}));
    },
    [](ScanRig &s, Random &r) {
        s.ListView3.insertTopLevelItem(r.row(s.ListView3), new QTreeWidgetItem({keyword(r, s)}));
    },
    [](ScanRig &s, Random &r) { delete s.ListView3.takeTopLevelItem(r.row(s.ListView3)); },
    [](ScanRig &s, Random &r) {
        if (QTreeWidgetItem *row = s.ListView3.topLevelItem(r.row(s.ListView3)))
            row->setText(0, keyword(r, s));
    },
    [](ScanRig &s, Random &r) { delete s.ListView2.takeTopLevelItem(r.row(s.ListView2)); },
    [](ScanRig &s, Random &r) { randomPages(r.generate(), s.source); },
    // The sound plays only while its box is ticked, not while it is unticked or partly ticked.
    [](ScanRig &s, Random &r) { s.Check1.setCheckState(Qt::CheckState(r.below(3))); },
    [](ScanRig &s, Random &r) {
        s.ListView1.clearSelection();
        if (QTreeWidgetItem *row = s.ListView1.topLevelItem(r.row(s.ListView1)))
            row->setSelected(true);
    },
};

// The scan and the reference over two rigs. Each close sequence reads the clock once, so the
// journal's times number its rows.
struct Pair
{
    static ScanCycle::Clock counter()
    {
        return [n = 0]() mutable {
            return QTime(0, 0).addSecs(n++);
        };
    }
    ScanRig sides[2] = {ScanRig(counter()), ScanRig(counter())};
    LiteralScanCycle literal{sides[1].controls(), sides[1].source, sides[1].sound, counter()};
    void both(const std::function<void(ScanRig &)> &change)
    {
        for (ScanRig &side : sides)
            change(side);
    }
    // Ticks both, and fails the test unless they leave the same things behind.
    void tick()
    {
        sides[0].scan.tick();
        literal.tick();
        const auto outcome = [](const ScanRig &side, int total) {
            QString text;
            QDebug(&text) << rows(side.ListView4) << rows(side.ListView2) << total << side.sb.text()
                          << side.source.m_closed << side.sound.m_played << rows(side.ListView1)
                          << side.selectedRow();
            return text;
        };
        QCOMPARE(outcome(sides[0], sides[0].scan.ClosedTotal()),
                 outcome(sides[1], literal.ClosedTotal()));
    }
    // An edit of either list, the pages or the selection, or only additions to the lists.
    void edit(Random &random, bool onlyAdditions = false)
    {
        const auto &change = kEdits[random.below(onlyAdditions ? 2 : kEdits.size())];
        const quint32 seed = random.generate();
        both([&](ScanRig &side) {
            Random same(seed);
            change(side, same);
        });
    }
};

} // namespace

class TestScan : public QObject
{
    Q_OBJECT

private slots:
    void journalRowsGoByPageThenKeywordButEmptyKeywordsNeverMatch();
    void aReportedPageIsMatchedAtOnceAndOnceFromOneTickToTheNext();
    void scanAgreesWithTheLiteralReferenceOnRandomListsAndEdits();
    void scanAgreesWithTheLiteralReferenceOnAFullListPastTheCapsAndEveryCharacter();
};

void TestScan::journalRowsGoByPageThenKeywordButEmptyKeywordsNeverMatch()
{
    ScanRig rig(&QTime::currentTime);
    // A stray comma in a hand-edited file gives an empty keyword, contained in every text.
    setRows(rig.ListView3, {{"casino"}, {"PUB"}, {""}, {"home"}});
    setRows(rig.ListView2, {{"n/a", "casino"}, {"9", "PUB"}, {"0", ""}});
    rig.source.addPage("Best Casino", "http://a.example/home", "w1");
    rig.source.addPage("Home", "http://pub.example/news", "w2");
    rig.source.addPage("", "", "w3");
    rig.scan.tick();
    // By page, then by keyword row.
    QCOMPARE(column(rig.ListView4, 1), (QStringList{"casino", "home", "PUB", "home"}));
    QCOMPARE(column(rig.ListView2, 0), (QStringList{"n/a", "10", "0"}));
    QCOMPARE(rig.sb.text(), QString("Fermeture: Home     (Total:4)"));
}

void TestScan::aReportedPageIsMatchedAtOnceAndOnceFromOneTickToTheNext()
{
    ScanRig rig(&QTime::currentTime);
    setRows(rig.ListView3, {{"pub"}});
    setRows(rig.ListView2, {{"0", "pub"}});
    rig.source.addPage("Pub", "http://a.example/", "reported");
    rig.source.addPage("Quiet", "http://b.example/", "clean");
    const auto journalled = [&] {
        return rig.ListView4.topLevelItemCount();
    };
    // Matched at once with all a tick does, then left alone by its own next report and by the
    // tick that follows, while the page is still listed.
    rig.scan.pagesReported(rig.source.m_pages);
    rig.scan.pagesReported(rig.source.m_pages);
    QCOMPARE(journalled(), 1);
    QCOMPARE(rig.source.m_closed, QList<QByteArray>{"reported"});
    QCOMPARE(rig.ListView2.topLevelItem(0)->text(0), QString("1"));
    QCOMPARE(rig.sb.text(), QString("Fermeture: Pub     (Total:1)"));
    QCOMPARE(rig.sound.m_played.size(), 1);
    rig.scan.tick();
    QCOMPARE(journalled(), 1);
    // A page that stays open is matched again by the tick after, as any page is; a report
    // between that tick and the next leaves it alone; a page nobody reported is the tick's.
    rig.source.addPage("Pub two", "", "unreported");
    rig.scan.tick();
    QCOMPARE(column(rig.ListView4, 2), (QStringList{"http://a.example/", "http://a.example/", ""}));
    rig.scan.pagesReported(rig.source.m_pages);
    QCOMPARE(journalled(), 3);
    QCOMPARE(rig.scan.ClosedTotal(), 3);
}

void TestScan::scanAgreesWithTheLiteralReferenceOnRandomListsAndEdits()
{
    int trialsWithClosings = 0;
    for (quint32 seed = 1; seed <= 400; ++seed) {
        const auto context = qScopeGuard([&] {
            if (QTest::currentTestFailed())
                qInfo("seed %u", seed);
        });
        Random random(seed);
        Pair pair;
        const quint32 pageSeed = random.below(1 << 30);
        pair.both([&](ScanRig &side) { randomPages(pageSeed, side.source); });
        for (int e = random.below(20); e > 0; --e)
            pair.edit(random, true);
        for (int tick = 1; tick <= 4; ++tick) {
            pair.tick();
            if (QTest::currentTestFailed())
                return;
            for (int e = random.below(4); e > 0; --e)
                pair.edit(random);
        }
        trialsWithClosings += pair.sides[0].source.m_closed.isEmpty() ? 0 : 1;
    }
    // The comparison means something only if the random lists do match, and often.
    QVERIFY2(trialsWithClosings > 200, qPrintable(QString::number(trialsWithClosings)));
}

// A full keyword list: eight ticks close more than 32,767 pages; the total stops there and the
// journal keeps its newest 32,767 rows. Then every character of the Basic Multilingual Plane
// before a capital sigma, whose lower case depends on its neighbours where that rule applies.
void TestScan::scanAgreesWithTheLiteralReferenceOnAFullListPastTheCapsAndEveryCharacter()
{
    Random random(2007);
    QList<QStringList> keywords;
    for (int k = 0; k < kMaxRows; ++k)
        keywords.append({random.text(6)});
    QString text;
    for (char16_t unit = 1; unit < 0xFFFF; ++unit) {
        if (!QChar::isSurrogate(unit) && QString(QChar(unit)).toLower().size() == 1)
            text += QChar(unit) + QStringLiteral("Σ");
    }
    Pair pair;
    pair.both([&](ScanRig &side) {
        setRows(side.ListView3, keywords);
        randomPages(12, side.source);
    });
    for (int t = 0; t < 8; ++t)
        pair.tick();
    // The reference agrees on the status text and the journal; the total has reached the cap.
    QCOMPARE(pair.sides[0].scan.ClosedTotal(), 32767);
    pair.both([&](ScanRig &side) {
        setRows(side.ListView3, {{text}});
        side.source.clear();
        side.source.addPage(text, QString(), "every character");
    });
    pair.tick();
    QCOMPARE(pair.sides[0].source.m_closed.last(), QByteArray("every character"));
}

QTEST_MAIN(TestScan)
#include "tst_scan.moc"
