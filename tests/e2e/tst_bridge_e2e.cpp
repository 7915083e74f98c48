#include "bridge/BridgeSocketPath.h"
#include "filter/ScanCycle.h"
#include "platform/CompositeBrowserSource.h"
#include "sources/bridge/BridgeSource.h"
#include "support/BrowserProcess.h"
#include "support/RecordingSoundPlayer.h"
#include "support/TitledPageServer.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <csignal>

namespace {

constexpr int startTimeoutMs = 90000;
constexpr int scanTimeoutMs = 30000;
// The extension waits up to 30 s between two tries of its host.
constexpr int hostReturnTimeoutMs = 45000;

const QString chromium = u"/usr/lib/chromium/chromium"_qs;
const QString packages = QStringLiteral(VEXLOR_APP_FOLDER "/bridge");
const QString host = QStringLiteral(VEXLOR_APP_FOLDER "/vexlor-popup-bridge");
const QString hostName = u"fr.vexlor.popup_bridge"_qs;
const QString addonId = u"popup-bridge@vexlor.fr"_qs;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The manifest through which the browser finds the host, letting in the one extension given.
QByteArray hostManifest(const QString &allowedKey, const QString &allowed)
{
    return u"{\"name\": \"%1\", \"description\": \"Vexlor Popup\", \"path\": \"%2\", "
           "\"type\": \"stdio\", \"%3\": [\"%4\"]}"_qs.arg(hostName, host, allowedKey, allowed)
               .toUtf8();
}

// A headless browser with a fresh profile, the bridge extension and the host's manifest, as
// the per-user installation leaves them, opening the given addresses.
std::unique_ptr<BrowserProcess> startBrowser(const QString &kind, const QStringList &addresses)
{
    if (kind == u"chromium") {
        const QString id =
            QString::fromLatin1(readAll(packages + u"/chromium-extension-id"_qs)).trimmed();
        return std::make_unique<BrowserProcess>(
            chromium,
            BrowserProcess::chromiumArguments() +
                QStringList{u"--headless=new"_qs, u"--disable-popup-blocking"_qs,
                            u"--load-extension="_qs + packages + u"/chromium"_qs,
                            u"--disable-features=DisableLoadExtensionCommandLineSwitch"_qs} +
                addresses,
            QByteArray(),
            QMap<QString, QByteArray>{
                {u"profile/NativeMessagingHosts/"_qs + hostName + u".json"_qs,
                 hostManifest(u"allowed_origins"_qs, u"chrome-extension://"_qs + id + u'/')}});
    }
    // Firefox takes an unsigned add-on dropped into the profile once signatures are off and the
    // profile's scope is enabled; popups opened by a page are let through.
    const QByteArray userJs = BrowserProcess::firefoxUserJs() + R"(
user_pref("xpinstall.signatures.required", false);
user_pref("extensions.autoDisableScopes", 0);
user_pref("extensions.enabledScopes", 15);
user_pref("dom.disable_open_during_load", false);
user_pref("extensions.update.enabled", false);
user_pref("toolkit.telemetry.enabled", false);
)";
    return std::make_unique<BrowserProcess>(
        QString::fromLatin1(BrowserProcess::kFirefox),
        BrowserProcess::firefoxArguments() + QStringList{u"--headless"_qs} + addresses, userJs,
        QMap<QString, QByteArray>{{u".mozilla/native-messaging-hosts/"_qs + hostName + u".json"_qs,
                                   hostManifest(u"allowed_extensions"_qs, addonId)},
                                  {u"profile/extensions/"_qs + addonId + u".xpi"_qs,
                                   readAll(packages + u"/vexlor-popup-bridge.xpi"_qs)}});
}

// The bridge host that the browser with this process id started, or 0.
qint64 hostOf(qint64 browserPid)
{
    for (const QString &entry : QDir(u"/proc"_qs).entryList(QDir::Dirs)) {
        const QString process = u"/proc/"_qs + entry;
        if (QFileInfo(QFile::symLinkTarget(process + u"/exe"_qs)).fileName() !=
            u"vexlor-popup-bridge")
            continue;
        const QByteArray stat = readAll(process + u"/stat"_qs);
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1).toLongLong() == browserPid)
            return entry.toLongLong();
    }
    return 0;
}

// The program's lists and option controls with the bridge as its only page source, scanned
// by a timer every 500 ms as Timer1 does.
struct Scan
{
    QTreeWidget ListView1, ListView2, ListView3, ListView4;
    QLabel sb;
    QCheckBox Check1;
    QLineEdit Text1;
    RecordingSoundPlayer sound;
    CompositeBrowserSource source;
    BridgeSource *bridge = nullptr;
    ScanCycle cycle{
        {&ListView1, &ListView2, &ListView3, &ListView4, &sb, &Check1, &Text1}, source, sound};
    QTimer Timer1;
    int ticks = 0;

