#include "sources/tabs/ProcessDiscovery.h"
#include "support/FakeProcTree.h"

#include <QTest>

using Kind = DebugEndpoint::Kind;

namespace {

QList<quint16> portsOf(const QList<DebugEndpoint> &endpoints)
{
    QList<quint16> ports;
    for (const DebugEndpoint &endpoint : endpoints)
        ports.append(endpoint.port);
    return ports;
}

QByteArrayList words(const char *commandLine)
{
    return QByteArray(commandLine).split(' ');
}

} // namespace

class TestProcessDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void readsThePortFromTheCommandLine_data();
    void readsThePortFromTheCommandLine();
    void chromiumPortZeroReadsDevToolsActivePort_data();
    void chromiumPortZeroReadsDevToolsActivePort();
    void firefoxPortZeroReadsWebDriverBiDiServerJson_data();
    void firefoxPortZeroReadsWebDriverBiDiServerJson();
    void firefoxProfileIsFoundThroughItsOpenLockFile();
    void knowsABrowserByItsImageWhenArgvZeroIsRenamed();
    void onlyTheUsersOwnProcessesCount();
    void oddProcessEntriesAreSkipped();
    void oneEndpointPerPort();
    void laterChangesAreSeen();
    void realProcIsReadable();
};

// Each row is one process; the column "port" is what discovery should report, 0 for nothing.
void TestProcessDiscovery::readsThePortFromTheCommandLine_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("commandLine");
    QTest::addColumn<int>("port");

    const int chromium = int(Kind::Chromium);
    const int firefox = int(Kind::Firefox);
    QTest::newRow("chromium") << chromium
                              << QByteArray(
                                     "/usr/lib/chromium/chromium --remote-debugging-port=9333 "
                                     "https://example.org/")
                              << 9333;
    QTest::newRow("one dash") << chromium << QByteArray("chromium -remote-debugging-port=9334")
                              << 9334;
    QTest::newRow("chrome") << chromium
                            << QByteArray("/opt/google/chrome/chrome --remote-debugging-port=9338")
                            << 9338;
    QTest::newRow("last one wins")
        << chromium << QByteArray("chromium --remote-debugging-port=1 --remote-debugging-port=9339")
        << 9339;
    QTest::newRow("chromium helper")
        << chromium
        << QByteArray("/usr/lib/chromium/chromium --type=renderer --remote-debugging-port=9335")
        << 0;
    QTest::newRow("no option") << chromium << QByteArray("/usr/lib/chromium/chromium") << 0;
    QTest::newRow("port too big") << chromium
                                  << QByteArray("chromium --remote-debugging-port=99999") << 0;
    QTest::newRow("port not a number")
        << chromium << QByteArray("chromium --remote-debugging-port=abc") << 0;
    QTest::newRow("after --") << chromium << QByteArray("chromium -- --remote-debugging-port=9336")
                              << 0;
    QTest::newRow("not a browser")
        << chromium << QByteArray("/usr/bin/node --remote-debugging-port=9337") << 0;
    QTest::newRow("firefox is not chromium")
        << chromium << QByteArray("firefox-esr --remote-debugging-port=9340") << 0;

    QTest::newRow("firefox, port apart")
        << firefox << QByteArray("firefox-esr --remote-debugging-port 9444") << 9444;
    QTest::newRow("firefox, port joined")
        << firefox << QByteArray("/usr/lib/firefox-esr/firefox-esr --remote-debugging-port=9445")
        << 9445;
    QTest::newRow("firefox, one dash")
        << firefox << QByteArray("firefox -remote-debugging-port 9446") << 9446;
    QTest::newRow("firefox, default port")
        << firefox << QByteArray("firefox --remote-debugging-port https://example.org/") << 9222;
    QTest::newRow("firefox, default port last")
        << firefox << QByteArray("firefox --remote-debugging-port") << 9222;
    QTest::newRow("firefox content process")
        << firefox
        << QByteArray("/usr/lib/firefox-esr/firefox-esr -contentproc --remote-debugging-port 9447")
        << 0;
    QTest::newRow("chromium is not firefox")
        << firefox << QByteArray("chromium --remote-debugging-port=9448") << 0;
}

