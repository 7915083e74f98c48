#include "sources/tabs/BidiSource.h"
#include "support/FakeBidiBrowser.h"
#include "support/FakeProcTree.h"

#include <QMutex>
#include <QTest>

namespace {

TabSourceSettings quickSettings(const FakeProcTree &proc)
{
    TabSourceSettings settings;
    settings.procRoot = proc.root();
    settings.discoveryIntervalMs = 100;
    settings.refreshIntervalMs = 20;
    settings.requestTimeoutMs = 1000;
    settings.sessionTimeoutMs = 1000;
    settings.maxAnswerBytes = 256 * 1024;
    return settings;
}

void addFirefox(FakeProcTree &proc, qint64 pid, const FakeBidiBrowser &browser)
{
    proc.addProcess(pid, {"/usr/lib/firefox-esr/firefox-esr", "--remote-debugging-port",
                          QByteArray::number(browser.port())});
}

QStringList namesOf(const QList<BrowserPage> &pages)
{
    QStringList names;
    for (const BrowserPage &page : pages)
        names.append(page.pageName.value_or(u"<unread>"_qs));
    return names;
}

WindowHandle handleOf(const FakeBidiBrowser &browser, const QString &context)
{
    return WindowHandle{0, QByteArray::number(browser.port()) + '/' + context.toUtf8()};
}

// The warnings that reach standard error, from any thread.
QMutex warningsMutex;
QStringList warnings;
QtMessageHandler previousHandler = nullptr;

void keepWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg) {
        const QMutexLocker lock(&warningsMutex);
        warnings.append(text);
    }
    previousHandler(type, context, text);
}

QStringList warningsSoFar()
{
    const QMutexLocker lock(&warningsMutex);
    return warnings;
}

constexpr int waitMs = 10000;

} // namespace

class TestBidiSource : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listsEveryTabWithTitleAndAddress();
    void closeClosesTheTabWithoutAskingThePage();
    void theLastTabClosesItsWindowInstead();
    void aRefusedSessionYieldsNothingAndIsReportedOnce();
    void theSessionEndsWhenTheSourceGoes();
    void aBrowserThatMisbehavesIsDroppedUntilFoundAgain_data();
    void aBrowserThatMisbehavesIsDroppedUntilFoundAgain();
    void aHugeAnswerDropsTheBrowser();
    void anotherFirefoxOnAStalePortIsLeftAlone();
};

void TestBidiSource::initTestCase()
{
    previousHandler = qInstallMessageHandler(keepWarnings);
}

void TestBidiSource::listsEveryTabWithTitleAndAddress()
{
    FakeBidiBrowser browser(700);
    browser.setTabs({{u"ctx-a"_qs, u"https://a.example/"_qs, u"Alpha — Café 🎰"_qs},
                     {u"ctx-b"_qs, u"about:preferences"_qs, u"Settings"_qs, true},
                     {u"ctx-c"_qs, u"https://c.example/page?q=1"_qs, QString()}});
    FakeProcTree proc;
    addFirefox(proc, 700, browser);
    BidiSource source([](qint64) {}, quickSettings(proc));

    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 3, waitMs);
    const QList<BrowserPage> pages = source.walk();
    QCOMPARE(namesOf(pages), (QStringList{u"Alpha — Café 🎰"_qs, u"<unread>"_qs, QString()}));
    QCOMPARE(pages[0].address, u"https://a.example/"_qs);
    QCOMPARE(pages[1].address, u"about:preferences"_qs);
    QCOMPARE(pages[2].address, u"https://c.example/page?q=1"_qs);
    QCOMPARE(pages[0].handle, handleOf(browser, u"ctx-a"_qs));
    QVERIFY(source.covers(700));
    QVERIFY(!source.covers(701));

    // Titles change and tabs come and go between readings.
    browser.setTabs({{u"ctx-c"_qs, u"https://c.example/"_qs, u"Now titled"_qs},
                     {u"ctx-d"_qs, u"https://d.example/"_qs, u"Delta"_qs}});
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()), (QStringList{u"Now titled"_qs, u"Delta"_qs}),
                              waitMs);

    QCOMPARE(browser.origins(), QStringList{QString()});
    QVERIFY(!browser.overlapped());
    QCOMPARE(browser.count(u"session.new"_qs), 1);
    const QList<QJsonObject> commands = browser.commands();
    for (const QJsonObject &command : commands) {
        const QJsonObject params = command.value(u"params").toObject();
        if (command.value(u"method").toString() == u"browsingContext.getTree")
            QCOMPARE(params.value(u"maxDepth").toInt(-1), 0);
    }
}

