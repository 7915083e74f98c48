#include "app/BrowserBackends.h"
#include "sources/x11/X11BrowserSource.h"
#include "support/EndToEndRig.h"

#include <QLabel>
#include <QTest>

// The whole program closing pages of real Chromium and Firefox: whole windows through X11, and
// single tabs through DevTools and WebDriver BiDi.
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
};

// Two browsers, each with a window of its own: the one whose title holds the keyword, in
// another case, is closed, its process ends, and the status line names its page without the
// browser's name; the other browser stays.
void TestBrowsers::windowWithAMatchingTitleIsClosedAndNoOther()
{
    QFETCH(QString, kind);
    ProgramRig program("\"CaSiNo\"\r\n", [](CompositeBrowserSource &source) {
        source.addBackend(std::make_unique<X11BrowserSource>());
    });
    const QString spared = u"Recettes de cuisine"_qs, closed = u"Le meilleur CASINO du café"_qs;
    BrowserProcess keep(kind, BrowserProcess::Windowed, {m_rig.pages.url(spared, u"spared"_qs)});
    BrowserProcess gambling(kind, BrowserProcess::Windowed,
                            {m_rig.pages.url(closed, u"closed"_qs)});

    QTRY_VERIFY_WITH_TIMEOUT(!gambling.isRunning(), startTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(program.pageNames().contains(spared), startTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!program.pageNames().contains(closed), scanTimeoutMs);
    QVERIFY(keep.isRunning());
    QCOMPARE(program.journal(), (QSet<QPair<QString, QString>>{{u"CaSiNo"_qs, QString()}}));
    QCOMPARE(program.form->sb->text(),
             u"Fermeture: %1     (Total:%2)"_qs.arg(closed).arg(program.closings()));
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
    QCOMPARE(program.journal(), (QSet<QPair<QString, QString>>{{u"RouLette"_qs, byTitle},
                                                               {u"PUB-ZONE"_qs, byAddress}}));
    QCOMPARE(program.closings(), 2);
    QVERIFY(!pages.isGone(garden) && !pages.isGone(cafe));
    QVERIFY(browser.isRunning());

    program.addKeyword(u"SPARED"_qs);
    QTRY_VERIFY_WITH_TIMEOUT(!browser.isRunning(), scanTimeoutMs);
    QVERIFY(program.journal().contains({u"SPARED"_qs, garden}));
    QVERIFY(program.journal().contains({u"SPARED"_qs, cafe}));
}

QTEST_MAIN(TestBrowsers)
#include "tst_browsers.moc"
