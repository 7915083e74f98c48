#include "sources/tabs/BidiSource.h"
#include "sources/tabs/DevToolsSource.h"
#include "support/EndToEndRig.h"
#include "support/FakeBidiBrowser.h"
#include "support/FakeDevTools.h"
#include "support/TabSourceRig.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using Kind = DebugEndpoint::Kind;
using DevToolsRig = TabSourceRig<FakeDevTools, DevToolsSource>;
using BidiRig = TabSourceRig<FakeBidiBrowser, BidiSource>;

namespace {

// Only a limit: every wait ends when its condition holds, sooner on a machine not overloaded.
constexpr int waitMs = 30000;
const QByteArray chromium = "300 chromium --remote-debugging-port=$P";
const QByteArray firefox = "700 firefox-esr --remote-debugging-port $P";

// Starts a shell that waits on its input, as the account given, with the debugging port on its
// command line and, when it listens, a socket listening on 127.0.0.1 at that port.
void startShell(QProcess &shell, const QString &program, quint16 port, uid_t uid, bool listens)
{
    shell.setProgram(program);
    shell.setArguments({u"-c"_qs, u"read line"_qs, u"--remote-debugging-port=%1"_qs.arg(port)});
    shell.setChildProcessModifier([port, uid, listens] {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::setuid(uid) != 0)
            ::_exit(126);
        const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
        if (listens && (::bind(socket, reinterpret_cast<sockaddr *>(&address), sizeof address) ||
                        ::listen(socket, 1)))
            ::_exit(126);
    });
    shell.start();
}

// What a source reports: names, "?" for a title not read, handle ids and addresses.
struct Reports
{
    explicit Reports(BrowserWindowSource &source)
    {
        source.setPagesReported([this](const QList<BrowserPage> &pages) {
            elsewhere =
                elsewhere || QThread::currentThread() != QCoreApplication::instance()->thread();
            for (const BrowserPage &page : pages)
                names.append(page.pageName.value_or(u"?"_qs)), ids.append(page.handle.id),
                    addresses.append(page.address.value_or(QString()));
        });
    }
    QStringList names, addresses;
    QByteArrayList ids;
    bool elsewhere = false;
};

// Beta opens after Alpha is listed: told by an event, which no reading would show yet, or, by a
// browser that refuses to tell, listed by the next reading.
template <typename Rig>
void reportOpenedTab(Rig &rig, bool refuses)
{
    Reports reports(*rig.source);
    rig.browser.refusesEvents = refuses;
    rig.browser.tabs = {{u"a"_qs, u"Alpha"_qs}};
    QTRY_COMPARE_WITH_TIMEOUT(reports.names, QStringList{u"Alpha"_qs}, waitMs);
    refuses ? rig.browser.tabs.append({u"b"_qs, u"Beta"_qs})
            : rig.browser.announce({u"b"_qs, u"Beta"_qs});
    QTRY_COMPARE_WITH_TIMEOUT(reports.names.last(), u"Beta"_qs, waitMs);
    QCOMPARE(reports.ids.last(), QByteArray::number(rig.browser.port()) + "/b");
    QVERIFY(reports.names.count(u"Alpha"_qs) == 1 && !reports.elsewhere);
    QVERIFY(!refuses || rig.names() == (QStringList{u"Alpha"_qs, u"Beta"_qs}));
}

// A tab whose id holds what addresses and JSON give meaning to, asked to close once listed; not
// the last, which Firefox would keep.
template <typename Rig>
void closeOddlyNamedTab(Rig &rig)
{
    rig.browser.tabs = {{u"a/b?c%d#e f\"\\"_qs, u"Alpha"_qs}, {u"b"_qs, u"Beta"_qs}};
    QTRY_COMPARE_WITH_TIMEOUT(rig.names(), (QStringList{u"Alpha"_qs, u"Beta"_qs}), waitMs);
    rig.source->requestClose(rig.source->walk().value(0).handle);
}

} // namespace

class TestTabSources : public QObject
{
    Q_OBJECT

private slots:
    // A refused session is reported once; a test that expects the report says so.
    void init() { QTest::failOnWarning(QRegularExpression(u"refuse une session"_qs)); }

