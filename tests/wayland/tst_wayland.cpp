#include "sources/x11/X11BrowserSource.h"
#include "support/EndToEndRig.h"
#include "support/X11TestDisplay.h"

#include <QTest>

#include <csignal>

// The program on a Wayland desktop: the headless compositor that scripts/weston-run.sh starts for
// this test, whose log holds every request of its clients, and the test run's X display in the
// part of XWayland's.
class TestWayland : public QObject
{
    Q_OBJECT

private slots:
    void programAndBrowsersOnWayland_data();
    void programAndBrowsersOnWayland();
};

void TestWayland::programAndBrowsersOnWayland_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("xDisplay");
    QTest::newRow("firefox, program without X display") << u"firefox"_qs << false;
    QTest::newRow("chromium, program beside an X display") << u"chromium"_qs << true;
}

// The real program, set to start in the tray where there is none, so its window comes minimized:
// a native Wayland client without an X display, else an X11 client. Firefox ESR and Chromium as
// native Wayland clients, each with the bridge: popups whose title or address holds a keyword
// close, their neighbours stay, and X11 shows no window of theirs. A second start brings the
// window back (on Wayland as a new window, the only way out of the minimized state), and SIGTERM
// saves the counts.
void TestWayland::programAndBrowsersOnWayland()
{
    QFETCH(QString, kind);
    QFETCH(bool, xDisplay);
    QVERIFY2(X11TestDisplay().isConnected() && qEnvironmentVariableIsSet("WAYLAND_DISPLAY"),
             "run under scripts/weston-run.sh, with an X display");
    if (!BrowserProcess::isInstalled(kind))
        QSKIP("the browser is not installed");
    const QString built = QStringLiteral(VEXLOR_APP_FOLDER),
                  log = qEnvironmentVariable("XDG_RUNTIME_DIR") + u"/weston.log"_qs;
    QTemporaryDir dir;
    QVERIFY(QFile::copy(built + u"/vexlor-popup"_qs, dir.filePath(u"vexlor-popup"_qs)));
    writeBytes(dir.filePath(u"mtrl.dll"_qs), "\"casino\"\r\n\"PUB-ZONE\"\r\n");
    writeBytes(dir.filePath(u"config.ini"_qs), "[Config]\r\nCheck4=1\r\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"QT_QPA_PLATFORM"_qs);
    if (!xDisplay)
        environment.remove(u"DISPLAY"_qs);
    environment.insert(u"HOME"_qs, dir.path());
    // Mesa, loaded by Qt's Wayland platform, unloads a driver whose memory it keeps: only a full
    // unwinding names Mesa to a sanitizer build, which is told to let it be.
    if (environment.contains(u"ASAN_OPTIONS"_qs))
        environment.insert(u"ASAN_OPTIONS"_qs,
                           environment.value(u"ASAN_OPTIONS"_qs) + u":fast_unwind_on_malloc=0"_qs);
    // The program's windows on Wayland, each made with the title.
    const QByteArray title = "set_title(\" Vexlor Popup  2007  - Protection totale\")";
    const qsizetype before = readBytes(log).count(title);
    const auto waylandWindows = [&] {
        return readBytes(log).count(title) - before;
    };
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(dir.filePath(u"vexlor-popup"_qs));
    QTRY_VERIFY_WITH_TIMEOUT(readBytes(u"/proc/%1/maps"_qs.arg(program.processId()))
                                 .contains(xDisplay ? "/libqxcb.so" : "/libqwayland-generic.so"),
                             startTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(waylandWindows(), xDisplay ? 0 : 1, startTimeoutMs);
    QVERIFY(xDisplay || (readBytes(log).contains("set_app_id(\"fr.vexlor.popup\")") &&
                         readBytes(log).contains("set_minimized()")));

    TitledPageServer pages;
    const QString opener = pages.url(u"Garden news"_qs, u"opener"_qs);
    const QStringList closed = {pages.url(u"Big CASINO night"_qs, u"a"_qs),
                                pages.url(u"Quiet reading"_qs, u"pub-zone/b"_qs)};
    const QString cafe = pages.url(u"Cuisine — café ☕"_qs, u"c?x=1"_qs);
    const auto browser =
        startBrowser(kind, opener, BrowserProcess::Windowed, {u"--ozone-platform=wayland"_qs});
    pages.openFromPage(closed + QStringList{cafe});
    QTRY_VERIFY_WITH_TIMEOUT(pages.isGone(closed[0]) && pages.isGone(closed[1]), startTimeoutMs);
    QVERIFY(!pages.isGone(opener) && !pages.isGone(cafe) && browser->isRunning());
    QCOMPARE(X11BrowserSource().walk().size(), 0);
    QVERIFY(readBytes(log).contains(QByteArray("set_app_id(\"") +
                                    (kind == u"chromium" ? "chromium" : "firefox-esr")));

    QCOMPARE(QProcess::execute(dir.filePath(u"vexlor-popup"_qs)), 0);
    QTRY_COMPARE_WITH_TIMEOUT(waylandWindows(), xDisplay ? 0 : 2, scanTimeoutMs);
    ::kill(pid_t(program.processId()), SIGTERM);
    QVERIFY(program.waitForFinished(30000) && program.exitCode() == 0);
    QCOMPARE(readAll(dir.filePath(u"stat/stat.txt"_qs)),
             QByteArray("\"PUB-ZONE\",\"1\"\r\n\"casino\",\"1\"\r\n"));
}

QTEST_GUILESS_MAIN(TestWayland)
#include "tst_wayland.moc"
