#include "sources/tabs/DevToolsSource.h"
#include "support/FakeDevTools.h"
#include "support/FakeProcTree.h"

#include <QJsonObject>
#include <QTest>

namespace {

TabSourceSettings quickSettings(const FakeProcTree &proc)
{
    TabSourceSettings settings;
    settings.procRoot = proc.root();
    settings.discoveryIntervalMs = 100;
    settings.refreshIntervalMs = 20;
    settings.requestTimeoutMs = 1000;
    settings.maxAnswerBytes = 256 * 1024;
    return settings;
}

QByteArray portOption(const FakeDevTools &browser)
{
    return "--remote-debugging-port=" + QByteArray::number(browser.port());
}

QStringList namesOf(const QList<BrowserPage> &pages)
{
    QStringList names;
    for (const BrowserPage &page : pages)
        names.append(page.pageName.value_or(u"<unread>"_qs));
    return names;
}

std::optional<BrowserPage> pageWithId(const QList<BrowserPage> &pages, const QByteArray &id)
{
    for (const BrowserPage &page : pages) {
        if (page.handle.id == id)
            return page;
    }
    return std::nullopt;
}

QByteArray handleOf(const FakeDevTools &browser, const QByteArray &tabId)
{
    return QByteArray::number(browser.port()) + '/' + tabId;
}

constexpr int waitMs = 10000;

} // namespace

class TestDevToolsSource : public QObject
{
    Q_OBJECT

private slots:
    void listsTheTabsOfEveryBrowserFound();
    void oddTitlesAndAddressesArriveIntact_data();
    void oddTitlesAndAddressesArriveIntact();
    void closeAsksTheBrowserAndHidesTheTabForAMoment();
    void closePathEscapesTheTabId();
    void handlesOfNoKnownTabAreIgnored();
    void aBrowserThatMisbehavesIsDroppedUntilFoundAgain_data();
    void aBrowserThatMisbehavesIsDroppedUntilFoundAgain();
    void aBrowserThatVanishesIsDropped();
    void aStalePortFileIsNotTrusted();
};

void TestDevToolsSource::listsTheTabsOfEveryBrowserFound()
{
    FakeDevTools first;
    first.setTargets({
        FakeDevTools::page(u"A1"_qs, u"Alpha"_qs, u"https://alpha.example/"_qs),
        QJsonObject{{u"id"_qs, u"W1"_qs},
                    {u"type"_qs, u"service_worker"_qs},
                    {u"title"_qs, u"Worker"_qs},
                    {u"url"_qs, u"https://alpha.example/sw.js"_qs}},
        QJsonObject{{u"id"_qs, u"U1"_qs},
                    {u"type"_qs, u"browser_ui"_qs},
                    {u"title"_qs, u"Omnibox Popup"_qs},
                    {u"url"_qs, u"chrome://omnibox-popup.top-chrome/"_qs}},
        FakeDevTools::page(QString(), u"No id"_qs, u"https://noid.example/"_qs),
        FakeDevTools::page(u"B1"_qs, u"Beta"_qs, u"https://beta.example/"_qs),
    });
    FakeDevTools second;
    second.setTargets({FakeDevTools::page(u"C2"_qs, u"Gamma"_qs, u"https://gamma.example/"_qs)});
    FakeProcTree proc;
    proc.addProcess(101, {"/usr/lib/chromium/chromium", portOption(first)});
    proc.addProcess(102, {"/usr/lib/chromium/chromium", "--type=renderer", portOption(first)});
    proc.addProcess(103, {"/opt/google/chrome/chrome", portOption(second)});

    DevToolsSource source(quickSettings(proc));
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()).size(), 3, waitMs);
    const QList<BrowserPage> pages = source.walk();
    QVERIFY(namesOf(pages).contains(u"Alpha"_qs));
    QVERIFY(namesOf(pages).contains(u"Beta"_qs));
    QVERIFY(namesOf(pages).contains(u"Gamma"_qs));
    const auto alpha = pageWithId(pages, handleOf(first, "A1"));
    QVERIFY(alpha);
    QCOMPARE(alpha->address, u"https://alpha.example/"_qs);
    QVERIFY(pageWithId(pages, handleOf(second, "C2")));
    QVERIFY(source.covers(101));
    QVERIFY(source.covers(103));
    QVERIFY(!source.covers(102));

    // A browser that is no longer among the processes is forgotten.
    proc.removeProcess(103);
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()), (QStringList{u"Alpha"_qs, u"Beta"_qs}),
                              waitMs);
    QVERIFY(!source.covers(103));
}

