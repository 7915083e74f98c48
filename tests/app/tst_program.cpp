#include "app/Program.h"
#include "app/TerminationSignals.h"
#include "support/ListRows.h"
#include "support/ScriptedTray.h"
#include "support/StandardError.h"
#include "support/TestFiles.h"
#include "support/TestWindow.h"
#include "support/Unprivileged.h"

#include <QApplication>
#include <QGroupBox>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <csignal>

namespace {

using Files = QMap<QString, QByteArray>;

// The program around a window of the test's, with a scripted tray and task list.
struct Run
{
    explicit Run(TestWindow &testWindow, const Files &files = {}) : window(testWindow)
    {
        form.Timer1->stop();
        for (auto file = files.cbegin(); file != files.cend(); ++file)
            writeAll(window.path(file.key()), file.value());
    }
    TestWindow &window;
    Form1 &form = window.start(false);
    ScriptedTray tray;
    RecordingTaskList taskList;
    int ended = 0;
    Program program{form, tray, taskList, window.dialogs, [this] {
                        ++ended;
                    }};
};

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void startUpLoadsTheFilesAndQuitSavesTheRunsCounts_data();
    void startUpLoadsTheFilesAndQuitSavesTheRunsCounts();
    void aFailedSaveKeepsTheFilterRunningUntilTheSessionEnds();
    void aSessionEndDuringStartUpEndsTheProgram();
    void anUnreadableDataFileIsNeverOverwritten_data();
    void anUnreadableDataFileIsNeverOverwritten();
    void aProgramThatCannotWriteItsFolderKeepsItsFilesInTheUsers_data();
    void aProgramThatCannotWriteItsFolderKeepsItsFilesInTheUsers();
    void theTrayIconsClickAndMenuBringTheWindowBack_data();
    void theTrayIconsClickAndMenuBringTheWindowBack();
};

void TestProgram::startUpLoadsTheFilesAndQuitSavesTheRunsCounts_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<QList<QStringList>>("statistics");
    QTest::addColumn<QByteArray>("savedKeywords");
    QTest::addColumn<QByteArray>("savedStatistics");
    // Each start reverses the keyword file; statistics made at start follow the list.
    QTest::newRow("statistics built from the keywords")
        << Files{{"mtrl.dll", "\"casino\"\r\n\"pub\"\r\n\"news\"\r\n"}}
        << QList<QStringList>{{"0", "news"}, {"0", "pub"}, {"0", "casino"}}
        << QByteArray("\"news\"\r\n\"pub\"\r\n\"casino\"\r\n")
        << QByteArray("\"news\",\"0\"\r\n\"pub\",\"3\"\r\n\"casino\",\"0\"\r\n");
    QTest::newRow("statistics file kept, rows of no keyword too")
        << Files{{"mtrl.dll", "\"pub\"\r\n"}, {"stat/stat.txt", "\"gone\",\"4\"\r\n\"pub\",\"1\""}}
        << QList<QStringList>{{"4", "gone"}, {"1", "pub"}} << QByteArray("\"pub\"\r\n")
        << QByteArray("\"gone\",\"4\"\r\n\"pub\",\"4\"\r\n");
}

void TestProgram::startUpLoadsTheFilesAndQuitSavesTheRunsCounts()
{
    QFETCH(Files, files);
    QFETCH(QList<QStringList>, statistics);
    QFETCH(QByteArray, savedKeywords);
    QFETCH(QByteArray, savedStatistics);
    TestWindow window;
    Run run(window, files);
    run.program.startUp();
    QCOMPARE(rows(run.form.ListView2), statistics);
    window.source.addPage("Pub du jour", "http://x.example/", "w");
    for (int i = 0; i < 3; ++i)
        run.form.scan().tick();
    run.form.quit->trigger();
    QCOMPARE(run.ended, 1);
    QCOMPARE(readAll(window.path("mtrl.dll")), savedKeywords);
    QCOMPARE(readAll(window.path("stat/stat.txt")), savedStatistics);
    QVERIFY(window.dialogs.m_shown.isEmpty());
    // Once quitting, the window may close.
    QVERIFY(run.form.close());
}