void TestProcessDiscovery::readsThePortFromTheCommandLine()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, commandLine);
    QFETCH(int, port);

    FakeProcTree proc;
    proc.addProcess(4242, commandLine.split(' '));
    const QList<DebugEndpoint> found = ProcessDiscovery(proc.root()).find(Kind(kind));
    if (port == 0) {
        QCOMPARE(found.size(), 0);
        return;
    }
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].kind, Kind(kind));
    QCOMPARE(found[0].pid, 4242);
    QCOMPARE(found[0].port, port);
    QVERIFY(found[0].browserTarget.isEmpty());
}

void TestProcessDiscovery::chromiumPortZeroReadsDevToolsActivePort_data()
{
    QTest::addColumn<QByteArray>("portFile");
    QTest::addColumn<bool>("relativeFolder");
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("target");

    QTest::newRow("port and target") << QByteArray("41234\n/devtools/browser/abc-123\n") << false
                                     << 41234 << QByteArray("/devtools/browser/abc-123");
    QTest::newRow("port only") << QByteArray("41235") << false << 41235 << QByteArray();
    QTest::newRow("relative user-data-dir") << QByteArray("41236\n/devtools/browser/x\n") << true
                                            << 41236 << QByteArray("/devtools/browser/x");
    QTest::newRow("no file") << QByteArray() << false << 0 << QByteArray();
    QTest::newRow("garbage") << QByteArray("\x7f"
                                           "ELF\x01\x02")
                             << false << 0 << QByteArray();
    QTest::newRow("port 0 in the file")
        << QByteArray("0\n/devtools/browser/x\n") << false << 0 << QByteArray();
}

void TestProcessDiscovery::chromiumPortZeroReadsDevToolsActivePort()
{
    QFETCH(QByteArray, portFile);
    QFETCH(bool, relativeFolder);
    QFETCH(int, port);
    QFETCH(QByteArray, target);

    FakeProcTree proc;
    const QString work = proc.scratch(u"work"_qs);
    const QString profile = proc.scratch(u"work/profile"_qs);
    if (!portFile.isEmpty())
        QVERIFY(FakeProcTree::writeFile(profile + u"/DevToolsActivePort"_qs, portFile));
    const QByteArray folder = relativeFolder ? QByteArray("profile") : profile.toUtf8();
    proc.addProcess(7, {"/usr/lib/chromium/chromium", "--headless", "--user-data-dir=" + folder,
                        "--remote-debugging-port=0"});
    proc.link(7, u"cwd"_qs, work);

    const QList<DebugEndpoint> found = ProcessDiscovery(proc.root()).find(Kind::Chromium);
    QCOMPARE(portsOf(found), port == 0 ? QList<quint16>() : QList<quint16>{quint16(port)});
    if (port != 0)
        QCOMPARE(found[0].browserTarget, target);
}

void TestProcessDiscovery::firefoxPortZeroReadsWebDriverBiDiServerJson_data()
{
    QTest::addColumn<QByteArray>("serverFile");
    QTest::addColumn<int>("port");

    QTest::newRow("as Firefox writes it")
        << QByteArray("{\n  \"ws_host\": \"127.0.0.1\",\n  \"ws_port\": 39803\n}") << 39803;
    QTest::newRow("no file") << QByteArray() << 0;
    QTest::newRow("not JSON") << QByteArray("ws_port=39803") << 0;
    QTest::newRow("port as text") << QByteArray(R"({"ws_port": "39803"})") << 0;
    QTest::newRow("port out of range") << QByteArray(R"({"ws_port": 70000})") << 0;
    QTest::newRow("port not whole") << QByteArray(R"({"ws_port": 398.5})") << 0;
    QTest::newRow("an array") << QByteArray(R"([39803])") << 0;
}