    explicit Scan(const QStringList &keywords)
    {
        auto backend = std::make_unique<BridgeSource>();
        bridge = backend.get();
        source.addBackend(std::move(backend));
        ListView1.setColumnCount(2);
        ListView2.setColumnCount(2);
        ListView4.setColumnCount(3);
        for (const QString &keyword : keywords) {
            ListView3.addTopLevelItem(new QTreeWidgetItem(QStringList{keyword}));
            ListView2.addTopLevelItem(new QTreeWidgetItem(QStringList{u"0"_qs, keyword}));
        }
        Timer1.setInterval(500);
        QObject::connect(&Timer1, &QTimer::timeout, [this] {
            cycle.tick();
            ++ticks;
        });
        Timer1.start();
    }

    // The tabs the bridge lists, as (title, address).
    QSet<QPair<QString, QString>> tabs()
    {
        QSet<QPair<QString, QString>> listed;
        for (const BrowserPage &page : bridge->walk())
            listed.insert({page.pageName.value_or(QString()), page.address.value_or(QString())});
        return listed;
    }
    QSet<QString> addresses()
    {
        QSet<QString> listed;
        for (const auto &tab : tabs())
            listed.insert(tab.second);
        return listed;
    }
    QSet<QPair<QString, QString>> journal() const
    {
        QSet<QPair<QString, QString>> rows;
        for (int r = 0; r < ListView4.topLevelItemCount(); ++r)
            rows.insert({ListView4.topLevelItem(r)->text(1), ListView4.topLevelItem(r)->text(2)});
        return rows;
    }
};

} // namespace

class TestBridgeE2e : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void closesExactlyTheMatchingPopups_data();
    void closesExactlyTheMatchingPopups();
    void followsTheProgramAndTheBrowserComingAndGoing_data();
    void followsTheProgramAndTheBrowserComingAndGoing();

private:
    void browsers();
    void expectClosed(Scan &scan, const QString &keyword, const QString &address);

    // The browsers, their hosts and the program share a runtime folder of the test's own, so
    // that the socket is the test's and no other program's.
    QTemporaryDir m_runtime;
    TitledPageServer m_pages;
};

void TestBridgeE2e::initTestCase()
{
    QVERIFY(m_runtime.isValid());
    QVERIFY(QFile::setPermissions(m_runtime.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    qputenv("TMPDIR", QFile::encodeName(m_runtime.path()));
    QCOMPARE(bridgeSocketPath(), m_runtime.path() + u"/vexlor-popup/bridge"_qs);
    QVERIFY2(QFileInfo(host).isExecutable(), "build the vexlor-popup-bridge target first");
    QVERIFY2(QFileInfo::exists(packages + u"/vexlor-popup-bridge.xpi"_qs),
             "build the vexlor_bridge_packages target first");
}

void TestBridgeE2e::init()
{
    const QString kind = QString::fromLatin1(QTest::currentDataTag());
    if (kind == u"chromium" && !QFileInfo(chromium).isExecutable())
        QSKIP("chromium is not installed");
    if (kind == u"firefox" && !QFileInfo(BrowserProcess::kFirefox).isExecutable())
        QSKIP("firefox-esr is not installed");
}

void TestBridgeE2e::browsers()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("chromium") << u"chromium"_qs;
    QTest::newRow("firefox") << u"firefox"_qs;
}

// The page at the address is closed by the scan, and journalled once under the keyword.
void TestBridgeE2e::expectClosed(Scan &scan, const QString &keyword, const QString &address)
{
    QTRY_VERIFY_WITH_TIMEOUT(scan.journal().contains({keyword, address}), scanTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(m_pages.goneAt(address) >= 0, scanTimeoutMs);
}

void TestBridgeE2e::closesExactlyTheMatchingPopups_data()
{
    browsers();
}

// The program runs first; a page of the browser opens popups, and those whose title or
// address holds a keyword, in any case, are closed; their opener and the others stay.
void TestBridgeE2e::closesExactlyTheMatchingPopups()
{
    QFETCH(QString, kind);
    Scan scan({u"Casino"_qs, u"PUB-ZONE"_qs});
    QVERIFY(scan.bridge->isListening());

    // Every address is the row's own, so that no page of another row's browser answers for it.
    const QString opener = m_pages.openerUrl(u"Garden news "_qs + kind);
    const auto browser = startBrowser(kind, {opener});
    QTRY_VERIFY_WITH_TIMEOUT(scan.addresses().contains(opener), startTimeoutMs);
    QCOMPARE(scan.bridge->connectionCount(), 1);
    QVERIFY(scan.bridge->covers(browser->pid()));

    const QString byTitle = m_pages.reportingUrl(u"Big CASINO night"_qs, kind + u"/a"_qs);
    const QString byAddress = m_pages.reportingUrl(u"Quiet reading"_qs, kind + u"/pub-zone/b"_qs);
    const QString cafe = m_pages.reportingUrl(u"Cuisine — café ☕"_qs, kind + u"/c?x=1"_qs);
    // When each page is first listed by the bridge, for the figures below.
    QHash<QString, qint64> listedAt;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        for (const QString &address : scan.addresses()) {
            if (!listedAt.contains(address))
                listedAt.insert(address, m_pages.now());
        }
    });
    watch.start(10);
    m_pages.openFromPage({byTitle, byAddress, cafe});

    expectClosed(scan, u"Casino"_qs, byTitle);
    expectClosed(scan, u"PUB-ZONE"_qs, byAddress);
    const QSet<QPair<QString, QString>> spared{{u"Garden news "_qs + kind, opener},
                                               {u"Cuisine — café ☕"_qs, cafe}};
    QTRY_COMPARE_WITH_TIMEOUT(scan.tabs(), spared, scanTimeoutMs);
    // A tab asked to close is hidden from walks for one second only: had one outlived that,
    // the next ticks would have matched and journalled it again.
    const int ticksNow = scan.ticks;
    QTRY_VERIFY_WITH_TIMEOUT(scan.ticks >= ticksNow + 4, scanTimeoutMs);
    QCOMPARE(scan.ListView4.topLevelItemCount(), 2);
    QCOMPARE(m_pages.goneAt(cafe), -1);
    QVERIFY(browser->isRunning());

    // Speed is not asserted, only reported: from the page's request, its load event and its
    // first listing to its pagehide event, in milliseconds.
    for (const QString &address : {byTitle, byAddress}) {
        const qint64 gone = m_pages.goneAt(address);
        const auto since = [gone](qint64 start) {
            return start < 0 ? -1 : gone - start;
        };
        qInfo("latency %s %s: requested %lld, loaded %lld, listed %lld", qPrintable(kind),
              qPrintable(QUrl(address).path()), since(m_pages.requestedAt(address)),
              since(m_pages.loadedAt(address)), since(listedAt.value(address, -1)));
    }
}