    void discoveryFindsTheUsersDebuggableBrowsers_data();
    void discoveryFindsTheUsersDebuggableBrowsers();
    void discoveryIgnoresAPortAnotherAccountListensOn();
    void theCensusOfProcListsTheProcessesMadeSinceAndNoThread();
    void aBackendFindsABrowserThatAnotherLookOfTheCensusFound();

    void devToolsDropsAStalledBadOrVanishedBrowser_data();
    void devToolsDropsAStalledBadOrVanishedBrowser();
    void devToolsDistrustsAStalePortFile();
    void openedTabsAreReportedByEventsOrPolling_data();
    void openedTabsAreReportedByEventsOrPolling();
    void realBrowsersReportAnOpenedTab_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("chromium") << u"chromium"_qs;
        QTest::newRow("firefox") << u"firefox"_qs;
    }
    void realBrowsersReportAnOpenedTab();
    void closeRequestsNameTheWholeTabIdAndSkipThePrompt();

    void bidiAsksOneThingAtATimeInOneSessionEndedAtTheEnd();
    void bidiDropsAStalledBrowserAndReportsARefusedSession_data();
    void bidiDropsAStalledBrowserAndReportsARefusedSession();
    void bidiLeavesAFirefoxThatDoesNotNameTheProcessAlone_data();
    void bidiLeavesAFirefoxThatDoesNotNameTheProcessAlone();
};