void TestProcessDiscovery::firefoxPortZeroReadsWebDriverBiDiServerJson()
{
    QFETCH(QByteArray, serverFile);
    QFETCH(int, port);

    FakeProcTree proc;
    const QString profile = proc.scratch(u"profile"_qs);
    if (!serverFile.isEmpty())
        QVERIFY(FakeProcTree::writeFile(profile + u"/WebDriverBiDiServer.json"_qs, serverFile));
    proc.addProcess(31, {"firefox-esr", "--no-remote", "--profile", profile.toUtf8(),
                         "--remote-debugging-port", "0", "https://example.org/"});

    const QList<DebugEndpoint> found = ProcessDiscovery(proc.root()).find(Kind::Firefox);
    QCOMPARE(portsOf(found), port == 0 ? QList<quint16>() : QList<quint16>{quint16(port)});
}

// A Firefox started on a profile chosen by name, or the default one, names no folder on its
// command line; the lock file it holds open tells where its profile is.
void TestProcessDiscovery::firefoxProfileIsFoundThroughItsOpenLockFile()
{
    FakeProcTree proc;
    const QString profile = proc.scratch(u"abcd.default-esr"_qs);
    QVERIFY(FakeProcTree::writeFile(profile + u"/WebDriverBiDiServer.json"_qs,
                                    R"({"ws_host": "127.0.0.1", "ws_port": 40001})"));
    QVERIFY(FakeProcTree::writeFile(profile + u"/.parentlock"_qs, {}));
    proc.addProcess(55, {"firefox-esr", "-P", "default-esr", "--remote-debugging-port=0"});
    proc.link(55, u"fd/0"_qs, u"/dev/null"_qs);
    proc.link(55, u"fd/3"_qs, u"socket:[12345]"_qs);
    proc.link(55, u"fd/15"_qs, profile + u"/.parentlock"_qs);
    proc.link(55, u"fd/16"_qs, profile + u"/places.sqlite"_qs);

    QCOMPARE(portsOf(ProcessDiscovery(proc.root()).find(Kind::Firefox)), QList<quint16>{40001});
}

void TestProcessDiscovery::knowsABrowserByItsImageWhenArgvZeroIsRenamed()
{
    FakeProcTree proc;
    proc.addProcess(8, words("browser --remote-debugging-port=9600"));
    proc.link(8, u"exe"_qs, u"/usr/lib/chromium/chromium"_qs);
    proc.addProcess(9, words("browser --remote-debugging-port=9601"));
    proc.link(9, u"exe"_qs, u"/usr/bin/python3.11"_qs);

    QCOMPARE(portsOf(ProcessDiscovery(proc.root()).find(Kind::Chromium)), QList<quint16>{9600});
}

void TestProcessDiscovery::onlyTheUsersOwnProcessesCount()
{
    FakeProcTree proc;
    proc.addProcess(10, words("chromium --remote-debugging-port=9700"), 1000);
    proc.addProcess(11, words("chromium --remote-debugging-port=9701"), 1001);

    QCOMPARE(portsOf(ProcessDiscovery(proc.root(), 1000).find(Kind::Chromium)),
             QList<quint16>{9700});
    QCOMPARE(portsOf(ProcessDiscovery(proc.root(), 1001).find(Kind::Chromium)),
             QList<quint16>{9701});
    QCOMPARE(portsOf(ProcessDiscovery(proc.root(), 1002).find(Kind::Chromium)), QList<quint16>{});
}