void TestBridgeE2e::followsTheProgramAndTheBrowserComingAndGoing_data()
{
    browsers();
}

// The browser runs before the program, the program is restarted while the browser runs, the
// host dies while both run, and the browser goes while the program runs.
void TestBridgeE2e::followsTheProgramAndTheBrowserComingAndGoing()
{
    QFETCH(QString, kind);
    const QString opener = m_pages.openerUrl(u"Calm garden "_qs + kind);
    auto browser = startBrowser(kind, {opener});
    QTRY_VERIFY_WITH_TIMEOUT(m_pages.requestedAt(opener) >= 0, startTimeoutMs);

    // The browser is up by now, and its host tries the program's socket twice a second.
    auto scan = std::make_unique<Scan>(QStringList{u"roulette"_qs});
    QTRY_VERIFY_WITH_TIMEOUT(scan->addresses().contains(opener), scanTimeoutMs);
    const QString first = m_pages.reportingUrl(u"ROULETTE one"_qs, kind + u"/1"_qs);
    m_pages.openFromPage({first});
    expectClosed(*scan, u"roulette"_qs, first);

    scan.reset();
    scan = std::make_unique<Scan>(QStringList{u"roulette"_qs});
    QTRY_VERIFY_WITH_TIMEOUT(scan->addresses().contains(opener), scanTimeoutMs);
    QCOMPARE(scan->bridge->connectionCount(), 1);
    const QString second = m_pages.reportingUrl(u"Calm page"_qs, kind + u"/roulette/2"_qs);
    m_pages.openFromPage({second});
    expectClosed(*scan, u"roulette"_qs, second);
    QCOMPARE(scan->ListView4.topLevelItemCount(), 1);

    // The host killed: the extension starts another, which brings the tabs back.
    const qint64 pid = browser->pid();
    const qint64 host = hostOf(pid);
    QVERIFY(host > 0);
    QCOMPARE(::kill(static_cast<pid_t>(host), SIGKILL), 0);
    const qint64 killedAt = m_pages.now();
    // Once seen, the new host counts even if the browser replaces it again meanwhile.
    bool replaced = false;
    const auto hostReplaced = [&] {
        const qint64 now = replaced ? 0 : hostOf(pid);
        replaced = replaced || (now > 0 && now != host);
        return replaced;
    };
    QTRY_VERIFY_WITH_TIMEOUT(hostReplaced(), hostReturnTimeoutMs);
    qInfo("host back %s: %lld ms after the kill", qPrintable(kind), m_pages.now() - killedAt);
    QTRY_VERIFY_WITH_TIMEOUT(scan->addresses().contains(opener), scanTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(scan->bridge->connectionCount(), 1, scanTimeoutMs);

    QVERIFY(scan->bridge->covers(pid));
    browser.reset();
    QTRY_VERIFY_WITH_TIMEOUT(scan->bridge->connectionCount() == 0, scanTimeoutMs);
    QVERIFY(scan->tabs().isEmpty());
    QVERIFY(!scan->bridge->covers(pid));
}

QTEST_MAIN(TestBridgeE2e)
#include "tst_bridge_e2e.moc"
