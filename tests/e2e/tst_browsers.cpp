#include "app/UnwatchedBrowsers.h"
#include "bridge/BridgeMessages.h"
#include "bridge/BridgeSocketPath.h"
#include "sources/bridge/HostManifests.h"
#include "support/EndToEndRig.h"
#include "support/ScriptedTray.h"
#include "support/ShardedTestMain.h"
#include "support/X11TestDisplay.h"

#include <QLabel>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <optional>

namespace {

// A page that runs the script, and refuses to be left as popups that fight back do.
QString scriptedPage(const QString &script)
{
    const QString html = u"<script>onbeforeunload = e => { e.preventDefault(); "
                         u"return e.returnValue = 'rester'; };"_qs +
                         script + u"</script><p>Vexlor test page"_qs;
    return u"data:text/html;charset=utf-8,"_qs +
           QString::fromLatin1(html.toUtf8().toPercentEncoding());
}

void browserRows()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("chromium") << u"chromium"_qs;
    QTest::newRow("firefox") << u"firefox"_qs;
}

} // namespace

// The whole program closing pages of real Chromium and Firefox: whole windows through X11, tabs
// through DevTools and WebDriver BiDi, popups through the bridge; and pages made to hurt it. The
// runtime folder, with the bridge's socket and every temporary file, is the test's own; so is the
// /proc where tab-level backends look for browsers, and where see() puts the test's browsers.
class TestBrowsers : public QObject
{
    Q_OBJECT
    QTemporaryDir m_runtime;
    std::unique_ptr<X11TestDisplay> m_display = X11TestDisplay::connectSteadily(30000);
    TitledPageServer m_pages;
    TabSourceSettings m_tabs;

    void see(const BrowserProcess &browser)
    {
        const QString pid = QString::number(browser.pid());
        QFile::link(u"/proc/"_qs + pid, m_tabs.procRoot + u'/' + pid);
    }

private slots:
    void initTestCase();
    // Rows are browsers; tests without rows use Chromium.
    void init()
    {
        const QString kind = QString::fromLatin1(QTest::currentDataTag());
        if (!BrowserProcess::isInstalled(kind.isEmpty() ? u"chromium"_qs : kind))
            QSKIP("the browser is not installed");
    }
    // In this order, the two shards that take every other function take about as long.
    void matchingWindowsAndTabsAreClosedAndNoOther_data() { browserRows(); }
    void matchingWindowsAndTabsAreClosedAndNoOther();
    void hostilePagesLeaveTheScanGoing();
    void killedTestLeavesNoBrowserNorHost_data() { browserRows(); }
    void killedTestLeavesNoBrowserNorHost();
    void popupsClosedOnceAcrossRestartsOfProgramAndHost_data() { browserRows(); }
    void popupsClosedOnceAcrossRestartsOfProgramAndHost();
    void popupReportedByTheBridgeIsClosedOnceBeforeAnyTick_data() { browserRows(); }
    void popupReportedByTheBridgeIsClosedOnceBeforeAnyTick();
    void browserNobodySeesIsReported_data() { browserRows(); }
    void browserNobodySeesIsReported();
    void windowsTheBridgeDoesNotListAreScannedByTitle();
    void hugeAddressLeavesTheBridgeSeeing();
    void aWindowIsClosedWithNoTickToFindIt();
};

void TestBrowsers::initTestCase()
{
    QVERIFY2(m_runtime.isValid() && m_display->isConnected(), "no X display");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    qputenv("TMPDIR", QFile::encodeName(m_runtime.path()));
    QDir().mkpath(m_tabs.procRoot = m_runtime.filePath(u"proc"_qs));
    QFile::link(u"/proc/net"_qs, m_tabs.procRoot + u"/net"_qs);
    QCOMPARE(bridgeSocketPath(), m_runtime.path() + u"/vexlor-popup/bridge"_qs);
    QVERIFY2(QFileInfo::exists(QStringLiteral(VEXLOR_APP_FOLDER "/bridge/vexlor-popup-bridge.xpi")),
             "build vexlor-popup");
}