void TestDevToolsSource::oddTitlesAndAddressesArriveIntact_data()
{
    QTest::addColumn<QJsonValue>("title");
    QTest::addColumn<QJsonValue>("url");
    QTest::addColumn<std::optional<QString>>("pageName");
    QTest::addColumn<std::optional<QString>>("address");

    const QString accents = u"Café — Ελληνικά 日本語 🎰 עברית"_qs;
    QTest::newRow("accents and emoji")
        << QJsonValue(accents) << QJsonValue(u"https://xn--caf-dma.example/🎰"_qs)
        << std::optional(accents) << std::optional(u"https://xn--caf-dma.example/🎰"_qs);
    const QString markup = u"<b>bold</b> & \"quoted\" \t tab\nnew line \u0000 nul"_qs;
    QTest::newRow("markup and control characters")
        << QJsonValue(markup) << QJsonValue(u"about:blank"_qs) << std::optional(markup)
        << std::optional(u"about:blank"_qs);
    QTest::newRow("empty") << QJsonValue(QString()) << QJsonValue(QString())
                           << std::optional(QString()) << std::optional(QString());
    QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined)
                             << QJsonValue(QJsonValue::Undefined) << std::optional<QString>()
                             << std::optional<QString>();
    QTest::newRow("not text") << QJsonValue(42) << QJsonValue(QJsonArray{1, 2})
                              << std::optional<QString>() << std::optional<QString>();
    const QString longTitle = QString(TabSnapshot::maxTextLength + 5000, u'x');
    const QString longUrl = u"data:text/html,"_qs + QString(100000, u'y');
    QTest::newRow("longer than kept") << QJsonValue(longTitle) << QJsonValue(longUrl)
                                      << std::optional(longTitle.left(TabSnapshot::maxTextLength))
                                      << std::optional(longUrl.left(TabSnapshot::maxTextLength));
    // A surrogate pair cut in two by the limit loses its first half too.
    const QString cutPair = QString(TabSnapshot::maxTextLength - 1, u'z') + u"🎰"_qs;
    QTest::newRow("limit inside a pair")
        << QJsonValue(cutPair) << QJsonValue(u"https://a.example/"_qs)
        << std::optional(cutPair.left(TabSnapshot::maxTextLength - 1))
        << std::optional(u"https://a.example/"_qs);
}

void TestDevToolsSource::oddTitlesAndAddressesArriveIntact()
{
    QFETCH(QJsonValue, title);
    QFETCH(QJsonValue, url);
    QFETCH(std::optional<QString>, pageName);
    QFETCH(std::optional<QString>, address);

    FakeDevTools browser;
    QJsonObject target{{u"id"_qs, u"T"_qs}, {u"type"_qs, u"page"_qs}};
    if (!title.isUndefined())
        target.insert(u"title"_qs, title);
    if (!url.isUndefined())
        target.insert(u"url"_qs, url);
    browser.setTargets({target});
    FakeProcTree proc;
    proc.addProcess(200, {"chromium", portOption(browser)});

    DevToolsSource source(quickSettings(proc));
    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 1, waitMs);
    const BrowserPage page = source.walk().first();
    QCOMPARE(page.pageName, pageName);
    QCOMPARE(page.address, address);
}

void TestDevToolsSource::closeAsksTheBrowserAndHidesTheTabForAMoment()
{
    FakeDevTools browser;
    browser.setTargets({FakeDevTools::page(u"A"_qs, u"Alpha"_qs, u"https://a.example/"_qs),
                        FakeDevTools::page(u"B"_qs, u"Beta"_qs, u"https://b.example/"_qs)});
    browser.setHonoursClose(false);
    FakeProcTree proc;
    proc.addProcess(300, {"chromium", portOption(browser)});
    DevToolsSource source(quickSettings(proc));
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()), (QStringList{u"Alpha"_qs, u"Beta"_qs}),
                              waitMs);

    // A tab that ignores the request is hidden at once, then listed again like any page that
    // is still open.
    source.requestClose(WindowHandle{0, handleOf(browser, "B")});
    QCOMPARE(namesOf(source.walk()), QStringList{u"Alpha"_qs});
    QTRY_COMPARE_WITH_TIMEOUT(browser.count("PUT /json/close/B"), 1, waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()), (QStringList{u"Alpha"_qs, u"Beta"_qs}),
                              waitMs);

    browser.setHonoursClose(true);
    source.requestClose(WindowHandle{0, handleOf(browser, "A")});
    QCOMPARE(namesOf(source.walk()), QStringList{u"Beta"_qs});
    QTRY_COMPARE_WITH_TIMEOUT(browser.count("PUT /json/close/A"), 1, waitMs);
    const quint64 readings = source.readings();
    QTRY_VERIFY_WITH_TIMEOUT(source.readings() > readings + 2, waitMs);
    QCOMPARE(namesOf(source.walk()), QStringList{u"Beta"_qs});
}

void TestDevToolsSource::closePathEscapesTheTabId()
{
    FakeDevTools browser;
    browser.setTargets({FakeDevTools::page(u"x y/z?q#f%"_qs, u"Odd"_qs, u"https://o.example/"_qs)});
    FakeProcTree proc;
    proc.addProcess(310, {"chromium", portOption(browser)});
    DevToolsSource source(quickSettings(proc));
    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 1, waitMs);

    source.requestClose(source.walk().first().handle);
    QTRY_COMPARE_WITH_TIMEOUT(browser.count("PUT /json/close/x%20y%2Fz%3Fq%23f%25"), 1, waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(source.walk().isEmpty(), waitMs);
}

