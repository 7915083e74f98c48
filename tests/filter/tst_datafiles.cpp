#include "filter/DataFiles.h"
#include "filter/RecordFormat.h"
#include "support/ListRows.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <csignal>
#include <sys/resource.h>

using namespace DataFiles;

namespace {

// Makes writes past `bytes` fail with "file too large", as a full disk would, even for root.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }

private:
    rlimit m_old{};
};

} // namespace

class TestDataFiles : public QObject
{
    Q_OBJECT

private slots:
    void firstStartWithNoFiles();
    void keywordOrderReversesAtEachStartAndQuit();
    void missingStatisticsAreBuiltFromTheKeywords();
    void existingStatisticsFileIsLeftAlone();
    void counterTextsFollowTheNumericPrefixRule_data();
    void counterTextsFollowTheNumericPrefixRule();
    void valuesWithCommasAndQuotes();
    void handEditedAndMalformedFiles_data();
    void handEditedAndMalformedFiles();
    void bigAndBinaryFilesLoadWithinTheRowLimit();
    void windowsFilesKeepTheirAccents();
    void statisticsRowsSurviveQuitAndStart();
    void appendAddsOneRecordAtTheEnd();
    void failedSavesKeepThePreviousFileAndSaySo();
    void unreadableDataLeavesListsEmpty();
};

void TestDataFiles::firstStartWithNoFiles()
{
    QTemporaryDir dir;
    QTreeWidget keywords, statistics;
    QVERIFY(LoadKeywordFile(dir.path(), &keywords));
    QVERIFY(!QFile::exists(dir.filePath("mtrl.dll")));
    QVERIFY(EnsureStatisticsFolder(dir.path()));
    QVERIFY(QFileInfo(dir.filePath("stat")).isDir());
    QVERIFY(CreateStatisticsFile(dir.path(), &keywords));
    QVERIFY(LoadStatisticsFile(dir.path(), &statistics));
    QCOMPARE(keywords.topLevelItemCount(), 0);
    QCOMPARE(statistics.topLevelItemCount(), 0);
    QCOMPARE(readAll(dir.filePath("stat/stat.txt")), QByteArray());

    QVERIFY(SaveStatisticsFile(dir.path(), &statistics));
    QVERIFY(SaveKeywordFile(dir.path(), &keywords));
    QCOMPARE(readAll(dir.filePath("mtrl.dll")), QByteArray());
    QCOMPARE(readAll(dir.filePath("stat/stat.txt")), QByteArray());
}

void TestDataFiles::keywordOrderReversesAtEachStartAndQuit()
{
    QTemporaryDir dir;
    writeAll(dir.filePath("mtrl.dll"), "\"A\"\r\n\"B\"\r\n\"C\"\r\n");
    QTreeWidget keywords;
    QVERIFY(LoadKeywordFile(dir.path(), &keywords));
    QCOMPARE(column(keywords, 0), (QStringList{"C", "B", "A"}));

    // A keyword added during the run sits at the end and comes first after the next start.
    keywords.addTopLevelItem(new QTreeWidgetItem(QStringList{"D"}));
    QVERIFY(SaveKeywordFile(dir.path(), &keywords));
    QCOMPARE(readAll(dir.filePath("mtrl.dll")), QByteArray("\"C\"\r\n\"B\"\r\n\"A\"\r\n\"D\"\r\n"));
    QTreeWidget next;
    QVERIFY(LoadKeywordFile(dir.path(), &next));
    QCOMPARE(column(next, 0), (QStringList{"D", "A", "B", "C"}));
}

