#include "app/BrowserBackends.h"
#include "filter/ScanCycle.h"
#include "platform/CompositeBrowserSource.h"
#include "support/BrowserProcess.h"
#include "support/RecordingSoundPlayer.h"
#include "support/TitledPageServer.h"
#include "support/X11TestDisplay.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWebSocket>

namespace {

constexpr int startTimeoutMs = 90000;
constexpr int scanTimeoutMs = 60000;
constexpr int requestTimeoutMs = 10000;

const QString chromium = u"/usr/lib/chromium/chromium"_qs;

// The program's lists and option controls with the desktop's real browser backends, scanned
// by a timer every 500 ms as Timer1 does. The backends look for browsers in a /proc of their
// own that shows only the test's browser, so that no other browser on the machine is touched.
struct Scan
{
    QTemporaryDir proc;
    QTreeWidget ListView1, ListView2, ListView3, ListView4;
    QLabel sb;
    QCheckBox Check1;
    QLineEdit Text1;
    RecordingSoundPlayer sound;
    CompositeBrowserSource source;
    ScanCycle cycle{
        {&ListView1, &ListView2, &ListView3, &ListView4, &sb, &Check1, &Text1}, source, sound};
    QTimer Timer1;

    Scan(const QStringList &keywords, qint64 browserPid)
    {
        const QString pid = QString::number(browserPid);
        QFile::link(u"/proc/"_qs + pid, proc.filePath(pid));
        TabSourceSettings settings;
        settings.procRoot = proc.path();
        ListView1.setColumnCount(2);
        ListView2.setColumnCount(2);
        ListView4.setColumnCount(3);
        for (const QString &keyword : keywords) {
            ListView3.addTopLevelItem(new QTreeWidgetItem(QStringList{keyword}));
            ListView2.addTopLevelItem(new QTreeWidgetItem(QStringList{u"0"_qs, keyword}));
        }
        addBrowserBackends(source, settings);
        Timer1.setInterval(500);
        QObject::connect(&Timer1, &QTimer::timeout, [this] { cycle.tick(); });
    }

    QSet<QPair<QString, QString>> openPages() const
    {
        QSet<QPair<QString, QString>> pages;
        for (int r = 0; r < ListView1.topLevelItemCount(); ++r)
            pages.insert({ListView1.topLevelItem(r)->text(0), ListView1.topLevelItem(r)->text(1)});
        return pages;
    }
    QSet<QPair<QString, QString>> journal() const
    {
        QSet<QPair<QString, QString>> rows;
        for (int r = 0; r < ListView4.topLevelItemCount(); ++r)
            rows.insert({ListView4.topLevelItem(r)->text(1), ListView4.topLevelItem(r)->text(2)});
        return rows;
    }
    QString count(const QString &keyword) const
    {
        for (int r = 0; r < ListView2.topLevelItemCount(); ++r) {
            if (ListView2.topLevelItem(r)->text(1) == keyword)
                return ListView2.topLevelItem(r)->text(0);
        }
        return {};
    }
    // The tabs that the source lists with an address, as (title, address).
    QSet<QPair<QString, QString>> tabsListed()
    {
        QSet<QPair<QString, QString>> tabs;
        for (const BrowserPage &page : source.walk()) {
            if (!page.address.value_or(QString()).isEmpty())
                tabs.insert({page.pageName.value_or(QString()), *page.address});
        }
        return tabs;
    }
};

// One HTTP request of the test's own, waited for at most requestTimeoutMs.
QByteArray httpRequest(const QByteArray &verb, const QString &url)
{
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request{QUrl(url)};
    request.setTransferTimeout(requestTimeoutMs);
    QNetworkReply *reply = network.sendCustomRequest(request, verb);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray body =
        reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    delete reply;
    return body;
}

// The tabs of a Chromium as its own /json/list tells them, as (title, address).
QSet<QPair<QString, QString>> chromiumTabs(quint16 port)
{
    QSet<QPair<QString, QString>> tabs;
    const QByteArray list = httpRequest("GET", u"http://127.0.0.1:%1/json/list"_qs.arg(port));
    for (const QJsonValue &value : QJsonDocument::fromJson(list).array()) {
        const QJsonObject target = value.toObject();
        if (target.value(u"type").toString() == u"page")
            tabs.insert({target.value(u"title").toString(), target.value(u"url").toString()});
    }
    return tabs;
}

// The addresses of a Firefox's tabs as a BiDi session of the test's own reads them, or
// nothing when Firefox does not give the test a session.
std::optional<QSet<QString>> firefoxAddresses(quint16 port)
{
    QWebSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy);
    QEventLoop loop;
    QTimer::singleShot(requestTimeoutMs, &loop, &QEventLoop::quit);
    QList<QJsonObject> answers;
    QObject::connect(&socket, &QWebSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QWebSocket::textMessageReceived, &loop, [&](const QString &text) {
        answers.append(QJsonDocument::fromJson(text.toUtf8()).object());
        loop.quit();
    });
    const auto ask = [&](int id, const QString &method, const QJsonObject &params) {
        const qsizetype before = answers.size();
        socket.sendTextMessage(QString::fromUtf8(
            QJsonDocument(
                QJsonObject{{u"id"_qs, id}, {u"method"_qs, method}, {u"params"_qs, params}})
                .toJson(QJsonDocument::Compact)));
        while (answers.size() == before && socket.state() == QAbstractSocket::ConnectedState)
            loop.exec();
        return answers.size() > before ? answers.last() : QJsonObject();
    };