// Each row is FakeProcTree lines and looks, cut at ";": "?c <found>" or "?f <found>" is what a
// look for Chromium or Firefox finds, as "pid:port" and the target that the port file names;
// "~c" or "!c" says that some process may yet prove to be a Chromium, or that none may. A first
// line "settle 0" rules processes out at first sight.
void TestTabSources::discoveryFindsTheUsersDebuggableBrowsers_data()
{
    QTest::addColumn<QByteArray>("script");
    // Debian's chromium is a shell script that becomes the browser by exec, under its own id.
    QTest::newRow("the port on the command line: chromium's last, firefox's apart, joined or "
                  "the default; a wrapper script that becomes the browser")
        << QByteArray(
               "1 /usr/lib/chromium/chromium --remote-debugging-port=9333 https://a.b/; 2 "
               "/opt/google/chrome/chrome -remote-debugging-port=1 "
               "-remote-debugging-port=9334; listen 9333 1; listen 9334 2; ?c 1:9333 "
               "2:9334; 11 firefox-esr --remote-debugging-port 9444; 12 "
               "/usr/lib/firefox-esr/firefox-esr -remote-debugging-port=9445; 13 firefox "
               "--remote-debugging-port https://example.org/; listen 9444 11; listen 9445 "
               "12; listen 9222 13; ?f 11:9444 12:9445 13:9222; 40 /bin/sh /usr/bin/chromium "
               "--remote-debugging-port=9910; listen 9910 40; ?c 1:9333 2:9334; 40 "
               "/usr/lib/chromium/chromium --remote-debugging-port=9910; ?c 1:9333 2:9334 40:9910");
    QTest::newRow("helpers, other programs and bad ports are no browser, a renamed one is")
        << QByteArray(
               "3 /usr/lib/chromium/chromium --type=renderer --remote-debugging-port=9; 4 "
               "/usr/bin/node --remote-debugging-port=9336; 5 chromium -- "
               "--remote-debugging-port=9337; 6 chromium --remote-debugging-port=99999; 7 chromium "
               "--remote-debugging-port=abc; 8 firefox-esr --remote-debugging-port=9338; 18 "
               "browser --remote-debugging-port=9600; link 18 exe /usr/lib/chromium/chromium; 19 "
               "browser --remote-debugging-port=9601; link 19 exe /usr/bin/python3; listen 9 3 9; "
               "listen 9336 4; listen 9337 5; listen 9338 8; listen 9600 18; listen 9601 19; ?c "
               "18:9600; 9 /usr/lib/firefox-esr/firefox-esr -contentproc --remote-debugging-port "
               "9; 10 chromium --remote-debugging-port=9339; listen 9339 10; ?f 8:9338");
    // The tree lies: the ids made since the last look are looked up, not listed, so process 6
    // goes unseen until loadavg names it, and a thread is no browser of its own. Once ids wrap
    // round, /proc is listed again.
    QTest::newRow("processes made since the last look, and a wrap") << QByteArray(
        "1 chromium --remote-debugging-port=9333; listen 9333 1; newest 5; ?c 1:9333; 6 chromium "
        "--remote-debugging-port=9334; listen 9334 6; ?c 1:9333; thread 7 6; newest 7; ?c 1:9333 "
        "6:9334; rm 1; ?c 6:9334; 2 chromium --remote-debugging-port=9335; listen 9335 2; newest "
        "3; ?c 2:9335 6:9334");
    QTest::newRow("chromium's port file, in an absolute or a relative profile, missing or wrong")
        << QByteArray("file w/a/DevToolsActivePort 41234\n/devtools/browser/abc-123\n; 1 chromium "
                      "--headless --user-data-dir=$S/w/a --remote-debugging-port=0; file "
                      "w/b/DevToolsActivePort 41235; 2 chromium --user-data-dir=b "
                      "--remote-debugging-port=0; link 2 cwd $S/w; listen 41234 1; listen 41235 2; "
                      "3 chromium --user-data-dir=$S/none --remote-debugging-port=0; file "
                      "bad/DevToolsActivePort \x7f"
                      "ELF\x01\x02; 4 chromium --user-data-dir=$S/bad --remote-debugging-port=0; "
                      "file zero/DevToolsActivePort 0\n/devtools/browser/x\n; 5 chromium "
                      "--user-data-dir=$S/zero --remote-debugging-port=0; listen 0 5; ?c "
                      "1:41234/devtools/browser/abc-123 2:41235");
    // A Firefox started on a profile chosen by name names no folder on its command line; the lock
    // file it holds open tells where its profile is.
    QTest::newRow("firefox's server file, in the profile named or locked, missing or wrong")
        << QByteArray(
               "file p/WebDriverBiDiServer.json {\n  \"ws_host\": \"127.0.0.1\",\n  \"ws_port\": "
               "39803\n}; 1 firefox-esr --profile $S/p --remote-debugging-port 0 https://a.b/; "
               "file x.default-esr/WebDriverBiDiServer.json {\"ws_port\": 40001}; file "
               "x.default-esr/.parentlock ; 2 firefox-esr -P default-esr "
               "--remote-debugging-port=0; link 2 fd/0 /dev/null; link 2 fd/3 socket:[12345]; link "
               "2 fd/15 $S/x.default-esr/.parentlock; listen 39803 1; listen 40001 2; 3 firefox "
               "--profile $S/none --remote-debugging-port 0; file 4/WebDriverBiDiServer.json "
               "ws_port=39804; 4 firefox --profile $S/4 --remote-debugging-port 0; file "
               "5/WebDriverBiDiServer.json {\"ws_port\": \"39804\"}; 5 firefox --profile $S/5 "
               "--remote-debugging-port 0; file 6/WebDriverBiDiServer.json {\"ws_port\": 70000}; 6 "
               "firefox --profile $S/6 --remote-debugging-port 0; file 7/WebDriverBiDiServer.json "
               "{\"ws_port\": 398.5}; 7 firefox --profile $S/7 --remote-debugging-port 0; listen "
               "39804 4 5; ?f 1:39803 2:40001");
    // Another account may bind the port first, to be talked to in the browser's place; a process
    // that the browser forked holds its socket too.
    QTest::newRow("who holds the port: another user, another address, a forked process")
        << QByteArray(
               "1 chromium --remote-debugging-port=9333; listen 9333; 2 chromium "
               "--remote-debugging-port=9334; listen 9334 2; listen 9334; 3 chromium "
               "--remote-debugging-port=9335; listen 9335 3; listen 00000000:9335; 4 chromium "
               "--remote-debugging-port=9336; 5 chromium --remote-debugging-port=9337; listen 9337 "
               "5; listen 0200007F:9337; 10 chromium --remote-debugging-port=9700; 11:1001 "
               "chromium --remote-debugging-port=9701; listen 9700 10; listen 9701 11; 21 chromium "
               "--remote-debugging-port=9801; rm 21/status; 22; self chromium "
               "--remote-debugging-port=9802; -1 chromium --remote-debugging-port=9803; listen "
               "9801 21; 30 chromium --remote-debugging-port=9900; 31 chromium "
               "--remote-debugging-port=9900; 32 chromium --remote-debugging-port=9901; listen "
               "9900 30 31; listen 9901 32; ?c 5:9337 10:9700 30:9900 32:9901; 6 firefox "
               "--remote-debugging-port 9338; listen 0000000000000000FFFF00000100007F:9338 6; "
               "listen 00000000000000000000000000000000:9338; 7 firefox --remote-debugging-port "
               "9339; listen 00000000000000000000000000000000:9339 7; ?f 7:9339");
    // Ruled out at first sight, a browser still writing its port file is looked at again, and an
    // id that came back belongs to a new process.
    QTest::newRow("what is ruled out does not hide a browser") << QByteArray(
        "settle 0; 41 chromium --remote-debugging-port=0 --user-data-dir=$S/late; 42 bash; listen "
        "9911 41; ?c; file late/DevToolsActivePort 9911\n/devtools/browser/x; rm 42; ?c "
        "41:9911/devtools/browser/x; 42 chromium --remote-debugging-port=9912; listen 9912 42; ?c "
        "41:9911/devtools/browser/x 42:9912");
    // Kernel threads and helpers have nothing left to exec; Chromium's helpers write their command
    // line anew, as one string. A process between two programs has no command line for a moment.
    QTest::newRow("what cannot become a browser is ruled out at once") << QByteArray(
        "1; 2 /usr/lib/chromium/chromium --type=renderer; 3 firefox-esr -contentproc "
        "-isForBrowser; 4 /usr/lib/chromium/chromium%20--type=zygote%20--no-sandbox; ?c; !c; 5 "
        "/bin/sh /usr/bin/chromium; execing 5; ?c; ~c; 5 /usr/lib/chromium/chromium "
        "--remote-debugging-port=9333; listen 9333 5; ?c 5:9333");
}

