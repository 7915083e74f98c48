#include "app/Program.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "settings/Ini.h"
#include "settings/UserStore.h"
#include "support/ScriptedTray.h"
#include "support/TestFiles.h"
#include "support/TestWindow.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <csignal>
#include <sys/resource.h>

namespace {

// The program around a window of the test's, with a scripted tray and task list.
struct Run
{
    explicit Run(TestWindow &window) : form(window.start(false))
    {
        form.Timer1->stop();
        program =
            std::make_unique<Program>(form, tray, taskList, window.dialogs, [this] { ++ended; });
    }
    Form1 &form;
    ScriptedTray tray;
    RecordingTaskList taskList;
    std::unique_ptr<Program> program;
    int ended = 0;
};

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void closeRequestsGoToTheTray();
    void closeWithoutNotificationAreaMinimizes();
    void trayEventsShowTheWindowOrTheMenu();
    void menuEntriesOpenTheirPanelNearTheTop();
    void startUpLoadsStartInTray_data();
    void startUpLoadsStartInTray();
    void trayTipKeepsTheBuiltInCaption();
    void quitSavesStatisticsAndKeywordsThenEnds();
    void failedSaveKeepsTheProgramRunning();
    void endOfSessionSavesWhateverHappens();
    void secondProgramShowsTheFirst();
    void terminationSignalsReachTheEventLoop();
};

void TestProgram::closeRequestsGoToTheTray()
{
    TestWindow window;
    Run run(window);
    run.program->startUp();
    QVERIFY(run.form.isVisible());
    run.form.Text1->setText("/typed/by/hand.wav");

    // The window's own "Quitter" is a close request like the close box.
    run.form.VexlorCmd5->click();
    QVERIFY(!run.form.isVisible());
    QVERIFY(run.tray.isShown());
    QCOMPARE(run.tray.m_tip, QString(" Vexlor Popup  2007  - Protection totale"));
    QVERIFY(!run.taskList.isListed(&run.form));
    QCOMPARE(ReadIniFrom(window.path("config.ini"), "Config", "Text1", "<none>"),
             QString("/typed/by/hand.wav"));
    QCOMPARE(run.ended, 0);
    QVERIFY(!QFile::exists(window.path("mtrl.dll")));

    // Shown from the menu, then closed again: the icon is there already, one icon stays.
    run.form.affich->trigger();
    QVERIFY(run.form.isVisible());
    QVERIFY(run.tray.isShown());
    QVERIFY(!run.taskList.isListed(&run.form));
    QVERIFY(!run.form.close());
    QCOMPARE(run.tray.m_addRequests, 2);
    QVERIFY(run.tray.isShown());
    QVERIFY(!run.form.isVisible());
}

void TestProgram::closeWithoutNotificationAreaMinimizes()
{
    TestWindow window;
    Run run(window);
    run.tray.m_available = false;
    run.program->startUp();
    QVERIFY(!run.form.close());
    QVERIFY(run.form.isVisible());
    QVERIFY(run.form.isMinimized());
    QVERIFY(run.taskList.isListed(&run.form));
    QVERIFY(!run.tray.isShown());
}

void TestProgram::trayEventsShowTheWindowOrTheMenu()
{
    TestWindow window;
    Run run(window);
    run.program->startUp();
    run.form.close();
    QVERIFY(run.tray.isShown());

    // While the menu is open, a left click on the icon does nothing.
    TrayHandler &handler = run.program->trayHandler();
    run.tray.m_duringMenu = [&] {
        emit run.tray.leftButtonReleased();
    };
    emit run.tray.rightButtonReleased();
    QCOMPARE(run.tray.m_poppedUp, QList<QMenu *>{run.form.contex});
    QVERIFY(!run.form.isVisible());
    QCOMPARE(handler.TrayEventCode(), TrayHandler::kLeftButtonUp);

    // Other codes (a press, a double click) do nothing.
    handler.handleEvent(0x201);
    QVERIFY(!run.form.isVisible());

    emit run.tray.leftButtonReleased();
    QVERIFY(run.form.isVisible());
    QVERIFY(!run.tray.isShown());
    QVERIFY(run.taskList.isListed(&run.form));
}

void TestProgram::menuEntriesOpenTheirPanelNearTheTop()
{
    TestWindow window;
    Run run(window);
    run.program->startUp();
    run.form.close();
    const QList<QAction *> entries = {run.form.cle, run.form.journal, run.form.option,
                                      run.form.stat};
    const QList<QGroupBox *> panels = {run.form.Frame1, run.form.Frame2, run.form.Frame3,
                                       run.form.Frame4};
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    for (int n = 0; n < 4; ++n) {
        run.form.hide();
        entries[n]->trigger();
        QVERIFY(run.form.isVisible());
        QCOMPARE(run.form.heightTwips(), 8475);
        QCOMPARE(run.form.pos().y(), qRound(20 / 15.0));
        QCOMPARE(run.form.pos().x(),
                 qRound((screen.width() * 15 / 2.0f - run.form.widthTwips() / 2.0f) / 15));
        for (int p = 0; p < 4; ++p)
            QCOMPARE(panels[p]->isVisibleTo(&run.form), p == n);
    }
    // Shown from the menu: the icon stays and the program stays out of the task list.
    QVERIFY(run.tray.isShown());
    QVERIFY(!run.taskList.isListed(&run.form));
}

void TestProgram::startUpLoadsStartInTray_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("inTray");
    QTest::newRow("unticked") << QByteArray("0") << false;
    QTest::newRow("ticked") << QByteArray("1") << true;
    QTest::newRow("greyed") << QByteArray("2") << false;
    QTest::newRow("garbage") << QByteArray("oui") << false;
}

