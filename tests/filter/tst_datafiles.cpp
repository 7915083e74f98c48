#include "filter/DataFiles.h"
#include "filter/KeywordCommands.h"
#include "filter/RecordFormat.h"
#include "platform/AtomicFile.h"
#include "support/ListRows.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <csignal>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace DataFiles;
using RecordFormat::writeRecord;

namespace {

QByteArray keywordFile(int count, const char *prefix)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += writeRecord({QString("%1 %2").arg(prefix).arg(i)});
    return bytes;
}

bool mount(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("mount"), arguments) == 0;
}

} // namespace

class TestDataFiles : public QObject
{
    Q_OBJECT

private slots:
    void recordsBeyondTheRowCapAreKeptAtTheEndOfTheFile();
    void aSaveKilledMidwayLeavesTheOldOrTheNewFileWhole();
    void aFailedSaveKeepsTheOldFileAndNamesIt_data();
    void aFailedSaveKeepsTheOldFileAndNamesIt();

private:
    QTemporaryDir m_dir;
};

void TestDataFiles::recordsBeyondTheRowCapAreKeptAtTheEndOfTheFile()
{
    QTemporaryDir dir;
    const QByteArray keywords = keywordFile(kMaxRows + 3, "mot");
    QByteArray statistics = writeRecord({QStringLiteral("café"), QStringLiteral("3")});
    for (int i = 0; i < kMaxRows + 2; ++i)
        statistics += writeRecord({QStringLiteral("mot %1").arg(i), QString::number(i % 7)});
    // A hand-edited file may end without a line break.
    statistics.chop(2);
    writeAll(keywordFilePath(dir.path()), keywords);
    // A file made on Windows, in its code page, is read so and written back as UTF-8.
    writeAll(statisticsFilePath(dir.path()), QByteArray(statistics).replace("\xc3\xa9", "\xe9"));
    QTreeWidget keywordList, statisticsList;
    QVERIFY(LoadKeywordFile(dir.path(), &keywordList));
    QVERIFY(LoadStatisticsFile(dir.path(), &statisticsList));
    QCOMPARE(keywordList.topLevelItemCount(), kMaxRows);
    QCOMPARE(statisticsList.topLevelItemCount(), kMaxRows);
    // The user makes room for a keyword and adds one: its statistics record is appended to the
    // file, though the statistics list is full.
    delete keywordList.takeTopLevelItem(0);
    QWidget window;
    ScriptedDialogs dialogs;
    dialogs.answer(QStringLiteral("nouveau"));
    KeywordCommands(&statisticsList, &keywordList, &window, dialogs, dir.path()).add();
    QVERIFY(SaveStatisticsFile(dir.path(), &statisticsList));
    QVERIFY(SaveKeywordFile(dir.path(), &keywordList));
    QByteArray savedKeywords;
    for (int i = kMaxRows - 2; i >= 0; --i)
        savedKeywords += writeRecord({QStringLiteral("mot %1").arg(i)});
    savedKeywords += writeRecord({QStringLiteral("nouveau")});
    for (int i = kMaxRows; i < kMaxRows + 3; ++i)
        savedKeywords += writeRecord({QStringLiteral("mot %1").arg(i)});
    QCOMPARE(readAll(keywordFilePath(dir.path())), savedKeywords);
    QCOMPARE(readAll(statisticsFilePath(dir.path())), statistics + "\r\n\"nouveau\",\"0\"\r\n");
}

void TestDataFiles::aSaveKilledMidwayLeavesTheOldOrTheNewFileWhole()
{
    const QString path = keywordFilePath(m_dir.path());
    const QByteArray versions[2] = {keywordFile(5000, "first"), keywordFile(5001, "second")};
    writeBytes(path, versions[0]);
    for (int round = 0; round < 10; ++round) {
        int saved[2];
        QVERIFY(::pipe(saved) == 0);
        const pid_t saver = fork();
        QVERIFY(saver >= 0);
        if (saver == 0) {
            // Saves the two versions in turn until killed, and says when the first save is done.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (int n = round;; ++n) {
                if (writeAtomically(path, versions[n % 2]) && n == round) [[maybe_unused]]
                    const auto done = ::write(saved[1], "s", 1);
            }
        }
        ::close(saved[1]);
        // Killed once it has saved at least once, at whatever point it has reached since.
        pollfd firstSave{saved[0], POLLIN, 0};
        const bool wasSaved = ::poll(&firstSave, 1, 60000) == 1;
        ::kill(saver, SIGKILL);
        ::waitpid(saver, nullptr, 0);
        ::close(saved[0]);
        QVERIFY(wasSaved);
        const QByteArray after = readBytes(path);
        QVERIFY2(after == versions[0] || after == versions[1],
                 qPrintable(QString::number(after.size())));
    }
}

void TestDataFiles::aFailedSaveKeepsTheOldFileAndNamesIt_data()
{
    QTest::addColumn<QString>("reason");
    QTest::newRow("full disk") << "le disque est peut-être plein";
    QTest::newRow("read-only disk") << "Impossible d'enregistrer";
    // The new file is whole and flushed; only its last step, taking the old one's place, fails.
    QTest::newRow("file in use") << "l'ancien fichier n'a pas pu être remplacé";
}

void TestDataFiles::aFailedSaveKeepsTheOldFileAndNamesIt()
{
    QFETCH(QString, reason);
    const QString fault = QTest::currentDataTag();
    const QString disk = m_dir.filePath("disk");
    QVERIFY(QDir().mkpath(disk));
    if (!mount({"-t", "tmpfs", "-o", "size=256k", "tmpfs", disk}))
        QSKIP("mounting a small tmpfs needs root");
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {"-l", disk}); });
    writeBytes(keywordFilePath(disk), keywordFile(3, "kept"));
    if (fault == "full disk") {
        QFile filler(disk + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'x')) == 4096) {
        }
    } else if (fault == "read-only disk") {
        QVERIFY(mount({"-o", "remount,ro", disk}));
    } else {
        // A file mounted over the data file: it can be written, never renamed over.
        writeBytes(disk + "/other", "\"other\"\r\n");
        QVERIFY(mount({"--bind", disk + "/other", keywordFilePath(disk)}));
    }
    const QStringList files = QDir(disk).entryList();
    const QByteArray keywords = readAll(keywordFilePath(disk));
    // The statistics file is saved by the same code.
    QTreeWidget keywordList;
    setRows(keywordList, QList<QStringList>(200, {"new"}));
    Failure failure;
    QVERIFY(!SaveKeywordFile(disk, &keywordList, &failure));
    QVERIFY2(failure.message.contains("mtrl.dll") && failure.message.contains(reason),
             qPrintable(failure.message));
    QCOMPARE(readAll(keywordFilePath(disk)), keywords);
    // No half-written file is left beside it.
    QCOMPARE(QDir(disk).entryList(), files);
}

QTEST_MAIN(TestDataFiles)
#include "tst_datafiles.moc"
