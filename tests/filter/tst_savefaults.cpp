#include "filter/DataFiles.h"
#include "filter/RecordFormat.h"
#include "platform/AtomicFile.h"
#include "support/ListRows.h"
#include "support/TestFiles.h"

#include <QDir>
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

namespace {

QByteArray keywordFile(int count, const QString &prefix)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += RecordFormat::writeRecord({QStringLiteral("%1 %2").arg(prefix).arg(i)});
    return bytes;
}

QStringList keywordsIn(const QString &appFolder)
{
    QTreeWidget list;
    if (!LoadKeywordFile(appFolder, &list))
        return {QStringLiteral("<unreadable>")};
    return column(list, 0);
}

bool mountTmpfs(const QString &folder, const QString &options)
{
    return QProcess::execute(QStringLiteral("mount"),
                             {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                              options, QStringLiteral("tmpfs"), folder}) == 0;
}

bool remount(const QString &folder, const QString &options)
{
    return QProcess::execute(
               QStringLiteral("mount"),
               {QStringLiteral("-o"), QStringLiteral("remount,") + options, folder}) == 0;
}

} // namespace

class TestSaveFaults : public QObject
{
    Q_OBJECT

private slots:
    void killedInTheMiddleOfSavesLeavesAWholeFile();
    void fullAndReadOnlyDiskKeepsTheFilesAndSaysSo();
    void removedStatisticsFolderIsReportedNotRecreated();

private:
    QTemporaryDir m_dir;
};

void TestSaveFaults::killedInTheMiddleOfSavesLeavesAWholeFile()
{
    const QString path = keywordFilePath(m_dir.path());
    const QByteArray first = keywordFile(5000, QStringLiteral("first"));
    const QByteArray second = keywordFile(5001, QStringLiteral("second"));
    writeBytes(path, first);

    for (int round = 0; round < 10; ++round) {
        int saved[2];
        QVERIFY(::pipe(saved) == 0);
        const pid_t saver = fork();
        QVERIFY(saver >= 0);
        if (saver == 0) {
            // Saves the two versions in turn for as long as the test lives, and says when the
            // first save is done.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::close(saved[0]);
            for (bool even = round % 2 == 0;; even = !even) {
                if (writeAtomically(path, even ? second : first) && saved[1] >= 0) {
                    [[maybe_unused]] const auto done = ::write(saved[1], "s", 1);
                    ::close(saved[1]);
                    saved[1] = -1;
                }
            }
        }
        ::close(saved[1]);
        {
            const auto stopSaver = qScopeGuard([saver] {
                ::kill(saver, SIGKILL);
                ::waitpid(saver, nullptr, 0);
            });
            // Killed once it has saved at least once, at whatever point it has reached since.
            pollfd firstSave{saved[0], POLLIN, 0};
            const bool wasSaved = ::poll(&firstSave, 1, 60000) == 1;
            ::close(saved[0]);
            QVERIFY(wasSaved);
        }

        const QByteArray after = readBytes(path);
        QVERIFY2(after == first || after == second, qPrintable(QString::number(after.size())));
        QCOMPARE(keywordsIn(m_dir.path()).size(), after == first ? 5000 : 5001);
    }
}

void TestSaveFaults::fullAndReadOnlyDiskKeepsTheFilesAndSaysSo()
{
    const QString disk = m_dir.filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(disk));
    if (!mountTmpfs(disk, QStringLiteral("size=256k")))
        QSKIP("mounting a small tmpfs needs root");
    const auto unmount = qScopeGuard([&] {
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), disk});
    });

    QVERIFY(EnsureStatisticsFolder(disk));
    const QByteArray keywords = keywordFile(3, QStringLiteral("kept"));
    const QByteArray statistics = "\"kept 0\",\"7\"\r\n";
    writeBytes(keywordFilePath(disk), keywords);
    writeBytes(statisticsFilePath(disk), statistics);
    // Whatever room is left is taken by another file.
    {
        QFile filler(disk + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {
        }
    }

    QTreeWidget keywordList, statisticsList;
    for (int i = 0; i < 200; ++i) {
        keywordList.addTopLevelItem(new QTreeWidgetItem(QStringList{QString("new %1").arg(i)}));
        statisticsList.addTopLevelItem(
            new QTreeWidgetItem(QStringList{"1", QString("new %1").arg(i)}));
    }
    Failure failure;
    QVERIFY(!SaveKeywordFile(disk, &keywordList, &failure));
    QVERIFY2(failure.message.contains(QStringLiteral("le disque est peut-être plein")),
             qPrintable(failure.message));
    QVERIFY(!SaveStatisticsFile(disk, &statisticsList, &failure));
    QVERIFY(failure.message.contains(QStringLiteral("stat.txt")));
    QCOMPARE(readAll(keywordFilePath(disk)), keywords);
    QCOMPARE(readAll(statisticsFilePath(disk)), statistics);

    // A read-only disk refuses every write, and says so in French.
    QVERIFY(remount(disk, QStringLiteral("ro")));
    QVERIFY(!SaveKeywordFile(disk, &keywordList, &failure));
    QVERIFY2(failure.message.startsWith(QStringLiteral("Impossible d'enregistrer le fichier")),
             qPrintable(failure.message));
    QVERIFY(!AppendStatisticsRecord(disk, QStringLiteral("new"), &failure));
    QVERIFY2(failure.message.startsWith(QStringLiteral("Impossible d'écrire dans le fichier")),
             qPrintable(failure.message));
    QCOMPARE(readAll(keywordFilePath(disk)), keywords);
    QCOMPARE(readAll(statisticsFilePath(disk)), statistics);
    QCOMPARE(keywordsIn(disk), (QStringList{"kept 2", "kept 1", "kept 0"}));
}

void TestSaveFaults::removedStatisticsFolderIsReportedNotRecreated()
{
    const QString app = m_dir.filePath(QStringLiteral("app"));
    QVERIFY(QDir().mkpath(app));
    QVERIFY(EnsureStatisticsFolder(app));
    QTreeWidget statisticsList;
    setRows(statisticsList, {{"3", "pub"}});
    QVERIFY(SaveStatisticsFile(app, &statisticsList));

    QVERIFY(QDir(statisticsFolderPath(app)).removeRecursively());
    Failure failure;
    QVERIFY(!SaveStatisticsFile(app, &statisticsList, &failure));
    QVERIFY2(failure.message.contains(QStringLiteral("stat.txt")), qPrintable(failure.message));
    QVERIFY(!AppendStatisticsRecord(app, QStringLiteral("pub"), &failure));
    QVERIFY(!failure.message.isEmpty());
    QVERIFY(!QFileInfo::exists(statisticsFolderPath(app)));
}

QTEST_MAIN(TestSaveFaults)
#include "tst_savefaults.moc"
