#include "filter/ScanCycle.h"
#include "support/ListRows.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedBrowserSource.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

namespace {

// The lists and option controls of a window, as the scan sees them, with a scripted source.
struct Bench
{
    QTreeWidget ListView1, ListView2, ListView3, ListView4;
    QLabel sb;
    QCheckBox Check1;
    QLineEdit Text1{QStringLiteral("/sounds/close.wav")};
    ScriptedBrowserSource source;
    RecordingSoundPlayer sound;
    ScanCycle scan{{&ListView1, &ListView2, &ListView3, &ListView4, &sb, &Check1, &Text1},
                   source,
                   sound,
                   [] { return QTime(14, 5, 9); },
                   QLocale(QLocale::French, QLocale::France)};

    Bench()
    {
        ListView1.setColumnCount(2);
        ListView2.setColumnCount(2);
        ListView4.setColumnCount(3);
        Check1.setCheckState(Qt::Checked);
    }
    void keywords(const QStringList &words)
    {
        ListView3.clear();
        for (const QString &word : words)
            ListView3.addTopLevelItem(new QTreeWidgetItem(QStringList{word}));
    }
    void statistics(const QList<QStringList> &rows)
    {
        ListView2.clear();
        for (const QStringList &row : rows)
            ListView2.addTopLevelItem(new QTreeWidgetItem(row));
    }
    QList<QStringList> journal() const
    {
        QList<QStringList> rows;
        for (int r = 0; r < ListView4.topLevelItemCount(); ++r) {
            const QTreeWidgetItem *row = ListView4.topLevelItem(r);
            rows.append({row->text(0), row->text(1), row->text(2)});
        }
        return rows;
    }
    int selectedRow() const
    {
        const auto selected = ListView1.selectedItems();
        return selected.isEmpty() ? 0 : ListView1.indexOfTopLevelItem(selected.first()) + 1;
    }
};

} // namespace

class TestScanCycle : public QObject
{
    Q_OBJECT

private slots:
    void matchingIgnoresCaseOnNameAndAddress_data();
    void matchingIgnoresCaseOnNameAndAddress();
    void everyKeywordIsTriedOnEveryWindow();
    void closeGoesToTheMatchedWindowNotItsNamesake();
    void unreadablePagesKeepTheirRowsAndVanishedWindowsAreHarmless();
    void noKeywordsOrNoMatchOnlyRefreshesTheList();
    void countsGrowAsDecimalText();
    void soundPlaysOnlyWhenTheBoxIsTicked();
    void selectionFollowsTheRowNumber();
    void totalStopsAndJournalKeepsItsNewestRows();
    void windowListStopsAtItsRowLimit();
    void windowThatIgnoresItsCloseIsMatchedAgain();
    void editsOfEitherListTakeEffectAtTheNextTick();
};

void TestScanCycle::matchingIgnoresCaseOnNameAndAddress_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("matches");
    QTest::newRow("in name only") << "casino"
                                  << "Best Casino Online"
                                  << "http://a.example/" << true;
    QTest::newRow("upper keyword, lower address") << "PUB"
                                                  << "Home"
                                                  << "http://pub.example/" << true;
    QTest::newRow("lower keyword, upper name") << "pub"
                                               << "PUB"
                                               << "" << true;
    QTest::newRow("accented letters") << "ÉTÉ"
                                      << "Soldes d'été"
                                      << "" << true;
    QTest::newRow("not present") << "pub"
                                 << "News"
                                 << "http://news.example/" << false;
    QTest::newRow("no trimming") << " pub"
                                 << "pub"
                                 << "http://pub.example/" << false;
    QTest::newRow("no pattern") << "p*b"
                                << "pub"
                                << "" << false;
    QTest::newRow("empty keyword, some text") << ""
                                              << ""
                                              << "about:blank" << true;
    QTest::newRow("empty keyword, no text") << ""
                                            << ""
                                            << "" << false;
}

