#include "bridge/BridgeSocketPath.h"
#include "sources/bridge/BridgeSource.h"
#include "sources/bridge/HostManifests.h"
#include "support/EndToEndRig.h"

#include <QTest>

#include <csignal>

namespace {

const QString host = QStringLiteral(VEXLOR_APP_FOLDER "/vexlor-popup-bridge");
const QString packages = QStringLiteral(VEXLOR_APP_FOLDER "/bridge/");

// A headless browser with a fresh profile, the bridge extension, and the host's manifests as
// the program's per-user installation writes them, opening the address.
std::unique_ptr<BrowserProcess> startBrowser(const QString &kind, const QString &address)
{
    // Firefox takes an unsigned add-on dropped into the profile once signatures are off and the
    // profile's scope is enabled.
    const auto install = [](const QString &home) {
        writeHostManifests({home, home + u"/.config"_qs, home + u"/system"_qs},
                           QStringLiteral(VEXLOR_APP_FOLDER));
        QDir().mkpath(home + u"/profile/extensions"_qs);
        QFile::copy(packages + u"vexlor-popup-bridge.xpi"_qs,
                    home + u"/profile/extensions/popup-bridge@vexlor.fr.xpi"_qs);
    };
    const QStringList chromiumExtension = {
        u"--load-extension="_qs + packages + u"chromium"_qs,
        u"--disable-features=DisableLoadExtensionCommandLineSwitch"_qs};
    return std::make_unique<BrowserProcess>(
        kind, BrowserProcess::Headless,
        (kind == u"chromium" ? chromiumExtension : QStringList()) + QStringList{address},
        "user_pref(\"xpinstall.signatures.required\", false);\n"
        "user_pref(\"extensions.autoDisableScopes\", 0);\n"
        "user_pref(\"extensions.enabledScopes\", 15);\n",
        install);
}

// The bridge host that the browser started, or 0.
qint64 hostOf(const BrowserProcess &browser)
{
    return BrowserProcess::processesWith(browser.marker(), u"vexlor-popup-bridge"_qs).value(0);
}

// The whole program with the bridge as its only page source.
struct BridgedProgram
{
    BridgeSource *bridge = nullptr;
    ProgramRig rig{"\"Casino\"\r\n\"PUB-ZONE\"\r\n", [this](CompositeBrowserSource &source) {
                       auto backend = std::make_unique<BridgeSource>();
                       bridge = backend.get();
                       source.addBackend(std::move(backend));
                   }};
};

} // namespace