void TestDataFiles::missingStatisticsAreBuiltFromTheKeywords()
{
    QTemporaryDir dir;
    writeAll(dir.filePath("mtrl.dll"), "\"A\"\r\n\"B\"\r\n\"C\"\r\n");
    QTreeWidget keywords, statistics;
    QVERIFY(LoadKeywordFile(dir.path(), &keywords));
    QVERIFY(EnsureStatisticsFolder(dir.path()));
    QVERIFY(CreateStatisticsFile(dir.path(), &keywords));
    QCOMPARE(readAll(dir.filePath("stat/stat.txt")),
             QByteArray("\"C\",\"0\"\r\n\"B\",\"0\"\r\n\"A\",\"0\"\r\n"));
    QVERIFY(LoadStatisticsFile(dir.path(), &statistics));
    QCOMPARE(column(statistics, 0), (QStringList{"0", "0", "0"}));
    QCOMPARE(column(statistics, 1), (QStringList{"C", "B", "A"}));
}

void TestDataFiles::existingStatisticsFileIsLeftAlone()
{
    QTemporaryDir dir;
    writeAll(dir.filePath("stat/stat.txt"), "anything at all");
    QTreeWidget keywords;
    setRows(keywords, {{"pub"}});
    QVERIFY(EnsureStatisticsFolder(dir.path()));
    QVERIFY(CreateStatisticsFile(dir.path(), &keywords));
    QCOMPARE(readAll(dir.filePath("stat/stat.txt")), QByteArray("anything at all"));
}

void TestDataFiles::counterTextsFollowTheNumericPrefixRule_data()
{
    QTest::addColumn<QByteArray>("counter");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QByteArray("12") << "12";
    QTest::newRow("empty") << QByteArray("") << "0";
    QTest::newRow("word") << QByteArray("abc") << "0";
    QTest::newRow("letter first") << QByteArray("x5") << "0";
    QTest::newRow("leading blanks") << QByteArray("   5") << "5";
    QTest::newRow("trailing word") << QByteArray("5 fois") << "5";
    QTest::newRow("blanks inside") << QByteArray("1 2\t3") << "123";
    QTest::newRow("leading zeros") << QByteArray("007") << "7";
    QTest::newRow("decimal") << QByteArray("2.50x") << "2.5";
    QTest::newRow("exponent") << QByteArray("1e3") << "1000";
    QTest::newRow("dangling exponent") << QByteArray("4e") << "4";
    QTest::newRow("sign") << QByteArray("-3") << "-3";
    QTest::newRow("lone point") << QByteArray(".") << "0";
    QTest::newRow("overflow") << QByteArray("1e999") << "0";
    QTest::newRow("big count") << QByteArray("40000") << "40000";
}

void TestDataFiles::counterTextsFollowTheNumericPrefixRule()
{
    QFETCH(QByteArray, counter);
    QFETCH(QString, shown);
    QTemporaryDir dir;
    writeAll(dir.filePath("stat/stat.txt"), "\"pub\",\"" + counter + "\"\r\n");
    QTreeWidget statistics;
    QVERIFY(LoadStatisticsFile(dir.path(), &statistics));
    QCOMPARE(column(statistics, 0), QStringList{shown});
    QCOMPARE(column(statistics, 1), QStringList{"pub"});
}

void TestDataFiles::valuesWithCommasAndQuotes()
{
    QTemporaryDir dir;
    QTreeWidget keywords;
    setRows(keywords, {{"a,b"}, {"say \"hi\""}});
    QVERIFY(SaveKeywordFile(dir.path(), &keywords));
    QTreeWidget next;
    QVERIFY(LoadKeywordFile(dir.path(), &next));
    // Nothing is escaped: the comma survives, the quoted keyword falls apart.
    QCOMPARE(next.topLevelItem(1)->text(0), QString("a,b"));
    QVERIFY(!column(next, 0).contains("say \"hi\""));

    writeAll(dir.filePath("mtrl.dll"), "\"one\",\"two\"\r\n");
    QTreeWidget two;
    QVERIFY(LoadKeywordFile(dir.path(), &two));
    QCOMPARE(column(two, 0), (QStringList{"two", "one"}));
}