void TestProgram::aFailedSaveKeepsTheFilterRunningUntilTheSessionEnds()
{
    TestWindow window;
    Run run(window, {{"mtrl.dll", "\"pub\"\r\n"}});
    run.program.startUp();
    setRows(run.form.ListView2, {{"7", "pub"}});
    // A folder where the keyword file should be: nothing can replace it, even as root.
    QVERIFY(QFile::remove(window.path("mtrl.dll")) && QDir().mkdir(window.path("mtrl.dll")));
    run.form.quit->trigger();
    QCOMPARE(window.dialogs.m_shown.size(), 1);
    QVERIFY(window.dialogs.m_shown[0].text.contains("mtrl.dll"));
    QCOMPARE(readAll(window.path("stat/stat.txt")), QByteArray("\"pub\",\"7\"\r\n"));

    // A checkpoint, or a log-out that may yet be cancelled: what can be saved is, without a
    // dialog, and the filter goes on until the session ends.
    window.source.addPage("Pub", "", "w");
    run.form.scan().tick();
    QVERIFY(standardErrorOf([&] { run.program.quitCommand().commitData(); }).contains("mtrl.dll"));
    QCOMPARE(readAll(window.path("stat/stat.txt")), QByteArray("\"pub\",\"8\"\r\n"));
    run.form.scan().tick();
    QCOMPARE(window.source.m_closed, (QList<QByteArray>{"w", "w"}));
    QCOMPARE(run.ended, 0);
    standardErrorOf([&] { run.program.quitCommand().endSession(); });
    QCOMPARE(run.ended, 1);
    QCOMPARE(readAll(window.path("stat/stat.txt")), QByteArray("\"pub\",\"9\"\r\n"));
    QCOMPARE(window.dialogs.m_shown.size(), 1);
}

// A log-out just after log-in: the signal is read while start-up lets events through, before
// the event loop starts, and must still end the program.
void TestProgram::aSessionEndDuringStartUpEndsTheProgram()
{
    TestWindow window;
    Run run(window, {{"mtrl.dll", "\"pub\"\r\n"}});
    TerminationSignals termination;
    run.program.followSession(*qApp, termination);
    QTimer stuck;
    stuck.callOnTimeout(qApp, [] { QCoreApplication::exit(1); });
    stuck.start(30000);
    int status = -1;
    standardErrorOf([&] {
        std::raise(SIGTERM);
        status = run.program.run();
    });
    QCOMPARE(status, 0);
    QCOMPARE(run.ended, 1);
    QCOMPARE(readAll(window.path("stat/stat.txt")), QByteArray("\"pub\",\"0\"\r\n"));
}

void TestProgram::anUnreadableDataFileIsNeverOverwritten_data()
{
    QTest::addColumn<QString>("unreadable");
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("keywords, quit") << "mtrl.dll" << 0;
    QTest::newRow("statistics, quit") << "stat/stat.txt" << 0;
    QTest::newRow("keywords, session save") << "mtrl.dll" << 0;
    QTest::newRow("statistics, SIGTERM") << "stat/stat.txt" << SIGTERM;
    QTest::newRow("keywords, SIGINT") << "mtrl.dll" << SIGINT;
    QTest::newRow("statistics, SIGHUP") << "stat/stat.txt" << SIGHUP;
}

void TestProgram::anUnreadableDataFileIsNeverOverwritten()
{
    if (rerunAsNobody())
        return;
    QFETCH(QString, unreadable);
    QFETCH(int, signalNumber);
    const QString ending = QString(QTest::currentDataTag()).section(", ", 1);
    const Files files = {{"mtrl.dll", "\"pub\"\r\n"}, {"stat/stat.txt", "\"pub\",\"4\"\r\n"}};
    TestWindow window;
    Run run(window, files);
    // Its owner may write it, not read it.
    QVERIFY(QFile::setPermissions(window.path(unreadable), QFile::WriteOwner));
    run.program.startUp();
    const QString name = unreadable.section('/', -1);
    QCOMPARE(window.dialogs.m_shown.size(), 1);
    QVERIFY(window.dialogs.m_shown[0].text.contains(name));

    run.form.ListView3->addTopLevelItem(new QTreeWidgetItem(QStringList{"casino"}));
    run.form.ListView2->addTopLevelItem(new QTreeWidgetItem({"2", "casino"}));
    TerminationSignals termination;
    run.program.followSession(*qApp, termination);
    const QByteArray said = standardErrorOf([&] {
        if (ending == "quit")
            run.form.quit->trigger();
        else if (ending == "session save")
            run.program.quitCommand().commitData();
        else
            std::raise(signalNumber);
        QTRY_COMPARE_WITH_TIMEOUT(run.ended, ending == "session save" ? 0 : 1, 5000);
    });
    QCOMPARE(window.dialogs.m_shown.size(), 1);
    QVERIFY2(said.contains(name.toUtf8()), said.constData());
    QVERIFY(QFile::setPermissions(window.path(unreadable), QFile::ReadOwner));
    QCOMPARE(readAll(window.path(unreadable)), files[unreadable]);
    const QString other = name == "mtrl.dll" ? "stat/stat.txt" : "mtrl.dll";
    QVERIFY(readAll(window.path(other)).contains("casino"));
}