void TestBidiSource::closeClosesTheTabWithoutAskingThePage()
{
    FakeBidiBrowser browser(710);
    browser.setTabs({{u"ctx-a"_qs, u"https://a.example/"_qs, u"Alpha"_qs},
                     {u"ctx-b"_qs, u"https://b.example/"_qs, u"Beta"_qs}});
    FakeProcTree proc;
    addFirefox(proc, 710, browser);
    QList<qint64> windowsClosed;
    BidiSource source([&](qint64 pid) { windowsClosed.append(pid); }, quickSettings(proc));
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()), (QStringList{u"Alpha"_qs, u"Beta"_qs}),
                              waitMs);

    source.requestClose(handleOf(browser, u"ctx-b"_qs));
    QCOMPARE(namesOf(source.walk()), QStringList{u"Alpha"_qs});
    QTRY_COMPARE_WITH_TIMEOUT(browser.contexts(), QStringList{u"ctx-a"_qs}, waitMs);
    const auto close = std::find_if(
        browser.commands().cbegin(), browser.commands().cend(), [](const QJsonObject &c) {
            return c.value(u"method").toString() == u"browsingContext.close";
        });
    QVERIFY(close != browser.commands().cend());
    const QJsonObject params = close->value(u"params").toObject();
    QCOMPARE(params.value(u"context").toString(), u"ctx-b"_qs);
    QCOMPARE(params.value(u"promptUnload"), QJsonValue(false));
    QVERIFY(windowsClosed.isEmpty());
    QVERIFY(!browser.overlapped());
}

// Firefox ignores a request to close its last tab, so the tab's window is closed instead. Two
// tabs matched in one tick count the same way: the first one goes, the second is the last.
void TestBidiSource::theLastTabClosesItsWindowInstead()
{
    FakeBidiBrowser browser(720);
    browser.setTabs({{u"ctx-a"_qs, u"https://a.example/"_qs, u"Alpha"_qs},
                     {u"ctx-b"_qs, u"https://b.example/"_qs, u"Beta"_qs}});
    FakeProcTree proc;
    addFirefox(proc, 720, browser);
    QList<qint64> windowsClosed;
    BidiSource source([&](qint64 pid) { windowsClosed.append(pid); }, quickSettings(proc));
    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 2, waitMs);

    source.requestClose(handleOf(browser, u"ctx-a"_qs));
    source.requestClose(handleOf(browser, u"ctx-b"_qs));
    QCOMPARE(windowsClosed, QList<qint64>{720});
    QVERIFY(source.walk().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(browser.contexts(), QStringList{u"ctx-b"_qs}, waitMs);
    QCOMPARE(browser.count(u"browsingContext.close"_qs), 1);

    // Still there once the moment has passed, it is the last tab again.
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()), QStringList{u"Beta"_qs}, waitMs);
    source.requestClose(handleOf(browser, u"ctx-b"_qs));
    QCOMPARE(windowsClosed, (QList<qint64>{720, 720}));
    QCOMPARE(browser.count(u"browsingContext.close"_qs), 1);
}

void TestBidiSource::aRefusedSessionYieldsNothingAndIsReportedOnce()
{
    FakeBidiBrowser browser(730);
    browser.setTabs({{u"ctx-a"_qs, u"https://a.example/"_qs, u"Alpha"_qs}});
    browser.setSessionHeldElsewhere(true);
    FakeProcTree proc;
    addFirefox(proc, 730, browser);
    const qsizetype warningsBefore = warningsSoFar().size();
    BidiSource source([](qint64) {}, quickSettings(proc));

    QTRY_VERIFY_WITH_TIMEOUT(browser.count(u"session.new"_qs) >= 3, waitMs);
    QVERIFY(source.walk().isEmpty());
    QVERIFY(!source.covers(730));
    const QStringList reported = warningsSoFar().mid(warningsBefore);
    QCOMPARE(reported.size(), 1);
    QVERIFY(reported.first().contains(u"730"_qs));
    QCOMPARE(browser.count(u"browsingContext.getTree"_qs), 0);

    // Once the other client has let go, the source gets its session.
    browser.setSessionHeldElsewhere(false);
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()), QStringList{u"Alpha"_qs}, waitMs);
    QCOMPARE(warningsSoFar().size(), warningsBefore + 1);
}