void TestDevToolsSource::handlesOfNoKnownTabAreIgnored()
{
    FakeDevTools browser;
    browser.setTargets({FakeDevTools::page(u"A"_qs, u"Alpha"_qs, u"https://a.example/"_qs)});
    FakeProcTree proc;
    proc.addProcess(320, {"chromium", portOption(browser)});
    DevToolsSource source(quickSettings(proc));
    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 1, waitMs);

    for (const QByteArray &id : {QByteArray(), QByteArray("garbage"), QByteArray("/A"),
                                 QByteArray("0/A"), QByteArray("99999/A"), QByteArray("1/A")})
        source.requestClose(WindowHandle{0, id});
    source.requestClose(WindowHandle{0, handleOf(browser, "gone")});
    QTRY_COMPARE_WITH_TIMEOUT(browser.count("PUT /json/close/gone"), 1, waitMs);
    const QByteArrayList requests = browser.requests();
    QCOMPARE(std::count_if(requests.cbegin(), requests.cend(),
                           [](const QByteArray &line) { return line.startsWith("PUT"); }),
             1);
    QCOMPARE(namesOf(source.walk()), QStringList{u"Alpha"_qs});
}

void TestDevToolsSource::aBrowserThatMisbehavesIsDroppedUntilFoundAgain_data()
{
    QTest::addColumn<FakeDevTools::Answer>("answer");
    QTest::newRow("not JSON") << FakeDevTools::Answer::Garbage;
    QTest::newRow("not a list") << FakeDevTools::Answer::NotAList;
    QTest::newRow("server error") << FakeDevTools::Answer::ServerError;
    QTest::newRow("huge") << FakeDevTools::Answer::Huge;
    QTest::newRow("huge, length unannounced") << FakeDevTools::Answer::HugeUnannounced;
    QTest::newRow("silence") << FakeDevTools::Answer::Silence;
}

void TestDevToolsSource::aBrowserThatMisbehavesIsDroppedUntilFoundAgain()
{
    QFETCH(FakeDevTools::Answer, answer);

    FakeDevTools browser;
    browser.setTargets({FakeDevTools::page(u"A"_qs, u"Alpha"_qs, u"https://a.example/"_qs)});
    FakeProcTree proc;
    proc.addProcess(400, {"chromium", portOption(browser)});
    DevToolsSource source(quickSettings(proc));
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()), QStringList{u"Alpha"_qs}, waitMs);
    QCOMPARE(browser.count("GET /json/version"), 1);

    browser.setAnswer(answer);
    QTRY_VERIFY_WITH_TIMEOUT(source.walk().isEmpty() && !source.covers(400), waitMs);

    browser.setAnswer(FakeDevTools::Answer::Normal);
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()), QStringList{u"Alpha"_qs}, waitMs);
    QVERIFY(source.covers(400));
    QVERIFY(browser.count("GET /json/version") >= 2);
}

void TestDevToolsSource::aBrowserThatVanishesIsDropped()
{
    auto browser = std::make_unique<FakeDevTools>();
    browser->setTargets({FakeDevTools::page(u"A"_qs, u"Alpha"_qs, u"https://a.example/"_qs)});
    FakeProcTree proc;
    proc.addProcess(500, {"chromium", portOption(*browser)});
    DevToolsSource source(quickSettings(proc));
    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 1, waitMs);

    browser->vanish();
    QTRY_VERIFY_WITH_TIMEOUT(source.walk().isEmpty() && !source.covers(500), waitMs);
}

// Chromium leaves its port file behind when it ends; another program may own that port now.
void TestDevToolsSource::aStalePortFileIsNotTrusted()
{
    FakeDevTools browser;
    browser.setTargets({FakeDevTools::page(u"A"_qs, u"Alpha"_qs, u"https://a.example/"_qs)});
    FakeProcTree proc;
    const QString profile = proc.scratch(u"profile"_qs);
    const QString portFile = profile + u"/DevToolsActivePort"_qs;
    QVERIFY(FakeProcTree::writeFile(portFile, QByteArray::number(browser.port()) +
                                                  "\n/devtools/browser/an-earlier-run\n"));
    proc.addProcess(600, {"/usr/lib/chromium/chromium", "--user-data-dir=" + profile.toUtf8(),
                          "--remote-debugging-port=0"});
    DevToolsSource source(quickSettings(proc));

    QTRY_VERIFY_WITH_TIMEOUT(browser.count("GET /json/version") >= 2, waitMs);
    QCOMPARE(browser.count("GET /json/list"), 0);
    QVERIFY(source.walk().isEmpty());
    QVERIFY(!source.covers(600));

    QVERIFY(FakeProcTree::writeFile(portFile, QByteArray::number(browser.port()) + '\n' +
                                                  FakeDevTools::browserTarget + '\n'));
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()), QStringList{u"Alpha"_qs}, waitMs);
    QVERIFY(source.covers(600));
}

QTEST_GUILESS_MAIN(TestDevToolsSource)
#include "tst_devtoolssource.moc"