void TestTabSources::discoveryFindsTheUsersDebuggableBrowsers()
{
    QFETCH(QByteArray, script);
    FakeProcTree proc;
    const bool hasty = script.startsWith("settle 0;");
    const auto census = std::make_shared<ProcessIds>(proc.root());
    ProcessDiscovery discovery(census, FakeProcTree::userId, hasty ? 0 : 10'000);
    // Another looker of the census looks after every change: each finds what it would alone.
    ProcessDiscovery other(census, FakeProcTree::userId);
    for (QByteArray line : script.split(';').mid(hasty ? 1 : 0)) {
        line = line.trimmed();
        if (line.startsWith('~') || line.startsWith('!')) {
            QCOMPARE(discovery.settling(line[1] == 'c' ? Kind::Chromium : Kind::Firefox),
                     line[0] == '~');
            continue;
        }
        if (!line.startsWith('?')) {
            proc.apply(line);
            other.find(Kind::Chromium);
            continue;
        }
        QByteArrayList found;
        for (const DebugEndpoint &e :
             discovery.find(line[1] == 'c' ? Kind::Chromium : Kind::Firefox))
            found.append(QByteArray::number(e.pid) + ':' + QByteArray::number(e.port) +
                         e.browserTarget);
        QCOMPARE(found.join(' '), line.mid(3));
    }
}

// The real /proc, listed from the first id made since the last look on, and read as it is written.
void TestTabSources::theCensusOfProcListsTheProcessesMadeSinceAndNoThread()
{
    ProcessIds census(u"/proc"_qs);
    ProcessIds::Cursor cursor;
    QVERIFY(census.look(cursor).pids.contains(::getpid()));
    // The kernel's thread maker is a kernel thread, as the flags of its stat tell.
    QVERIFY(isKernelThreadOrZombie(u"/proc/2"_qs) && !isKernelThreadOrZombie(u"/proc/self"_qs));
    QProcess child;
    child.start(u"sleep"_qs, {u"60"_qs});
    QVERIFY(child.waitForStarted());
    qint64 threadId = 0;
    std::thread thread([&threadId] { threadId = ::gettid(); });
    thread.join();
    const ProcessIds::Look look = census.look(cursor);
    QVERIFY(look.pids.contains(child.processId()));
    QVERIFY(!look.pids.contains(threadId));
    // Unless ids wrapped round meanwhile, only what was made since is listed.
    QCOMPARE(look.pids.contains(::getpid()), look.listed);
    child.kill();
    child.waitForFinished();
}

// Where the program looks through the census itself, a backend looks when told of new processes,
// not on a timer of its own.
void TestTabSources::aBackendFindsABrowserThatAnotherLookOfTheCensusFound()
{
    FakeProcTree proc;
    FakeDevTools first;
    FakeDevTools second;
    const auto start = [&](FakeDevTools &browser, const QByteArray &pid) {
        browser.tabs = {{pid, QString::fromLatin1(pid)}};
        const QByteArray port = QByteArray::number(browser.port());
        proc.apply(pid + " chromium --remote-debugging-port=" + port);
        proc.apply("listen " + port + ' ' + pid);
        proc.apply("newest " + pid);
    };
    start(first, "10");
    TabSourceSettings settings;
    settings.procRoot = proc.root();
    settings.userId = FakeProcTree::userId;
    settings.processIds = std::make_shared<ProcessIds>(proc.root());
    settings.censusLookedElsewhere = true;
    settings.discoveryIntervalMs = 3'600'000;
    settings.resyncIntervalMs = 100;
    settings.refreshIntervalMs = 20;
    DevToolsSource source(settings);
    const auto names = [&source] {
        QStringList names;
        for (const BrowserPage &page : source.walk())
            names.append(page.pageName.value_or(QString()));
        return names;
    };
    QTRY_COMPARE_WITH_TIMEOUT(names(), QStringList{u"10"_qs}, waitMs);
    start(second, "20");
    ProcessIds::Cursor cursor;
    QTRY_COMPARE_WITH_TIMEOUT((settings.processIds->look(cursor), names()),
                              (QStringList{u"10"_qs, u"20"_qs}), waitMs);
}

// Real processes on the real /proc: a shell of ours that calls itself chromium.
void TestTabSources::discoveryIgnoresAPortAnotherAccountListensOn()
{
    if (::geteuid() != 0)
        QSKIP("only root can listen as another account");
    QTemporaryDir folder;
    const QString chromium = folder.filePath(u"chromium"_qs);
    QVERIFY(QFile::link(u"/bin/sh"_qs, chromium));
    QTcpServer free;
    QVERIFY(free.listen(QHostAddress::LocalHost));
    const quint16 port = free.serverPort();
    free.close();
    const auto portOf = [](const QProcess &process) {
        for (const DebugEndpoint &endpoint : ProcessDiscovery().find(Kind::Chromium))
            if (endpoint.pid == process.processId())
                return endpoint.port;
        return quint16(0);
    };

    QProcess stranger, browser, holder;
    startShell(stranger, u"/bin/sh"_qs, port, 65534, true);
    startShell(browser, chromium, port, 0, false);
    QVERIFY(stranger.waitForStarted() && browser.waitForStarted());
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY2(probe.waitForConnected(5000), "the other account listens");
    QCOMPARE(portOf(browser), 0);

    stranger.closeWriteChannel();
    QVERIFY(stranger.waitForFinished());
    startShell(holder, chromium, port, 0, true);
    QVERIFY(holder.waitForStarted());
    QCOMPARE(portOf(holder), port);
    QCOMPARE(portOf(browser), 0);
}

void TestTabSources::devToolsDropsAStalledBadOrVanishedBrowser_data()
{
    QTest::addColumn<QByteArray>("answer");
    const QByteArray huge = '[' + QByteArray(4 << 20, ' ') + ']';
    QTest::newRow("stalled") << QByteArray();
    QTest::newRow("huge") << "HTTP/1.1 200 OK\r\nContent-Length: " +
                                 QByteArray::number(huge.size()) + "\r\n\r\n" + huge;
    QTest::newRow("huge, length unannounced")
        << "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + huge;
}

void TestTabSources::devToolsDropsAStalledBadOrVanishedBrowser()
{
    QFETCH(QByteArray, answer);
    DevToolsRig rig(chromium);
    rig.browser.tabs = {{u"A"_qs, u"Alpha"_qs}};
    QTRY_COMPARE_WITH_TIMEOUT(rig.names(), QStringList{u"Alpha"_qs}, waitMs);

    rig.browser.listAnswer = answer;
    QTRY_VERIFY_WITH_TIMEOUT(rig.names().isEmpty() && !rig.source->covers(300), waitMs);
    rig.browser.listAnswer.reset();
    QTRY_COMPARE_WITH_TIMEOUT(rig.names(), QStringList{u"Alpha"_qs}, waitMs);
    QVERIFY(rig.browser.requests.count("GET /json/version") >= 2);

    rig.browser.vanish();
    QTRY_VERIFY_WITH_TIMEOUT(rig.names().isEmpty() && !rig.source->covers(300), waitMs);
}

// Chromium leaves its port file behind when it ends; another program may own that port now.
void TestTabSources::devToolsDistrustsAStalePortFile()
{
    DevToolsRig rig("600 chromium --user-data-dir=$S/p --remote-debugging-port=0");
    rig.browser.tabs = {{u"A"_qs, u"Alpha"_qs}};
    const QByteArray port = QByteArray::number(rig.browser.port());
    rig.proc.apply("file p/DevToolsActivePort " + port + "\n/devtools/browser/an-earlier-run\n");
    QTRY_VERIFY_WITH_TIMEOUT(rig.browser.requests.count("GET /json/version") >= 2, waitMs);
    QVERIFY(!rig.browser.requests.contains("GET /json/list"));
    QVERIFY(!rig.source->covers(600));

    rig.proc.apply("file p/DevToolsActivePort " + port + '\n' + FakeDevTools::browserTarget);
    QTRY_COMPARE_WITH_TIMEOUT(rig.names(), QStringList{u"Alpha"_qs}, waitMs);
}

void TestTabSources::openedTabsAreReportedByEventsOrPolling_data()
{
    QTest::addColumn<bool>("refuses");
    QTest::newRow("events") << false;
    QTest::newRow("subscription refused") << true;
}

void TestTabSources::openedTabsAreReportedByEventsOrPolling()
{
    QFETCH(bool, refuses);
    DevToolsRig devTools(chromium);
    reportOpenedTab(devTools, refuses);
    BidiRig bidi(firefox, [](qint64) {});
    reportOpenedTab(bidi, refuses);
}

// Read once and never again, a real browser tells of a popup its page opens.
void TestTabSources::realBrowsersReportAnOpenedTab()
{
    QFETCH(QString, kind);
    if (!BrowserProcess::isInstalled(kind))
        QSKIP("the browser is not installed");
    TitledPageServer pages;
    const QString opener = pages.url(u"Opener"_qs, u"opener"_qs);
    BrowserProcess browser(kind, BrowserProcess::Headless | BrowserProcess::RemoteDebugging,
                           {opener});
    TabSourceSettings settings;
    QTemporaryDir proc;
    settings.procRoot = proc.path();
    QFile::link(u"/proc/net"_qs, proc.filePath(u"net"_qs));
    QFile::link(u"/proc/%1"_qs.arg(browser.pid()), proc.filePath(QString::number(browser.pid())));
    settings.refreshIntervalMs = settings.resyncIntervalMs = 3'600'000;
    std::unique_ptr<TabSource> source;
    kind == u"chromium" ? source.reset(new DevToolsSource(settings))
                        : source.reset(new BidiSource([](qint64) {}, settings));
    Reports reports(*source);
    QTRY_VERIFY_WITH_TIMEOUT(reports.addresses.contains(opener), startTimeoutMs);
    const QString popup = pages.url(u"Pop news"_qs, u"popup"_qs);
    pages.openFromPage({popup});
    QTRY_VERIFY_WITH_TIMEOUT(reports.addresses.contains(popup), scanTimeoutMs);
    const QByteArray id = reports.ids[reports.addresses.indexOf(popup)];
    QVERIFY(std::ranges::any_of(source->walk(), [&](auto &page) { return page.handle.id == id; }));
}

// DevTools takes the id as one path segment. BiDi is told not to ask the user, as a page may ask
// "leave this page?" and be kept open.
void TestTabSources::closeRequestsNameTheWholeTabIdAndSkipThePrompt()
{
    DevToolsRig devTools(chromium);
    closeOddlyNamedTab(devTools);
    QTRY_VERIFY_WITH_TIMEOUT(
        devTools.browser.requests.contains("PUT /json/close/a%2Fb%3Fc%25d%23e%20f%22%5C"), waitMs);
    BidiRig bidi(firefox, [](qint64) {});
    closeOddlyNamedTab(bidi);
    QTRY_COMPARE_WITH_TIMEOUT(
        bidi.browser.closes,
        QStringList{u"{\"context\":\"a/b?c%d#e f\\\"\\\\\",\"promptUnload\":false}"_qs}, waitMs);
}

// Firefox keeps a session whose connection went, and refuses every other while it lasts.
void TestTabSources::bidiAsksOneThingAtATimeInOneSessionEndedAtTheEnd()
{
    BidiRig rig(firefox, [](qint64) {});
    rig.browser.tabs = {{u"a"_qs, u"Alpha"_qs}, {u"b"_qs, u"Settings"_qs, true}};
    QTRY_COMPARE_WITH_TIMEOUT(rig.names(), (QStringList{u"Alpha"_qs, u"?"_qs}), waitMs);
    rig.browser.tabs = {{u"c"_qs, u"Gamma"_qs}};
    QTRY_COMPARE_WITH_TIMEOUT(rig.names(), QStringList{u"Gamma"_qs}, waitMs);
    QVERIFY(!rig.browser.overlapped);
    QCOMPARE(rig.browser.methods.count(u"session.new"_qs), 1);
    QVERIFY(rig.browser.session);
    rig.browser.answerAside([&rig] { rig.source.reset(); });
    QVERIFY(!rig.browser.session);
}

void TestTabSources::bidiDropsAStalledBrowserAndReportsARefusedSession_data()
{
    QTest::addColumn<FakeBidiBrowser::Answer>("answer");
    QTest::newRow("stalled") << FakeBidiBrowser::Answer::Silence;
    QTest::newRow("huge answer") << FakeBidiBrowser::Answer::Huge;
}

void TestTabSources::bidiDropsAStalledBrowserAndReportsARefusedSession()
{
    QFETCH(FakeBidiBrowser::Answer, answer);
    BidiRig rig(firefox, [](qint64) {});
    rig.browser.tabs = {{u"a"_qs, u"Alpha"_qs}};
    QTRY_COMPARE_WITH_TIMEOUT(rig.names(), QStringList{u"Alpha"_qs}, waitMs);

    // A huge message closes the WebSocket before the session can end, and Firefox keeps that
    // session: later attempts are refused, and reported once, until the session goes.
    const bool flooding = answer == FakeBidiBrowser::Answer::Huge;
    if (flooding)
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(u"processus 700 .*refuse une session"_qs));
    rig.browser.answer = answer;
    QTRY_VERIFY_WITH_TIMEOUT(rig.names().isEmpty() && !rig.source->covers(700), waitMs);
    rig.browser.answer = FakeBidiBrowser::Answer::Normal;
    if (flooding) {
        QTRY_VERIFY_WITH_TIMEOUT(rig.browser.methods.count(u"session.new"_qs) >= 4, waitMs);
        QVERIFY(rig.names().isEmpty() && !rig.source->covers(700));
        rig.browser.session = nullptr;
    }
    // Otherwise the session was ended on the way out, or the browser would refuse the next one.
    QTRY_COMPARE_WITH_TIMEOUT(rig.names(), QStringList{u"Alpha"_qs}, waitMs);
}