// Firefox keeps a session whose connection went and refuses every other while it lasts, so
// the source ends its session before it goes.
void TestBidiSource::theSessionEndsWhenTheSourceGoes()
{
    FakeBidiBrowser browser(740);
    browser.setTabs({{u"ctx-a"_qs, u"https://a.example/"_qs, u"Alpha"_qs}});
    FakeProcTree proc;
    addFirefox(proc, 740, browser);
    {
        BidiSource source([](qint64) {}, quickSettings(proc));
        QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 1, waitMs);
        QVERIFY(browser.hasSession());
    }
    QTRY_COMPARE_WITH_TIMEOUT(browser.count(u"session.end"_qs), 1, waitMs);
    QVERIFY(!browser.hasSession());
}

void TestBidiSource::aBrowserThatMisbehavesIsDroppedUntilFoundAgain_data()
{
    QTest::addColumn<FakeBidiBrowser::Answer>("answer");
    QTest::newRow("not JSON") << FakeBidiBrowser::Answer::Garbage;
    QTest::newRow("silence") << FakeBidiBrowser::Answer::Silence;
}

void TestBidiSource::aBrowserThatMisbehavesIsDroppedUntilFoundAgain()
{
    QFETCH(FakeBidiBrowser::Answer, answer);

    FakeBidiBrowser browser(750);
    browser.setTabs({{u"ctx-a"_qs, u"https://a.example/"_qs, u"Alpha"_qs}});
    FakeProcTree proc;
    addFirefox(proc, 750, browser);
    BidiSource source([](qint64) {}, quickSettings(proc));
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()), QStringList{u"Alpha"_qs}, waitMs);

    browser.setAnswer(answer);
    QTRY_VERIFY_WITH_TIMEOUT(source.walk().isEmpty() && !source.covers(750), waitMs);

    // The session was ended on the way out, or the browser would refuse the next one.
    browser.setAnswer(FakeBidiBrowser::Answer::Normal);
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()), QStringList{u"Alpha"_qs}, waitMs);
    QVERIFY(browser.count(u"session.new"_qs) >= 2);
}

// A message beyond the cap makes the WebSocket close before the session can be ended, and
// Firefox keeps that session: the browser is dropped, and later attempts are refused and
// reported once, until the browser restarts.
void TestBidiSource::aHugeAnswerDropsTheBrowser()
{
    FakeBidiBrowser browser(755);
    browser.setTabs({{u"ctx-a"_qs, u"https://a.example/"_qs, u"Alpha"_qs}});
    FakeProcTree proc;
    addFirefox(proc, 755, browser);
    BidiSource source([](qint64) {}, quickSettings(proc));
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()), QStringList{u"Alpha"_qs}, waitMs);
    const qsizetype warningsBefore = warningsSoFar().size();

    browser.setAnswer(FakeBidiBrowser::Answer::Huge);
    QTRY_VERIFY_WITH_TIMEOUT(source.walk().isEmpty() && !source.covers(755), waitMs);
    browser.setAnswer(FakeBidiBrowser::Answer::Normal);
    QTRY_VERIFY_WITH_TIMEOUT(browser.count(u"session.new"_qs) >= 3, waitMs);
    QVERIFY(source.walk().isEmpty());
    QCOMPARE(warningsSoFar().size(), warningsBefore + 1);
}

// A port file that an earlier Firefox left behind can name the port of another Firefox,
// which tells its own process id when the session opens.
void TestBidiSource::anotherFirefoxOnAStalePortIsLeftAlone()
{
    FakeBidiBrowser browser(761);
    browser.setTabs({{u"ctx-a"_qs, u"https://a.example/"_qs, u"Alpha"_qs}});
    FakeProcTree proc;
    addFirefox(proc, 760, browser);
    BidiSource source([](qint64) {}, quickSettings(proc));

    QTRY_VERIFY_WITH_TIMEOUT(browser.count(u"session.end"_qs) >= 2, waitMs);
    QVERIFY(source.walk().isEmpty());
    QVERIFY(!source.covers(760));
    QVERIFY(!source.covers(761));
    QCOMPARE(browser.count(u"browsingContext.getTree"_qs), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!browser.hasSession(), waitMs);
}

QTEST_GUILESS_MAIN(TestBidiSource)
#include "tst_bidisource.moc"