void TestDataFiles::handEditedAndMalformedFiles_data()
{
    QTest::addColumn<QByteArray>("keywordFile");
    QTest::addColumn<QStringList>("keywords");
    QTest::addColumn<QByteArray>("statisticsFile");
    QTest::addColumn<QStringList>("counts");
    QTest::addColumn<QStringList>("statKeywords");

    QTest::newRow("blank lines") << QByteArray("\r\n\"a\"\r\n  \r\n\r\n\"b\"\r\n\r\n")
                                 << QStringList{"b", "a"}
                                 << QByteArray("\r\n\"a\",\"1\"\r\n\r\n\"b\",\"2\"\r\n \r\n")
                                 << QStringList{"1", "2"} << QStringList{"a", "b"};
    QTest::newRow("unquoted and blanks")
        << QByteArray("  pub  \r\nads\n") << QStringList{"ads", "pub  "}
        << QByteArray("pub,3\r\n  ads , 4 \r\n") << QStringList{"3", "4"}
        << QStringList{"pub", "ads "};
    QTest::newRow("unterminated quote")
        << QByteArray("\"a\"\r\n\"never closed\r\nstill")
        << QStringList{"never closed\r\nstill", "a"} << QByteArray("\"a\",\"1\"\r\n\"b\",\"2")
        << QStringList{"1", "2"} << QStringList{"a", "b"};
    QTest::newRow("missing last field")
        << QByteArray("\"a\"") << QStringList{"a"} << QByteArray("\"a\",\"5\"\r\n\"b\"\r\n")
        << QStringList{"5", "0"} << QStringList{"a", "b"};
    QTest::newRow("CR-only lines") << QByteArray("\"a\"\r\"b\"\r") << QStringList{"b", "a"}
                                   << QByteArray("\"a\",\"1\"\r\"b\",\"2\"\r")
                                   << QStringList{"1", "2"} << QStringList{"a", "b"};
    QTest::newRow("text after closing quote")
        << QByteArray("\"a\"junk\r\n\"b\"\r\n") << QStringList{"b", "a"}
        << QByteArray("\"a\"x,\"1\"y\r\n") << QStringList{"1"} << QStringList{"a"};
    QTest::newRow("utf-8 byte-order mark")
        << QByteArray("\xEF\xBB\xBF\"été\"\r\n") << QStringList{"été"}
        << QByteArray("\xEF\xBB\xBF\"été\",\"2\"\r\n") << QStringList{"2"} << QStringList{"été"};
}

void TestDataFiles::handEditedAndMalformedFiles()
{
    QFETCH(QByteArray, keywordFile);
    QFETCH(QStringList, keywords);
    QFETCH(QByteArray, statisticsFile);
    QFETCH(QStringList, counts);
    QFETCH(QStringList, statKeywords);
    QTemporaryDir dir;
    writeAll(dir.filePath("mtrl.dll"), keywordFile);
    writeAll(dir.filePath("stat/stat.txt"), statisticsFile);
    QTreeWidget keywordList, statistics;
    QVERIFY(LoadKeywordFile(dir.path(), &keywordList));
    QVERIFY(LoadStatisticsFile(dir.path(), &statistics));
    QCOMPARE(column(keywordList, 0), keywords);
    QCOMPARE(column(statistics, 0), counts);
    QCOMPARE(column(statistics, 1), statKeywords);
}