// A port file that an earlier Firefox left behind can name the port of another Firefox, which
// tells its own process id when the session opens; a browser that names none may be anything.
void TestTabSources::bidiLeavesAFirefoxThatDoesNotNameTheProcessAlone_data()
{
    QTest::addColumn<qint64>("processId");
    QTest::newRow("another process") << qint64(701);
    QTest::newRow("no process named") << qint64(0);
}

void TestTabSources::bidiLeavesAFirefoxThatDoesNotNameTheProcessAlone()
{
    QFETCH(qint64, processId);
    QList<qint64> windowsClosed;
    BidiRig rig(firefox, [&](qint64 pid) { windowsClosed.append(pid); });
    rig.browser.processId = processId ? std::optional(processId) : std::nullopt;
    rig.browser.tabs = {{u"a"_qs, u"Alpha"_qs}};
    QTRY_VERIFY_WITH_TIMEOUT(rig.browser.methods.count(u"session.end"_qs) >= 1, waitMs);
    rig.source->requestClose(WindowHandle{0, QByteArray::number(rig.browser.port()) + "/a"});
    QTRY_VERIFY_WITH_TIMEOUT(rig.browser.methods.count(u"session.end"_qs) >= 2, waitMs);
    QVERIFY(rig.names().isEmpty() && !rig.source->covers(700) && !rig.source->covers(701));
    QCOMPARE(rig.browser.methods.count(u"browsingContext.getTree"_qs), 0);
    QCOMPARE(rig.browser.methods.count(u"browsingContext.close"_qs), 0);
    QVERIFY(windowsClosed.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.browser.session, waitMs);
}

QTEST_GUILESS_MAIN(TestTabSources)
#include "tst_tabsources.moc"