void TestScanCycle::matchingIgnoresCaseOnNameAndAddress()
{
    QFETCH(QString, keyword);
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(bool, matches);
    Bench b;
    b.keywords({keyword});
    b.statistics({{"0", keyword}});
    b.source.addPage(name, address, "w1");
    b.scan.tick();
    QCOMPARE(b.ListView1.topLevelItemCount(), 1);
    QCOMPARE(b.source.m_closed, matches ? QList<QByteArray>{"w1"} : QList<QByteArray>{});
    const QList<QStringList> expected = {{"14:05:09", keyword, address}};
    QCOMPARE(b.journal(), matches ? expected : QList<QStringList>());
    QCOMPARE(b.ListView2.topLevelItem(0)->text(0), QString(matches ? "1" : "0"));
    QCOMPARE(b.sb.text(), matches ? "Fermeture: " + name + "     (Total:1)" : QString());
}

void TestScanCycle::everyKeywordIsTriedOnEveryWindow()
{
    Bench b;
    b.keywords({"casino", "news", "POKER"});
    b.statistics({{"0", "casino"}, {"4", "POKER"}});
    b.source.addPage("Daily news", "http://news.example/", "w1");
    b.source.addPage("Casino & poker", "http://casino.example/poker", "w2");
    b.scan.tick();

    QCOMPARE(b.journal(),
             (QList<QStringList>{{"14:05:09", "news", "http://news.example/"},
                                 {"14:05:09", "casino", "http://casino.example/poker"},
                                 {"14:05:09", "POKER", "http://casino.example/poker"}}));
    QCOMPARE(b.source.m_closed, (QList<QByteArray>{"w1", "w2", "w2"}));
    QCOMPARE(column(b.ListView2, 0), (QStringList{"1", "5"}));
    QCOMPARE(b.scan.ClosedTotal(), 3);
    QCOMPARE(b.sound.m_played, QStringList(3, "/sounds/close.wav"));
    QCOMPARE(b.sb.text(), QString("Fermeture: Casino & poker     (Total:3)"));
}

void TestScanCycle::closeGoesToTheMatchedWindowNotItsNamesake()
{
    Bench b;
    b.keywords({"tracker"});
    b.source.addPage("Same title", "http://innocent.example/", "first");
    b.source.addPage("Same title", "http://tracker.example/", "second");
    b.scan.tick();
    QCOMPARE(b.source.m_closed, QList<QByteArray>{"second"});
    QCOMPARE(b.journal().value(0).value(2), QString("http://tracker.example/"));
}

void TestScanCycle::unreadablePagesKeepTheirRowsAndVanishedWindowsAreHarmless()
{
    Bench b;
    b.keywords({"ads"});
    b.source.addPage(std::nullopt, "http://ads.example/", "no-name");
    b.source.addPage("Ads page", std::nullopt, "no-address");
    b.source.addPage("Last", "http://last.example/", "last");
    b.scan.tick();
    QCOMPARE(column(b.ListView1, 0), (QStringList{"", "Ads page", "Last"}));
    QCOMPARE(column(b.ListView1, 1),
             (QStringList{"http://ads.example/", "", "http://last.example/"}));
    QCOMPARE(b.source.m_closed, (QList<QByteArray>{"no-name", "no-address"}));
    QCOMPARE(b.sb.text(), QString("Fermeture: Ads page     (Total:2)"));

    // The windows close; the next tick lists what is left and touches nothing else.
    b.source.clear();
    b.scan.tick();
    QCOMPARE(b.ListView1.topLevelItemCount(), 0);
    QCOMPARE(b.journal().size(), 2);
}