    socket.open(QUrl(u"ws://127.0.0.1:%1/session"_qs.arg(port)));
    loop.exec();
    if (socket.state() != QAbstractSocket::ConnectedState)
        return std::nullopt;
    if (ask(1, u"session.new"_qs, {{u"capabilities"_qs, QJsonObject()}}).value(u"type") !=
        u"success"_qs)
        return std::nullopt;
    QSet<QString> addresses;
    const QJsonObject tree = ask(2, u"browsingContext.getTree"_qs, {{u"maxDepth"_qs, 0}});
    for (const QJsonValue &context : tree.value(u"result").toObject().value(u"contexts").toArray())
        addresses.insert(context.toObject().value(u"url").toString());
    ask(3, u"session.end"_qs, {});
    return addresses;
}

} // namespace

class TestTabBrowsers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void chromiumClosesExactlyTheMatchingTabs();
    void firefoxClosesExactlyTheMatchingTabs();
    void firefoxLastMatchingTabClosesItsWindow();

private:
    std::unique_ptr<X11TestDisplay> m_keepDisplay;
    TitledPageServer m_pages;
};

void TestTabBrowsers::initTestCase()
{
    m_keepDisplay = X11TestDisplay::connectSteadily(30000);
    QVERIFY2(m_keepDisplay->isConnected(), "these tests need an X display in $DISPLAY");
}