void TestProcessDiscovery::oddProcessEntriesAreSkipped()
{
    FakeProcTree proc;
    proc.addProcess(20, words("chromium --remote-debugging-port=9800"));
    // A process that has gone between the listing and the reading leaves nothing to read.
    proc.addProcess(21, words("chromium --remote-debugging-port=9801"));
    QFile::remove(proc.root() + u"/21/status"_qs);
    // Kernel threads have an empty command line.
    proc.addProcess(22, {});
    proc.setCommandLine(22, {});
    // A command line far beyond what is read, and one of nothing but separators.
    proc.addProcess(23, {});
    proc.setCommandLine(23, "chromium\0" + QByteArray(1 << 20, 'x') +
                                "\0--remote-debugging-port=9802\0");
    proc.addProcess(24, {});
    proc.setCommandLine(24, QByteArray(1000, '\0'));
    QDir(proc.root()).mkpath(u"self"_qs);
    QDir(proc.root()).mkpath(u"-1"_qs);
    QVERIFY(FakeProcTree::writeFile(proc.root() + u"/25"_qs, "a file, not a folder"));

    QCOMPARE(portsOf(ProcessDiscovery(proc.root()).find(Kind::Chromium)), QList<quint16>{9800});
    QCOMPARE(portsOf(ProcessDiscovery(proc.root() + u"/missing"_qs).find(Kind::Chromium)),
             QList<quint16>{});
}

// Two processes cannot listen on one port: the second claim comes from a port file that an
// earlier browser left behind.
void TestProcessDiscovery::oneEndpointPerPort()
{
    FakeProcTree proc;
    proc.addProcess(30, words("chromium --remote-debugging-port=9900"));
    proc.addProcess(31, words("chromium --remote-debugging-port=9900"));
    proc.addProcess(32, words("chromium --remote-debugging-port=9901"));

    QCOMPARE(portsOf(ProcessDiscovery(proc.root()).find(Kind::Chromium)),
             (QList<quint16>{9900, 9901}));
}

// Processes are looked at again and again; what is ruled out once must not hide a browser.
void TestProcessDiscovery::laterChangesAreSeen()
{
    FakeProcTree proc;
    // Debian's chromium is a shell script that becomes the browser by exec, under its own id.
    proc.addProcess(40, words("/bin/sh /usr/bin/chromium --remote-debugging-port=9910"));
    ProcessDiscovery patient(proc.root());
    QCOMPARE(portsOf(patient.find(Kind::Chromium)), QList<quint16>{});
    constexpr char browser[] = "/usr/lib/chromium/chromium\0--remote-debugging-port=9910";
    proc.setCommandLine(40, QByteArray(browser, sizeof browser));
    QCOMPARE(portsOf(patient.find(Kind::Chromium)), QList<quint16>{9910});

    // Even with processes ruled out at first sight: a browser still writing its port file is
    // not ruled out, and an id that came back belongs to a new process.
    ProcessDiscovery hasty(proc.root(), std::nullopt, 0);
    const QString profile = proc.scratch(u"late"_qs);
    proc.addProcess(
        41, {"chromium", "--remote-debugging-port=0", "--user-data-dir=" + profile.toUtf8()});
    proc.addProcess(42, words("bash"));
    QCOMPARE(portsOf(hasty.find(Kind::Chromium)), QList<quint16>{9910});
    QVERIFY(
        FakeProcTree::writeFile(profile + u"/DevToolsActivePort"_qs, "9911\n/devtools/browser/x"));
    proc.removeProcess(42);
    QCOMPARE(portsOf(hasty.find(Kind::Chromium)), (QList<quint16>{9910, 9911}));
    proc.addProcess(42, words("chromium --remote-debugging-port=9912"));
    QCOMPARE(portsOf(hasty.find(Kind::Chromium)), (QList<quint16>{9910, 9911, 9912}));
}

// The real /proc holds this test's own process, and reading it all must go without trouble.
void TestProcessDiscovery::realProcIsReadable()
{
    const QList<DebugEndpoint> chromium = ProcessDiscovery().find(Kind::Chromium);
    const QList<DebugEndpoint> firefox = ProcessDiscovery().find(Kind::Firefox);
    for (const DebugEndpoint &endpoint : chromium + firefox)
        QVERIFY(endpoint.pid > 0 && endpoint.port > 0);
}

QTEST_GUILESS_MAIN(TestProcessDiscovery)
#include "tst_processdiscovery.moc"