void TestScanCycle::noKeywordsOrNoMatchOnlyRefreshesTheList()
{
    Bench b;
    b.statistics({{"2", "pub"}});
    b.source.addPage("One", "http://one.example/", "1");
    b.scan.tick();
    QCOMPARE(column(b.ListView1, 0), QStringList{"One"});
    b.source.addPage("Two", "http://two.example/", "2");
    b.keywords({"nothing here"});
    b.scan.tick();
    QCOMPARE(column(b.ListView1, 0), (QStringList{"One", "Two"}));
    QVERIFY(b.source.m_closed.isEmpty());
    QVERIFY(b.journal().isEmpty());
    QVERIFY(b.sound.m_played.isEmpty());
    QVERIFY(b.sb.text().isEmpty());
    QCOMPARE(column(b.ListView2, 0), QStringList{"2"});
    QCOMPARE(b.scan.ClosedTotal(), 0);
}

void TestScanCycle::countsGrowAsDecimalText()
{
    Bench b;
    b.keywords({"pub", "Pub", "spam", "absent"});
    // Counts are found by exact keyword; only the first row of a keyword counts.
    b.statistics({{"9", "pub"}, {"99999", "Pub"}, {"n/a", "spam"}, {"5", "pub"}});
    b.source.addPage("pub spam", "", "w");
    b.scan.tick();
    QCOMPARE(column(b.ListView2, 0), (QStringList{"10", "100000", "n/a", "5"}));
    // No statistics row for "absent", yet the closing is journaled, totalled and announced.
    QCOMPARE(b.scan.ClosedTotal(), 3);
    QCOMPARE(b.journal().size(), 3);
}

void TestScanCycle::soundPlaysOnlyWhenTheBoxIsTicked()
{
    Bench b;
    b.keywords({"pub"});
    b.source.addPage("pub", "", "w");
    for (const Qt::CheckState state : {Qt::Unchecked, Qt::PartiallyChecked}) {
        b.Check1.setCheckState(state);
        b.scan.tick();
    }
    QVERIFY(b.sound.m_played.isEmpty());
    b.Check1.setCheckState(Qt::Checked);
    b.Text1.setText(QString());
    b.scan.tick();
    QCOMPARE(b.sound.m_played, QStringList{QString()});
    QCOMPARE(b.scan.ClosedTotal(), 3);
}

void TestScanCycle::selectionFollowsTheRowNumber()
{
    Bench b;
    for (int i = 1; i <= 5; ++i)
        b.source.addPage(QString("Page %1").arg(i), "", QByteArray::number(i));
    b.scan.tick();
    QCOMPARE(b.selectedRow(), 0);
    b.scan.tick();
    QCOMPARE(b.selectedRow(), 0);

    b.ListView1.topLevelItem(2)->setSelected(true);
    b.source.removePage("2");
    b.scan.tick();
    QCOMPARE(b.scan.SelectedWindowRow(), 3);
    QCOMPARE(b.selectedRow(), 3);
    QCOMPARE(b.ListView1.topLevelItem(2)->text(0), QString("Page 4"));

    b.source.removePage("1");
    b.source.removePage("3");
    b.scan.tick();
    QCOMPARE(b.selectedRow(), 2);

    // With nothing listed the remembered row waits for the list to fill again.
    b.source.clear();
    b.scan.tick();
    QCOMPARE(b.selectedRow(), 0);
    b.source.addPage("Back", "", "b");
    b.scan.tick();
    QCOMPARE(b.selectedRow(), 0);
}

void TestScanCycle::totalStopsAndJournalKeepsItsNewestRows()
{
    Bench b;
    b.Check1.setCheckState(Qt::Unchecked);
    QStringList words;
    for (int k = 0; k < 100; ++k)
        words.append(QString("kw%1-").arg(k, 3, 10, QChar('0')));
    b.keywords(words);
    for (int w = 0; w < 100; ++w)
        b.source.addPage(words.join(' ') + QString::number(w), QString("http://%1/").arg(w),
                         QByteArray::number(w));
    for (int t = 0; t < 4; ++t)
        b.scan.tick();
    // 40,000 matches: the total stays at 32,767 and the journal keeps the last 32,767 rows.
    QCOMPARE(b.scan.ClosedTotal(), 32767);
    QVERIFY(b.sb.text().endsWith("     (Total:32767)"));
    QCOMPARE(b.ListView4.topLevelItemCount(), 32767);
    const QTreeWidgetItem *newest = b.ListView4.topLevelItem(32766);
    QCOMPARE(newest->text(1), QString("kw099-"));
    QCOMPARE(newest->text(2), QString("http://99/"));
    const QTreeWidgetItem *oldest = b.ListView4.topLevelItem(0);
    QCOMPARE(oldest->text(1), QString("kw%1-").arg((40000 - 32767) % 100, 3, 10, QChar('0')));
}

