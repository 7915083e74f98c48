#include "app/BrowserBackends.h"
#include "support/EndToEndRig.h"

#include <QLabel>
#include <QStandardPaths>
#include <QTest>

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

} // namespace

// The whole program closing pages of real Chromium and Firefox: whole windows through X11, and
// single tabs through DevTools and WebDriver BiDi; and pages made to hurt it.
class TestBrowsers : public QObject
{
    Q_OBJECT
    EndToEndRig m_rig;

private slots:
    void initTestCase() { m_rig.verifyReady(); }
    void init() { EndToEndRig::skipUnlessInstalled(); }
    void windowWithAMatchingTitleIsClosedAndNoOther_data() { EndToEndRig::browserRows(); }
    void windowWithAMatchingTitleIsClosedAndNoOther();
    void matchingTabsAreClosedNotTheirWindow_data() { EndToEndRig::browserRows(); }
    void matchingTabsAreClosedNotTheirWindow();
    void hostileTitlesAndAKilledBrowserLeaveTheScanGoing();
    void pageThatRefusesToBeLeftIsMatchedAgain();
};

// Two browsers, each with a window of its own: the one whose title holds both keywords, in
// another case, among markup and a CR LF, is closed and its process ends; the status line names
// its page as plain text without the browser's name, and nothing in the title is fetched. The
// other browser stays.
void TestBrowsers::windowWithAMatchingTitleIsClosedAndNoOther()
{
    QFETCH(QString, kind);
    const QString trap = m_rig.pages.url(u"Piège"_qs, u"trap"_qs);
    ProgramRig program("\"CaSiNo\"\r\n", EndToEndRig::x11Only);
    program.addKeyword(u", la pub"_qs);
    const QString spared = u"Recettes de cuisine"_qs;
    // The browser collapses the CR LF into a blank, so both keywords match.
    const QString title = u"Le CASINO, \r\nla pub <img src=\"%1\"> <b>gras</b> du café"_qs;
    const QString closed = title.arg(trap).replace(u" \r\n"_qs, u" "_qs);
    BrowserProcess keep(kind, BrowserProcess::Windowed, {m_rig.pages.url(spared, u"spared"_qs)});
    BrowserProcess gambling(kind, BrowserProcess::Windowed,
                            {m_rig.pages.url(title.arg(trap), u"closed"_qs)});

    QTRY_VERIFY_WITH_TIMEOUT(!gambling.isRunning(), startTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(program.pageNames().contains(spared), startTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!program.pageNames().contains(closed), scanTimeoutMs);
    QVERIFY(keep.isRunning());
    QCOMPARE(program.journal(),
             ProgramRig::Journal({{u"CaSiNo"_qs, QString()}, {u", la pub"_qs, QString()}}));
    QCOMPARE(program.form->sb->text(),
             u"Fermeture: %1     (Total:%2)"_qs.arg(closed).arg(program.closings()));
    QCOMPARE(program.form->sb->textFormat(), Qt::PlainText);
    QVERIFY(!m_rig.pages.wasServed(trap));
}

// A browser with remote debugging shows each tab with its address: a keyword in the title
// alone or in the address alone, each in another case, closes that tab and leaves the others
// and their window. The last tab goes too: Firefox ignores a request to close it, so the
// program closes its window instead, which ends the browser.
void TestBrowsers::matchingTabsAreClosedNotTheirWindow()
{
    QFETCH(QString, kind);
    TitledPageServer &pages = m_rig.pages;
    const QString garden = pages.url(u"Garden news"_qs, kind + u"/spared/a"_qs);
    const QString byTitle = pages.url(u"Big ROULETTE night"_qs, kind + u"/b"_qs);
    const QString byAddress = pages.url(u"Quiet reading"_qs, kind + u"/pub-zone/c"_qs);
    const QString cafe = pages.url(u"Cuisine — café ☕"_qs, kind + u"/spared/d?x=1"_qs);
    BrowserProcess browser(kind, BrowserProcess::RemoteDebugging,
                           {garden, byTitle, byAddress, cafe});
    m_rig.see(browser);
    ProgramRig program(
        {}, [this](CompositeBrowserSource &source) { addBrowserBackends(source, m_rig.tabs); });
    // Keywords come once the tabs are listed one by one: until then the window stands for
    // them, and a match would close it whole.
    QTRY_COMPARE_WITH_TIMEOUT(program.addresses(), (QSet{garden, byTitle, byAddress, cafe}),
                              startTimeoutMs);
    program.addKeyword(u"RouLette"_qs);
    program.addKeyword(u"PUB-ZONE"_qs);

    QTRY_VERIFY_WITH_TIMEOUT(pages.isGone(byTitle) && pages.isGone(byAddress), scanTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(program.addresses(), (QSet{garden, cafe}), scanTimeoutMs);
    QCOMPARE(program.journal(),
             ProgramRig::Journal({{u"RouLette"_qs, byTitle}, {u"PUB-ZONE"_qs, byAddress}}));
    QCOMPARE(program.closings(), 2);
    QVERIFY(!pages.isGone(garden) && !pages.isGone(cafe));
    QVERIFY(browser.isRunning());

    program.addKeyword(u"SPARED"_qs);
    QTRY_VERIFY_WITH_TIMEOUT(!browser.isRunning(), scanTimeoutMs);
    QVERIFY(program.journal().contains({u"SPARED"_qs, garden}));
    QVERIFY(program.journal().contains({u"SPARED"_qs, cafe}));
}

// A Chromium tab whose title changes every 10 ms among 100,000 characters, control characters,
// direction marks, a lone surrogate and markup, read through DevTools until its browser is
// killed: the scan goes on, and nothing in a title is fetched.
void TestBrowsers::hostileTitlesAndAKilledBrowserLeaveTheScanGoing()
{
    const QString trap = m_rig.pages.url(u"Piège"_qs, u"trap"_qs);
    ProgramRig program(
        {}, [this](CompositeBrowserSource &source) { addBrowserBackends(source, m_rig.tabs); });
    const QString churn = u"const titles = ['x'.repeat(100000), 'a\\u0001\\u0007\\u001b[31mb', "
                          u"'\\u202eenilno\\u200f \\u061c', 'half \\ud800 pair', "
                          u"'<a href=\"%1\">lien</a>'];"
                          u"let n = 0; setInterval(() => { document.title = 'churn ' + n + ' ' + "
                          u"titles[n++ % titles.length]; }, 10);"_qs.arg(trap);
    BrowserProcess churning(u"chromium"_qs, BrowserProcess::RemoteDebugging, {scriptedPage(churn)});
    m_rig.see(churning);
    QSet<QString> seen;
    QTRY_VERIFY_WITH_TIMEOUT((seen += program.pageNames(), seen.size() > 5), startTimeoutMs);
    churning.kill();
    QTRY_VERIFY_WITH_TIMEOUT(program.pageNames().isEmpty(), scanTimeoutMs);
    QVERIFY(program.form->Timer1->isActive());
    QVERIFY(!m_rig.pages.wasServed(trap));
}

// A page the user touched may refuse to be left: Chromium then asks "Leave site?" and keeps the
// window. The program matches it again at every tick and goes on scanning.
void TestBrowsers::pageThatRefusesToBeLeftIsMatchedAgain()
{
    if (QStandardPaths::findExecutable(u"xdotool"_qs).isEmpty())
        QSKIP("xdotool is not installed");
    ProgramRig program({}, EndToEndRig::x11Only);
    BrowserProcess stubborn(u"chromium"_qs, BrowserProcess::Windowed,
                            {u"--window-position=0,0"_qs, u"--window-size=600,400"_qs,
                             scriptedPage(u"document.title = 'Reste ici'; document.onclick = () => "
                                          u"{ document.title = 'Reste ici touchée'; };"_qs)});
    QTRY_VERIFY_WITH_TIMEOUT(program.pageNames().contains(u"Reste ici"_qs), startTimeoutMs);
    // A real click, through the X server, gives the page the user activation it needs to hold
    // the user back.
    const auto click = [] {
        QProcess xdotool;
        xdotool.start(u"xdotool"_qs, {u"mousemove"_qs, u"300"_qs, u"250"_qs, u"click"_qs, u"1"_qs});
        return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(click() && program.pageNames().contains(u"Reste ici touchée"_qs),
                             scanTimeoutMs);

    program.addKeyword(u"touchée"_qs);
    QTRY_VERIFY_WITH_TIMEOUT(program.closings() >= 4, scanTimeoutMs);
    QVERIFY(stubborn.isRunning());
    QVERIFY(program.pageNames().contains(u"Reste ici touchée"_qs));
    QCOMPARE(column(program.form->ListView2, 0), QStringList{QString::number(program.closings())});
    QVERIFY(program.form->Timer1->isActive());
}

QTEST_MAIN(TestBrowsers)
#include "tst_browsers.moc"