void TestProgram::aProgramThatCannotWriteItsFolderKeepsItsFilesInTheUsers_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::newRow("its folder writable: files beside it") << false;
    QTest::newRow("installed read-only: files in the user's folder") << true;
}

// The real program, started and ended by a signal as a session does, in a folder of its own.
void TestProgram::aProgramThatCannotWriteItsFolderKeepsItsFilesInTheUsers()
{
    QFETCH(bool, readOnly);
    QTemporaryDir dir;
    const QString program = dir.filePath("program"), own = dir.filePath("data/vexlor-popup");
    QVERIFY(QDir().mkpath(program + "/Lang"));
    for (const char *file : {"vexlor-popup", "sound.wav", "Lang/English.lng"})
        QVERIFY(QFile::copy(QStringLiteral(VEXLOR_APP_FOLDER "/") + file, program + '/' + file));
    // Root writes whatever the modes say: only a read-only mount stops it.
    const bool root = ::geteuid() == 0;
    if (readOnly && root)
        QVERIFY(QProcess::execute("mount", {"--bind", program, program}) == 0 &&
                QProcess::execute("mount", {"-o", "remount,bind,ro", program}) == 0);
    else if (readOnly)
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
    const auto restore = qScopeGuard([&] {
        if (readOnly && root)
            QProcess::execute("umount", {"-l", program});
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
        environment.insert(name, dir.filePath(name));
    environment.insert("XDG_DATA_HOME", dir.filePath("data"));
    run.setProcessEnvironment(environment);
    run.start(program + "/vexlor-popup", {});
    const QString files = readOnly ? own : program;
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(files + "/Lang/Francais.lng"), 60000);
    ::kill(static_cast<pid_t>(run.processId()), SIGTERM);
    QVERIFY(run.waitForFinished(60000));
    QVERIFY(QFile::exists(files + "/mtrl.dll") && QFile::exists(files + "/stat/stat.txt"));
    QCOMPARE(QFileInfo::exists(own), readOnly);
}

void TestProgram::theTrayIconsClickAndMenuBringTheWindowBack_data()
{
    QTest::addColumn<int>("panel"); // opened from the menu; 0 for a left click on the icon
    QTest::newRow("left click") << 0;
    for (const int panel : {1, 2, 3, 4})
        QTest::addRow("menu, panel %d", panel) << panel;
}

void TestProgram::theTrayIconsClickAndMenuBringTheWindowBack()
{
    QFETCH(int, panel);
    TestWindow window;
    Run run(window);
    run.program.startUp();
    QVERIFY(!run.form.close() && !run.form.isVisible() && run.tray.isShown());
    if (panel == 0)
        emit run.tray.leftButtonReleased();
    else
        QList{run.form.cle, run.form.journal, run.form.option, run.form.stat}[panel - 1]->trigger();
    QVERIFY(run.form.isVisible());
    if (panel == 0) {
        QVERIFY(!run.tray.isShown() && run.taskList.isListed(&run.form));
        return;
    }
    const QWidgetList frames{run.form.Frame1, run.form.Frame2, run.form.Frame3, run.form.Frame4};
    for (int i = 0; i < frames.size(); ++i)
        QCOMPARE(frames[i]->isVisible(), i == panel - 1);
}

QTEST_MAIN(TestProgram)
#include "tst_program.moc"