void TestDataFiles::bigAndBinaryFilesLoadWithinTheRowLimit()
{
    QTemporaryDir dir;
    QByteArray big;
    for (int i = 0; big.size() < 5 * 1024 * 1024; ++i)
        big += "\"keyword number " + QByteArray::number(i) + "\",\"" + QByteArray::number(i) +
               "\"\r\n";
    writeAll(dir.filePath("mtrl.dll"), big);
    writeAll(dir.filePath("stat/stat.txt"), big);
    QTreeWidget keywords, statistics;
    QVERIFY(LoadKeywordFile(dir.path(), &keywords));
    QVERIFY(LoadStatisticsFile(dir.path(), &statistics));
    QCOMPARE(keywords.topLevelItemCount(), kMaxRows);
    QCOMPARE(statistics.topLevelItemCount(), kMaxRows);
    // Each record of this file is two values, so the keyword list takes them one by one.
    QCOMPARE(keywords.topLevelItem(kMaxRows - 1)->text(0), QString("keyword number 0"));
    QCOMPARE(statistics.topLevelItem(kMaxRows - 1)->text(1),
             QString("keyword number %1").arg(kMaxRows - 1));

    QByteArray garbage(64 * 1024, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 7919 + 13) % 256);
    writeAll(dir.filePath("mtrl.dll"), garbage);
    writeAll(dir.filePath("stat/stat.txt"), garbage);
    QTreeWidget junkKeywords, junkStatistics;
    QVERIFY(LoadKeywordFile(dir.path(), &junkKeywords));
    QVERIFY(LoadStatisticsFile(dir.path(), &junkStatistics));
    QVERIFY(junkKeywords.topLevelItemCount() > 0);
    // Whatever was read writes out and reads back the same, but for values holding a quote,
    // which the format cannot carry.
    QVERIFY(SaveStatisticsFile(dir.path(), &junkStatistics));
    QTreeWidget again;
    QVERIFY(LoadStatisticsFile(dir.path(), &again));
    QCOMPARE(again.topLevelItemCount(), junkStatistics.topLevelItemCount());
    QCOMPARE(column(again, 0), column(junkStatistics, 0));
    for (int r = 0; r < again.topLevelItemCount(); ++r) {
        const QString keyword = junkStatistics.topLevelItem(r)->text(1);
        if (!keyword.contains(u'"'))
            QCOMPARE(again.topLevelItem(r)->text(1), keyword);
    }
}

void TestDataFiles::windowsFilesKeepTheirAccents()
{
    QTemporaryDir dir;
    // "café", "naïve" and "€uro" in Windows-1252.
    writeAll(dir.filePath("mtrl.dll"), "\"caf\xE9\"\r\n\"na\xEFve\"\r\n\"\x80uro\"\r\n");
    QTreeWidget keywords;
    QVERIFY(LoadKeywordFile(dir.path(), &keywords));
    QCOMPARE(column(keywords, 0), (QStringList{"€uro", "naïve", "café"}));
    QVERIFY(SaveKeywordFile(dir.path(), &keywords));
    QCOMPARE(readAll(dir.filePath("mtrl.dll")),
             QString("\"€uro\"\r\n\"naïve\"\r\n\"café\"\r\n").toUtf8());
}

void TestDataFiles::statisticsRowsSurviveQuitAndStart()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("stat"));
    QTreeWidget statistics;
    setRows(statistics, {{"3", "pub"}, {"10", "gone from the keywords"}, {"0", "pub"}});
    QVERIFY(SaveStatisticsFile(dir.path(), &statistics));
    QCOMPARE(readAll(dir.filePath("stat/stat.txt")),
             QByteArray("\"pub\",\"3\"\r\n\"gone from the keywords\",\"10\"\r\n\"pub\",\"0\"\r\n"));
    QTreeWidget next;
    QVERIFY(LoadStatisticsFile(dir.path(), &next));
    QCOMPARE(column(next, 0), (QStringList{"3", "10", "0"}));
    QCOMPARE(column(next, 1), (QStringList{"pub", "gone from the keywords", "pub"}));
}