// Two browsers. One without remote debugging has a window whose title holds both keywords, in
// another case, among markup and a CR LF: the window is closed and the browser ends, and the
// status line names its page as plain text without the browser's name. The other shows each tab
// with its address: a keyword in the title alone or in the address alone closes that tab and
// leaves the others and their window. Its last tab goes too: Firefox ignores a request to close
// it, so the program closes its window instead, which ends the browser.
void TestBrowsers::matchingWindowsAndTabsAreClosedAndNoOther()
{
    QFETCH(QString, kind);
    const QString garden = m_pages.url(u"Garden news"_qs, kind + u"/spared/a"_qs);
    const QString byTitle = m_pages.url(u"Big ROULETTE night"_qs, kind + u"/b"_qs);
    const QString byAddress = m_pages.url(u"Quiet reading"_qs, kind + u"/pub-zone/c"_qs);
    const QString cafe = m_pages.url(u"Cuisine — café ☕"_qs, kind + u"/spared/d?x=1"_qs);
    BrowserProcess browser(kind, BrowserProcess::RemoteDebugging,
                           {garden, byTitle, byAddress, cafe});
    see(browser);
    ProgramRig program("\"CaSiNo\"\r\n", &m_tabs);
    program.addKeyword(u", la pub"_qs);
    // The browser collapses the CR LF into a blank, so both keywords match.
    const QString title = u"Le CASINO, \r\nla pub <img src=\"/trap\"> <b>gras</b> du café"_qs;
    BrowserProcess gambling(kind, BrowserProcess::Windowed,
                            {m_pages.url(title, kind + u"/closed"_qs)});
    QTRY_VERIFY_WITH_TIMEOUT(!gambling.isRunning(), startTimeoutMs);
    QCOMPARE(program.journal(),
             ProgramRig::Journal({{u"CaSiNo"_qs, QString()}, {u", la pub"_qs, QString()}}));
    const int windowClosings = program.closings();
    QCOMPARE(program.form->sb->text(),
             u"Fermeture: %1     (Total:%2)"_qs.arg(QString(title).replace(u" \r\n"_qs, u" "_qs))
                 .arg(windowClosings));
    QCOMPARE(program.form->sb->textFormat(), Qt::PlainText);

    // Keywords come once the tabs are listed one by one: until then the window stands for
    // them, and a match would close it whole. A page closed before its script ran could not
    // tell the server it went.
    QTRY_COMPARE_WITH_TIMEOUT(program.addresses(), (QSet{garden, byTitle, byAddress, cafe}),
                              startTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(m_pages.isShown(byTitle) && m_pages.isShown(byAddress),
                             startTimeoutMs);
    program.addKeyword(u"RouLette"_qs);
    program.addKeyword(u"PUB-ZONE"_qs);
    QTRY_VERIFY_WITH_TIMEOUT(m_pages.isGone(byTitle) && m_pages.isGone(byAddress), scanTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(program.addresses(), (QSet{garden, cafe}), scanTimeoutMs);
    QVERIFY(program.journal().contains({u"RouLette"_qs, byTitle}));
    QVERIFY(program.journal().contains({u"PUB-ZONE"_qs, byAddress}));
    QCOMPARE(program.closings(), windowClosings + 2);
    QVERIFY(browser.isRunning());

    program.addKeyword(u"SPARED"_qs);
    QTRY_VERIFY_WITH_TIMEOUT(!browser.isRunning(), scanTimeoutMs);
}

// Pages made to hurt the program, in Chromium. A tab whose title changes every 10 ms among
// 100,000 characters, control characters, direction marks, a lone surrogate and markup, read
// through DevTools until its browser is killed. Then a page the user touched, which refuses to be
// left: Chromium asks "Leave site?" and keeps the window, and the program matches it again at
// every tick. The scan goes on throughout.
void TestBrowsers::hostilePagesLeaveTheScanGoing()
{
    ProgramRig program({}, &m_tabs);
    const QString churn = u"const titles = ['x'.repeat(100000), 'a\\u0001\\u0007\\u001b[31mb', "
                          u"'\\u202eenilno\\u200f \\u061c', 'half \\ud800 pair', "
                          u"'<a href=\"/trap\">lien</a>'];"
                          u"let n = 0; setInterval(() => { document.title = 'churn ' + n + ' ' + "
                          u"titles[n++ % titles.length]; }, 10);"_qs;
    BrowserProcess churning(u"chromium"_qs, BrowserProcess::RemoteDebugging, {scriptedPage(churn)});
    see(churning);
    QSet<QString> seen;
    QTRY_VERIFY_WITH_TIMEOUT((seen += program.pageNames(), seen.size() > 5), startTimeoutMs);
    churning.kill();
    QTRY_VERIFY_WITH_TIMEOUT(program.pageNames().isEmpty(), scanTimeoutMs);

    if (QStandardPaths::findExecutable(u"xdotool"_qs).isEmpty())
        QSKIP("xdotool is not installed");
    BrowserProcess stubborn(u"chromium"_qs, BrowserProcess::Windowed,
                            {u"--window-position=0,0"_qs, u"--window-size=600,400"_qs,
                             scriptedPage(u"document.title = 'Reste ici'; document.onclick = () => "
                                          u"{ document.title = 'Reste ici touchée'; };"_qs)});
    QTRY_VERIFY_WITH_TIMEOUT(program.pageNames().contains(u"Reste ici"_qs), startTimeoutMs);
    // A real click, through the X server, gives the page the user activation it needs to hold
    // the user back.
    const QStringList click = {u"mousemove"_qs, u"300"_qs, u"250"_qs, u"click"_qs, u"1"_qs};
    QTRY_VERIFY_WITH_TIMEOUT(QProcess::execute(u"xdotool"_qs, click) == 0 &&
                                 program.pageNames().contains(u"Reste ici touchée"_qs),
                             scanTimeoutMs);

    program.addKeyword(u"touchée"_qs);
    QTRY_VERIFY_WITH_TIMEOUT(program.closings() >= 4, scanTimeoutMs);
    QVERIFY(stubborn.isRunning());
    QCOMPARE(column(program.form->ListView2, 0), QStringList{QString::number(program.closings())});
}

// The browser runs before the program. Popups whose title or address holds a keyword, in another
// case, are closed once each; their opener and the others stay. Once the program has restarted,
// then the host, killed and started again by the browser, popups are closed again.
void TestBrowsers::popupsClosedOnceAcrossRestartsOfProgramAndHost()
{
    QFETCH(QString, kind);
    const QString opener = m_pages.url(u"Garden news"_qs, kind + u"/opener"_qs);
    const auto browser = startBrowser(kind, opener);
    const auto host = [&] {
        return BrowserProcess::processesWith(browser->marker(), u"vexlor-popup-bridge"_qs).value(0);
    };
    std::optional<ProgramRig> program;
    const auto start = [&] {
        program.reset();
        program.emplace("\"Casino\"\r\n\"PUB-ZONE\"\r\n", &m_tabs);
        QTRY_VERIFY_WITH_TIMEOUT(program->addresses().contains(opener), startTimeoutMs);
    };
    const auto expectClosed = [&](const QString &path) {
        const QString popup = m_pages.url(u"Calm page"_qs, kind + path);
        m_pages.openFromPage({popup});
        QTRY_VERIFY_WITH_TIMEOUT(m_pages.isGone(popup), scanTimeoutMs);
        QVERIFY(program->journal().contains({u"Casino"_qs, popup}));
    };

    start();
    const QString byTitle = m_pages.url(u"Big CASINO night"_qs, kind + u"/a"_qs);
    const QString byAddress = m_pages.url(u"Quiet reading"_qs, kind + u"/pub-zone/b"_qs);
    const QString cafe = m_pages.url(u"Cuisine — café ☕"_qs, kind + u"/c?x=1"_qs);
    m_pages.openFromPage({byTitle, byAddress, cafe});
    QTRY_VERIFY_WITH_TIMEOUT(m_pages.isGone(byTitle) && m_pages.isGone(byAddress), scanTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(program->addresses(), (QSet{opener, cafe}), scanTimeoutMs);
    QCOMPARE(program->journal(),
             ProgramRig::Journal({{u"Casino"_qs, byTitle}, {u"PUB-ZONE"_qs, byAddress}}));
    // A tab asked to close is hidden from walks for one second only: had one outlived that,
    // the next ticks would have matched and journalled it again.
    const int ticks = program->ticks;
    QTRY_VERIFY_WITH_TIMEOUT(program->ticks >= ticks + 4, scanTimeoutMs);
    QCOMPARE(program->closings(), 2);

    start();
    expectClosed(u"/casino/after-program"_qs);
    const qint64 killed = host();
    QCOMPARE(::kill(pid_t(killed), SIGKILL), 0);
    // The extension waits up to 30 s between two tries of its host.
    QTRY_VERIFY_WITH_TIMEOUT((!QSet<qint64>{0, killed}.contains(host())), 45000);
    expectClosed(u"/casino/after-host"_qs);
}

// A test killed outright, as a timeout kills it, leaves none of the processes it started:
// neither a browser, whose extension would connect to the user's next program, nor its host.
void TestBrowsers::killedTestLeavesNoBrowserNorHost()
{
    QFETCH(QString, kind);
    const QByteArray marker = "VEXLOR_KILLED_RUN=" + QFile::encodeName(m_runtime.path());
    QProcess test;
    test.setEnvironment(QProcess::systemEnvironment() << QString::fromLocal8Bit(marker));
    test.start(QCoreApplication::applicationFilePath(),
               {u"popupsClosedOnceAcrossRestartsOfProgramAndHost:"_qs + kind});
    QTRY_VERIFY_WITH_TIMEOUT(
        !BrowserProcess::processesWith(marker, u"vexlor-popup-bridge"_qs).isEmpty(),
        startTimeoutMs);
    test.kill();
    QVERIFY(test.waitForFinished());
    QTRY_COMPARE_WITH_TIMEOUT(BrowserProcess::processesWith(marker), QList<qint64>(),
                              scanTimeoutMs);
}

// Two browsers of a kind: one with a window, which the X11 source sees, and a headless one, with
// no window, no bridge and no debugging port, which nothing sees and which alone is reported.
void TestBrowsers::browserNobodySeesIsReported()
{
    QFETCH(QString, kind);
    ProgramRig program({}, &m_tabs);
    RunningBrowsers running(m_tabs.procRoot);
    ScriptedTray tray;
    tray.m_shown = true;
    UnwatchedBrowsers unwatched(running, program.seen, tray, program.form->sb);
    unwatched.follow(program.form->Timer1);
    BrowserProcess windowed(kind, BrowserProcess::Windowed,
                            {m_pages.url(u"Seen page"_qs, kind + u"/unwatched/seen"_qs)});
    see(windowed);
    QTRY_VERIFY_WITH_TIMEOUT(program.pageNames().contains(u"Seen page"_qs), startTimeoutMs);
    // The checks that a report waits for come sooner with a quicker tick.
    program.form->Timer1->setInterval(50);
    BrowserProcess headless(kind, BrowserProcess::Headless,
                            {m_pages.url(u"Unseen page"_qs, kind + u"/unwatched/unseen"_qs)});
    see(headless);
    QTRY_COMPARE_WITH_TIMEOUT(unwatched.reported(), QSet{headless.pid()}, startTimeoutMs);
    QCOMPARE(tray.m_messages.size(), 1);
    QVERIFY(tray.m_messages[0].contains(kind == u"chromium" ? u"Chromium"_qs : u"Firefox"_qs));
}

// The filter runs and its next tick is an hour away: a popup whose address holds a keyword is
// closed and journaled through what the bridge reports alone; the tick that follows does not
// journal it again.
void TestBrowsers::popupReportedByTheBridgeIsClosedOnceBeforeAnyTick()
{
    QFETCH(QString, kind);
    const QString opener = m_pages.url(u"Garden news"_qs, kind + u"/reported/opener"_qs);
    const auto browser = startBrowser(kind, opener);
    ProgramRig program("\"PUB-ZONE\"\r\n", &m_tabs);
    program.form->Timer1->start(3600 * 1000);
    const auto listed = [&](const QString &address) {
        const QList<BrowserPage> pages = program.source.walk();
        return std::any_of(pages.cbegin(), pages.cend(),
                           [&](const BrowserPage &page) { return page.address == address; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(listed(opener), startTimeoutMs);
    const QString popup = m_pages.url(u"Calm page"_qs, kind + u"/reported/pub-zone"_qs);
    m_pages.openFromPage({popup});
    QTRY_VERIFY_WITH_TIMEOUT(m_pages.isGone(popup), scanTimeoutMs);
    QCOMPARE(program.ticks, 0);
    QCOMPARE(program.journal(), ProgramRig::Journal({{u"PUB-ZONE"_qs, popup}}));
    program.form->Timer1->start(500);
    QTRY_VERIFY_WITH_TIMEOUT(program.ticks >= 1, scanTimeoutMs);
    QCOMPARE(program.closings(), 1);
    QCOMPARE(column(program.form->ListView2, 0), QStringList{u"1"_qs});
}

// A tab whose address is 1.2 million characters long opens beside the opener: its browser's lists
// still reach the program, so a popup whose address holds a keyword is closed.
void TestBrowsers::hugeAddressLeavesTheBridgeSeeing()
{
    const QString opener = m_pages.url(u"Garden news"_qs, u"huge/opener"_qs);
    const auto browser = startBrowser(u"chromium"_qs, opener);
    ProgramRig program("\"PUB-ZONE\"\r\n", &m_tabs);
    QTRY_VERIFY_WITH_TIMEOUT(program.addresses().contains(opener), startTimeoutMs);
    const QString huge = m_pages.url(u"Long"_qs, u"huge/long"_qs) + u'#' + QString(1200000, u'x');
    const QString popup = m_pages.url(u"Calm page"_qs, u"huge/pub-zone"_qs);
    m_pages.openFromPage({huge, popup});
    QTRY_VERIFY_WITH_TIMEOUT(m_pages.isGone(popup), scanTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(
        program.addresses().contains(huge.first(BridgeMessages::kClippedLength)), scanTimeoutMs);
}

// Chromium on the X display with the bridge, which does not see its incognito windows: such a
// window is scanned by its title, while a tab the bridge lists is closed once, by the bridge.
void TestBrowsers::windowsTheBridgeDoesNotListAreScannedByTitle()
{
    const QString opener = m_pages.url(u"Garden news"_qs, u"private/opener"_qs);
    const auto browser = startBrowser(u"chromium"_qs, opener, BrowserProcess::Windowed);
    ProgramRig program("\"Casino\"\r\n", &m_tabs);
    QTRY_VERIFY_WITH_TIMEOUT(program.addresses().contains(opener), startTimeoutMs);
    const QString popup = m_pages.url(u"Big CASINO night"_qs, u"private/popup"_qs);
    m_pages.openFromPage({popup});
    QTRY_VERIFY_WITH_TIMEOUT(m_pages.isGone(popup), scanTimeoutMs);
    const int ticks = program.ticks;
    QTRY_VERIFY_WITH_TIMEOUT(program.ticks >= ticks + 6, scanTimeoutMs);
    QCOMPARE(program.journal(), ProgramRig::Journal({{u"Casino"_qs, popup}}));
    QCOMPARE(program.closings(), 1);

    const QString secret = m_pages.url(u"Secret casino"_qs, u"private/secret"_qs);
    browser->open({u"--incognito"_qs, secret});
    QTRY_VERIFY_WITH_TIMEOUT(m_pages.isGone(secret), scanTimeoutMs);
    QVERIFY(program.journal().contains({u"Casino"_qs, QString()}));
    QVERIFY(browser->isRunning());
}

// Chromium opens a window while the program's next tick is an hour away: the window's title is
// matched as it comes.
void TestBrowsers::aWindowIsClosedWithNoTickToFindIt()
{
    ProgramRig program("\"Casino\"\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(program.ticks > 0, scanTimeoutMs);
    program.form->Timer1->start(3600 * 1000);
    const int ticks = program.ticks;
    BrowserProcess gambling(u"chromium"_qs, BrowserProcess::Windowed,
                            {m_pages.url(u"Big CASINO night"_qs, u"untimed/a"_qs)});
    QTRY_VERIFY_WITH_TIMEOUT(!gambling.isRunning(), startTimeoutMs);
    QCOMPARE(program.ticks, ticks);
    QCOMPARE(program.journal(), ProgramRig::Journal({{u"Casino"_qs, QString()}}));
}

VEXLOR_SHARDED_TEST_MAIN(TestBrowsers)
#include "tst_browsers.moc"