// The bridge between the program and real browsers, through their extension and its host.
class TestBridgeE2e : public QObject
{
    Q_OBJECT
    EndToEndRig m_rig;

private slots:
    void initTestCase();
    void init() { EndToEndRig::skipUnlessInstalled(); }
    void popupsClosedOnceAcrossRestartsOfProgramAndHost_data() { EndToEndRig::browserRows(); }
    void popupsClosedOnceAcrossRestartsOfProgramAndHost();
    void killedTestLeavesNoBrowserNorHost_data() { EndToEndRig::browserRows(); }
    void killedTestLeavesNoBrowserNorHost();

private:
    // The page is closed by the program, which journals it under the keyword.
    void expectClosed(ProgramRig &program, const QString &keyword, const QString &address)
    {
        QTRY_VERIFY_WITH_TIMEOUT(program.journal().contains({keyword, address}), scanTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(m_rig.pages.isGone(address), scanTimeoutMs);
    }
};

void TestBridgeE2e::initTestCase()
{
    m_rig.verifyReady();
    QCOMPARE(bridgeSocketPath(), m_rig.runtime.path() + u"/vexlor-popup/bridge"_qs);
    QVERIFY2(QFileInfo::exists(host) && QFileInfo::exists(packages + u"vexlor-popup-bridge.xpi"_qs),
             "build the vexlor-popup target first");
}

// The browser runs before the program. A page opens popups: those whose title or address holds
// a keyword, in another case, are closed once each; their opener and the others stay. The
// program is restarted, then the host is killed and the browser starts another: each time the
// bridge comes back. A browser that dies takes its tabs with it.
void TestBridgeE2e::popupsClosedOnceAcrossRestartsOfProgramAndHost()
{
    QFETCH(QString, kind);
    TitledPageServer &pages = m_rig.pages;
    const QString opener = pages.url(u"Garden news"_qs, kind + u"/opener"_qs, true);
    const auto browser = startBrowser(kind, opener);
    QTRY_VERIFY_WITH_TIMEOUT(hostOf(*browser) > 0, startTimeoutMs);

    auto program = std::make_unique<BridgedProgram>();
    QTRY_VERIFY_WITH_TIMEOUT(program->rig.addresses().contains(opener), scanTimeoutMs);
    QCOMPARE(program->bridge->connectionCount(), 1);
    QVERIFY(program->bridge->covers(browser->pid()));
    const QString byTitle = pages.url(u"Big CASINO night"_qs, kind + u"/a"_qs);
    const QString byAddress = pages.url(u"Quiet reading"_qs, kind + u"/pub-zone/b"_qs);
    const QString cafe = pages.url(u"Cuisine — café ☕"_qs, kind + u"/c?x=1"_qs);
    pages.openFromPage({byTitle, byAddress, cafe});
    expectClosed(program->rig, u"Casino"_qs, byTitle);
    expectClosed(program->rig, u"PUB-ZONE"_qs, byAddress);
    QTRY_COMPARE_WITH_TIMEOUT(program->rig.addresses(), (QSet{opener, cafe}), scanTimeoutMs);
    // A tab asked to close is hidden from walks for one second only: had one outlived that,
    // the next ticks would have matched and journalled it again.
    const int ticks = program->rig.ticks;
    QTRY_VERIFY_WITH_TIMEOUT(program->rig.ticks >= ticks + 4, scanTimeoutMs);
    QCOMPARE(program->rig.closings(), 2);
    QVERIFY(!pages.isGone(cafe));

    program.reset();
    program = std::make_unique<BridgedProgram>();
    QTRY_VERIFY_WITH_TIMEOUT(program->rig.addresses().contains(opener), scanTimeoutMs);
    QCOMPARE(program->bridge->connectionCount(), 1);
    const QString again = pages.url(u"Calm page"_qs, kind + u"/casino/again"_qs);
    pages.openFromPage({again});
    expectClosed(program->rig, u"Casino"_qs, again);

    const qint64 killed = hostOf(*browser);
    QCOMPARE(::kill(pid_t(killed), SIGKILL), 0);
    // The extension waits up to 30 s between two tries of its host.
    QTRY_VERIFY_WITH_TIMEOUT((!QSet<qint64>{0, killed}.contains(hostOf(*browser))), 45000);
    QTRY_COMPARE_WITH_TIMEOUT(program->bridge->connectionCount(), 1, scanTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(program->rig.addresses().contains(opener), scanTimeoutMs);

    browser->kill();
    QTRY_COMPARE_WITH_TIMEOUT(program->bridge->connectionCount(), 0, scanTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(program->rig.addresses().isEmpty(), scanTimeoutMs);
    QVERIFY(!program->bridge->covers(browser->pid()));
}

// A test killed outright, as a timeout kills it, leaves none of the processes it started:
// neither a browser, whose extension would connect to the user's next program, nor its host.
void TestBridgeE2e::killedTestLeavesNoBrowserNorHost()
{
    QFETCH(QString, kind);
    const QString run = u"VEXLOR_KILLED_RUN"_qs;
    const QByteArray marker = (run + u'=' + m_rig.runtime.path()).toLocal8Bit();
    QProcess test;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(run, m_rig.runtime.path());
    test.setProcessEnvironment(environment);
    test.setStandardOutputFile(QProcess::nullDevice());
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

QTEST_MAIN(TestBridgeE2e)
#include "tst_bridge_e2e.moc"