void TestProgram::startUpLoadsStartInTray()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, inTray);
    TestWindow window;
    writeAll(window.path("config.ini"), "[Config]\r\nCheck4=" + stored + "\r\n");
    Run run(window);
    run.program->startUp();
    QCOMPARE(run.form.isVisible(), !inTray);
    QCOMPARE(run.tray.isShown(), inTray);
    QCOMPARE(run.taskList.isListed(&run.form), !inTray);
    QVERIFY(!run.form.QuittingFlag);
    // The close request of the start in the tray stores the sound path, as every close does.
    QCOMPARE(ReadIniFrom(window.path("config.ini"), "Config", "Text1", "<none>") != "<none>",
             inTray);
}

void TestProgram::trayTipKeepsTheBuiltInCaption()
{
    TestWindow window;
    writeAll(window.path("Lang/Autre.lng"), "[Form1]\r\nForm.Caption=Un autre titre\r\n");
    Run run(window);
    UserStore(window.folders.user).saveSetting("FILES", "LNG", window.path("Lang/Autre.lng"));
    run.program->startUp();
    QCOMPARE(run.form.windowTitle(), QString("Un autre titre"));
    run.form.close();
    QCOMPARE(run.tray.m_tip, QString(" Vexlor Popup  2007  - Protection totale"));
}

void TestProgram::quitSavesStatisticsAndKeywordsThenEnds()
{
    TestWindow window;
    writeAll(window.path("mtrl.dll"), "\"pub\"\r\n");
    Run run(window);
    run.program->startUp();
    window.source.addPage("Pub du jour", "http://x.example/", "w");
    for (int i = 0; i < 3; ++i)
        run.form.scan().tick();
    run.form.quit->trigger();
    QCOMPARE(run.ended, 1);
    QVERIFY(run.form.QuittingFlag);
    QCOMPARE(readAll(window.path("stat/stat.txt")), QByteArray("\"pub\",\"3\"\r\n"));
    QCOMPARE(readAll(window.path("mtrl.dll")), QByteArray("\"pub\"\r\n"));
    // Once quitting, the window may close.
    QVERIFY(run.form.close());

    TestWindow empty;
    Run emptyRun(empty);
    emptyRun.program->startUp();
    emptyRun.form.quit->trigger();
    QCOMPARE(readAll(empty.path("stat/stat.txt")), QByteArray());
    QCOMPARE(readAll(empty.path("mtrl.dll")), QByteArray());
}

void TestProgram::failedSaveKeepsTheProgramRunning()
{
    TestWindow window;
    Run run(window);
    run.program->startUp();
    run.form.ListView3->addTopLevelItem(new QTreeWidgetItem(QStringList{"added this run"}));
    // A folder where the keyword file should be: nothing can replace it, even as root.
    QVERIFY(QDir(window.appFolder()).mkdir("mtrl.dll"));
    run.form.quit->trigger();
    QCOMPARE(run.ended, 0);
    QVERIFY(!run.form.QuittingFlag);
    QCOMPARE(window.dialogs.m_shown.last().kind, QString("message"));
    QVERIFY(window.dialogs.m_shown.last().text.contains("mtrl.dll"));
    QCOMPARE(run.form.ListView3->topLevelItemCount(), 1);

    // Mended, the next quit saves and ends.
    QVERIFY(QDir(window.appFolder()).rmdir("mtrl.dll"));
    run.form.quit->trigger();
    QCOMPARE(run.ended, 1);
    QCOMPARE(readAll(window.path("mtrl.dll")), QByteArray("\"added this run\"\r\n"));
}

void TestProgram::endOfSessionSavesWhateverHappens()
{
    TestWindow window;
    Run run(window);
    run.program->startUp();
    run.form.ListView2->addTopLevelItem(new QTreeWidgetItem(QStringList{"7", "pub"}));
    run.form.ListView3->addTopLevelItem(new QTreeWidgetItem(QStringList{"pub"}));
    run.program->quitCommand().endSession();
    QCOMPARE(run.ended, 1);
    QCOMPARE(readAll(window.path("stat/stat.txt")), QByteArray("\"pub\",\"7\"\r\n"));
    QCOMPARE(readAll(window.path("mtrl.dll")), QByteArray("\"pub\"\r\n"));

    // Nobody is there to answer: a file that cannot be written keeps its old content and the
    // program ends all the same, with no dialog.
    TestWindow blocked;
    Run blockedRun(blocked);
    blockedRun.program->startUp();
    QVERIFY(QDir(blocked.appFolder()).mkdir("mtrl.dll"));
    blockedRun.program->quitCommand().endSession();
    QCOMPARE(blockedRun.ended, 1);
    QVERIFY(blocked.dialogs.m_shown.isEmpty());
}

void TestProgram::secondProgramShowsTheFirst()
{
    QTemporaryDir runtime, appFolder, otherFolder;
    SingleInstance first(appFolder.path(), runtime.path());
    QVERIFY(first.claim());
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    SingleInstance second(appFolder.path(), runtime.path());
    QVERIFY(!second.claim());
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 5000);
    // Another program folder is another program.
    SingleInstance elsewhere(otherFolder.path(), runtime.path());
    QVERIFY(elsewhere.claim());
}

void TestProgram::terminationSignalsReachTheEventLoop()
{
    TerminationSignals termination;
    QSignalSpy spy(&termination, &TerminationSignals::terminationRequested);
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) {
        std::raise(s);
        QTRY_VERIFY_WITH_TIMEOUT(!spy.isEmpty(), 5000);
        QCOMPARE(spy.takeFirst().at(0).toInt(), s);
    }
}

QTEST_MAIN(TestProgram)
#include "tst_program.moc"