void TestDataFiles::appendAddsOneRecordAtTheEnd()
{
    QTemporaryDir dir;
    QVERIFY(EnsureStatisticsFolder(dir.path()));
    QVERIFY(AppendStatisticsRecord(dir.path(), "new"));
    QCOMPARE(readAll(dir.filePath("stat/stat.txt")), QByteArray("\"new\",\"0\"\r\n"));
    QVERIFY(AppendStatisticsRecord(dir.path(), "été"));
    QCOMPARE(readAll(dir.filePath("stat/stat.txt")),
             QString("\"new\",\"0\"\r\n\"été\",\"0\"\r\n").toUtf8());

    // A hand-edited file without a final line break keeps its last record.
    writeAll(dir.filePath("stat/stat.txt"), "\"old\",\"4\"");
    QVERIFY(AppendStatisticsRecord(dir.path(), "new"));
    QTreeWidget statistics;
    QVERIFY(LoadStatisticsFile(dir.path(), &statistics));
    QCOMPARE(column(statistics, 1), (QStringList{"old", "new"}));
    QCOMPARE(column(statistics, 0), (QStringList{"4", "0"}));
}

void TestDataFiles::failedSavesKeepThePreviousFileAndSaySo()
{
    QTemporaryDir dir;
    QVERIFY(EnsureStatisticsFolder(dir.path()));
    const QByteArray oldKeywords = "\"kept\"\r\n";
    const QByteArray oldStatistics = "\"kept\",\"7\"\r\n";
    writeAll(dir.filePath("mtrl.dll"), oldKeywords);
    writeAll(dir.filePath("stat/stat.txt"), oldStatistics);

    QTreeWidget keywords, statistics;
    for (int i = 0; i < 2000; ++i) {
        keywords.addTopLevelItem(new QTreeWidgetItem(QStringList{QString("keyword %1").arg(i)}));
        statistics.addTopLevelItem(
            new QTreeWidgetItem(QStringList{"1", QString("keyword %1").arg(i)}));
    }
    {
        const FileSizeLimit fullDisk(1024);
        Failure failure;
        QVERIFY(!SaveKeywordFile(dir.path(), &keywords, &failure));
        QVERIFY(failure.message.contains("mtrl.dll"));
        QVERIFY(!SaveStatisticsFile(dir.path(), &statistics, &failure));
        QVERIFY(failure.message.contains("stat.txt"));
        QCOMPARE(failure.path, statisticsFilePath(dir.path()));
    }
    QCOMPARE(readAll(dir.filePath("mtrl.dll")), oldKeywords);
    QCOMPARE(readAll(dir.filePath("stat/stat.txt")), oldStatistics);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"mtrl.dll"});

    // A file that falls short by a few bytes, within what a write buffer would hold.
    QTreeWidget few;
    setRows(few, {{"one keyword"}, {"another keyword"}, {"a third keyword"}});
    {
        const FileSizeLimit nearlyFull(40);
        QVERIFY(!SaveKeywordFile(dir.path(), &few));
    }
    QCOMPARE(readAll(dir.filePath("mtrl.dll")), oldKeywords);

    // A folder that is gone cannot take the file either.
    Failure failure;
    QVERIFY(!SaveKeywordFile(dir.filePath("no such folder"), &keywords, &failure));
    QVERIFY(!failure.message.isEmpty());
}

void TestDataFiles::unreadableDataLeavesListsEmpty()
{
    QTemporaryDir dir;
    // A file where the statistics folder should be: it cannot be created.
    writeAll(dir.filePath("stat"), "not a folder");
    Failure failure;
    QVERIFY(!EnsureStatisticsFolder(dir.path(), &failure));
    QVERIFY(failure.message.contains("stat"));
    QTreeWidget keywords, statistics;
    QVERIFY(!LoadStatisticsFile(dir.path(), &statistics));
    QCOMPARE(statistics.topLevelItemCount(), 0);

    // A folder where the keyword file should be reads as no keyword file at all.
    QVERIFY(QDir(dir.path()).mkdir("mtrl.dll"));
    QVERIFY(LoadKeywordFile(dir.path(), &keywords));
    QCOMPARE(keywords.topLevelItemCount(), 0);
}

QTEST_MAIN(TestDataFiles)
#include "tst_datafiles.moc"