void TestScanCycle::windowListStopsAtItsRowLimit()
{
    Bench b;
    for (int w = 0; w < 32800; ++w)
        b.source.addPage(QString::number(w), "", QByteArray::number(w));
    b.scan.tick();
    QCOMPARE(b.ListView1.topLevelItemCount(), 32767);
    QCOMPARE(b.ListView1.topLevelItem(32766)->text(0), QString("32766"));
}

void TestScanCycle::windowThatIgnoresItsCloseIsMatchedAgain()
{
    Bench b;
    b.keywords({"sticky"});
    b.statistics({{"0", "sticky"}});
    b.source.addPage("Sticky page", "", "w");
    b.scan.tick();
    b.scan.tick();
    b.scan.tick();
    QCOMPARE(b.source.m_closed.size(), 3);
    QCOMPARE(b.journal().size(), 3);
    QCOMPARE(column(b.ListView2, 0), QStringList{"3"});
    QCOMPARE(b.sound.m_played.size(), 3);
}

void TestScanCycle::editsOfEitherListTakeEffectAtTheNextTick()
{
    Bench b;
    b.Check1.setCheckState(Qt::Unchecked);
    b.keywords({"casino", "poker"});
    b.statistics({{"0", "casino"}, {"0", "poker"}, {"0", "loto"}});
    b.source.addPage("Loto du jour", "http://loto.example/", "w");
    b.scan.tick();
    QVERIFY(b.journal().isEmpty());

    // Each kind of edit, between two ticks: a keyword changed, added, sorted, removed.
    b.ListView3.topLevelItem(1)->setText(0, "LOTO");
    b.scan.tick();
    b.ListView3.addTopLevelItem(new QTreeWidgetItem(QStringList{"jour"}));
    b.scan.tick();
    b.ListView3.sortItems(0, Qt::DescendingOrder);
    b.scan.tick();
    delete b.ListView3.takeTopLevelItem(0);
    b.scan.tick();
    QCOMPARE(b.journal(), (QList<QStringList>{{"14:05:09", "LOTO", "http://loto.example/"},
                                              {"14:05:09", "LOTO", "http://loto.example/"},
                                              {"14:05:09", "jour", "http://loto.example/"},
                                              {"14:05:09", "jour", "http://loto.example/"},
                                              {"14:05:09", "LOTO", "http://loto.example/"},
                                              {"14:05:09", "LOTO", "http://loto.example/"}}));

    // The statistics rows are found again after their list changes: a row renamed, a row
    // inserted in front, the whole list reloaded.
    b.ListView2.topLevelItem(0)->setText(1, "LOTO");
    b.scan.tick();
    b.ListView2.insertTopLevelItem(0, new QTreeWidgetItem(QStringList{"7", "autre"}));
    b.scan.tick();
    QCOMPARE(column(b.ListView2, 0), (QStringList{"7", "2", "0", "0"}));
    b.statistics({{"2", "poker"}, {"5", "LOTO"}});
    b.scan.tick();
    QCOMPARE(column(b.ListView2, 0), (QStringList{"2", "6"}));
    b.ListView3.clear();
    b.scan.tick();
    QCOMPARE(b.scan.ClosedTotal(), 9);
}

QTEST_MAIN(TestScanCycle)
#include "tst_scancycle.moc"