void TestTabBrowsers::chromiumClosesExactlyTheMatchingTabs()
{
    if (!QFileInfo(chromium).isExecutable())
        QSKIP("chromium is not installed");

    // A keyword in the title alone, one in the address alone, each in another case.
    const QPair<QString, QString> byTitle{u"ROULETTE night"_qs,
                                          m_pages.url(u"ROULETTE night"_qs, u"a"_qs)};
    const QPair<QString, QString> byAddress{u"Quiet reading"_qs,
                                            m_pages.url(u"Quiet reading"_qs, u"pub-zone/b"_qs)};
    const QPair<QString, QString> garden{u"Garden news"_qs,
                                         m_pages.url(u"Garden news"_qs, u"c"_qs)};
    const QPair<QString, QString> cafe{u"Cuisine — café ☕"_qs,
                                       m_pages.url(u"Cuisine — café ☕"_qs, u"d?x=1"_qs)};

    BrowserProcess browser(chromium,
                           {u"--headless"_qs, u"--no-sandbox"_qs, u"--disable-gpu"_qs,
                            u"--disable-quic"_qs, u"--no-first-run"_qs,
                            u"--disable-background-networking"_qs, u"--disable-component-update"_qs,
                            u"--disable-sync"_qs, u"--user-data-dir=@PROFILE@"_qs,
                            u"--remote-debugging-port=0"_qs, garden.second},
                           {});
    QFile portFile(browser.profile() + u"/DevToolsActivePort"_qs);
    QTRY_VERIFY_WITH_TIMEOUT(portFile.exists() && portFile.size() > 0, startTimeoutMs);
    QVERIFY(portFile.open(QIODevice::ReadOnly));
    const quint16 port = portFile.readLine().trimmed().toUShort();
    QVERIFY(port != 0);
    // Headless Chromium opens one address; the others come through DevTools.
    for (const auto &page : {byTitle, byAddress, cafe})
        QVERIFY(!httpRequest("PUT", u"http://127.0.0.1:%1/json/new?"_qs.arg(port) + page.second)
                     .isEmpty());
    const QSet<QPair<QString, QString>> all{byTitle, byAddress, garden, cafe};
    QTRY_COMPARE_WITH_TIMEOUT(chromiumTabs(port), all, startTimeoutMs);

    Scan scan({u"RouLette"_qs, u"PUB-ZONE"_qs}, browser.pid());
    scan.Timer1.start();
    const QSet<QPair<QString, QString>> spared{garden, cafe};
    QTRY_COMPARE_WITH_TIMEOUT(chromiumTabs(port), spared, scanTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(scan.openPages(), spared, scanTimeoutMs);

    QCOMPARE(scan.journal(), (QSet<QPair<QString, QString>>{{u"RouLette"_qs, byTitle.second},
                                                            {u"PUB-ZONE"_qs, byAddress.second}}));
    QCOMPARE(scan.ListView4.topLevelItemCount(), 2);
    QCOMPARE(scan.count(u"RouLette"_qs), u"1"_qs);
    QCOMPARE(scan.count(u"PUB-ZONE"_qs), u"1"_qs);
    QVERIFY(browser.isRunning());
}

void TestTabBrowsers::firefoxClosesExactlyTheMatchingTabs()
{
    if (!QFileInfo(BrowserProcess::kFirefox).isExecutable())
        QSKIP("firefox-esr is not installed");

    const QPair<QString, QString> garden{u"Garden news"_qs,
                                         m_pages.url(u"Garden news"_qs, u"a"_qs)};
    const QPair<QString, QString> byTitle{u"Big ROULETTE"_qs,
                                          m_pages.url(u"Big ROULETTE"_qs, u"b"_qs)};
    const QPair<QString, QString> byAddress{u"Quiet reading"_qs,
                                            m_pages.url(u"Quiet reading"_qs, u"PUB-zone/c"_qs)};
    const QPair<QString, QString> cafe{u"Cuisine — café ☕"_qs,
                                       m_pages.url(u"Cuisine — café ☕"_qs, u"d?x=1"_qs)};
    const QSet<QPair<QString, QString>> all{garden, byTitle, byAddress, cafe};

    auto browser = std::make_unique<BrowserProcess>(
        QString::fromLatin1(BrowserProcess::kFirefox),
        BrowserProcess::firefoxArguments() + QStringList{u"--remote-debugging-port"_qs, u"0"_qs,
                                                         garden.second, byTitle.second,
                                                         byAddress.second, cafe.second},
        BrowserProcess::firefoxUserJs());
    const QString serverFile = browser->profile() + u"/WebDriverBiDiServer.json"_qs;

    quint16 port = 0;
    {
        Scan scan({u"roulette"_qs, u"pub-ZONE"_qs}, browser->pid());
        // Only once the tabs are listed one by one is the window left out of the walk, so
        // ticks start then, as a window closed whole would close every tab.
        QTRY_COMPARE_WITH_TIMEOUT(scan.tabsListed(), all, startTimeoutMs);
        QFile file(serverFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        port = static_cast<quint16>(
            QJsonDocument::fromJson(file.readAll()).object().value(u"ws_port").toInt());
        scan.Timer1.start();

        const QSet<QPair<QString, QString>> spared{garden, cafe};
        QTRY_COMPARE_WITH_TIMEOUT(scan.openPages(), spared, scanTimeoutMs);
        QCOMPARE(scan.journal(),
                 (QSet<QPair<QString, QString>>{{u"roulette"_qs, byTitle.second},
                                                {u"pub-ZONE"_qs, byAddress.second}}));
        QCOMPARE(scan.ListView4.topLevelItemCount(), 2);
    }

    // The scan's session has ended with it, so the test gets one of its own to look.
    const std::optional<QSet<QString>> left = firefoxAddresses(port);
    QVERIFY(left.has_value());
    QCOMPARE(*left, (QSet<QString>{garden.second, cafe.second}));
    QVERIFY(browser->isRunning());
}

// Firefox ignores a request to close its last tab: the scan closes the tab's window, which
// ends that Firefox.
void TestTabBrowsers::firefoxLastMatchingTabClosesItsWindow()
{
    if (!QFileInfo(BrowserProcess::kFirefox).isExecutable())
        QSKIP("firefox-esr is not installed");

    const QString address = m_pages.url(u"Lonely page"_qs, u"roulette/only"_qs);
    BrowserProcess browser(QString::fromLatin1(BrowserProcess::kFirefox),
                           BrowserProcess::firefoxArguments() +
                               QStringList{u"--remote-debugging-port"_qs, u"0"_qs, address},
                           BrowserProcess::firefoxUserJs());
    Scan scan({u"Roulette"_qs}, browser.pid());
    QTRY_COMPARE_WITH_TIMEOUT(scan.tabsListed(),
                              (QSet<QPair<QString, QString>>{{u"Lonely page"_qs, address}}),
                              startTimeoutMs);
    scan.Timer1.start();

    QTRY_VERIFY_WITH_TIMEOUT(!browser.isRunning(), scanTimeoutMs);
    QCOMPARE(scan.ListView4.topLevelItem(0)->text(1), u"Roulette"_qs);
    QCOMPARE(scan.ListView4.topLevelItem(0)->text(2), address);
}

QTEST_MAIN(TestTabBrowsers)
#include "tst_tabbrowsers.moc"
