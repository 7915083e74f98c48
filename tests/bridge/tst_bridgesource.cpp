#include "sources/bridge/BridgeSource.h"
#include "support/BridgePeer.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int waitMs = 10000;

QStringList namesOf(const QList<BrowserPage> &pages)
{
    QStringList names;
    for (const BrowserPage &page : pages)
        names.append(page.pageName.value_or(u"<unread>"_qs));
    return names;
}

std::optional<BrowserPage> pageNamed(const QList<BrowserPage> &pages, const QString &name)
{
    for (const BrowserPage &page : pages) {
        if (page.pageName == name)
            return page;
    }
    return std::nullopt;
}

// A socket file as a program that was killed leaves it: bound, then never listened on again.
void leaveStaleSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    std::memcpy(address.sun_path, native.constData(), native.size());
    QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ::close(fd);
    QVERIFY(QFile::exists(path));
}

} // namespace

class TestBridgeSource : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void listsTheTabsOfEveryConnectedBrowser();
    void oddListsAreReadSafely();
    void closeGoesToTheRightBrowserAndHidesTheTab();
    void aConnectionThatDropsVanishesAtOnce();
    void garbageOnTheSocketChangesNothing();
    void aStaleSocketFileIsReplaced();
    void aLiveProgramKeepsItsSocket();
    void anOpenFolderIsRefused();

private:
    std::unique_ptr<QTemporaryDir> m_runtime;
    QString m_socketPath;
};

void TestBridgeSource::init()
{
    m_runtime = std::make_unique<QTemporaryDir>();
    QVERIFY(m_runtime->isValid());
    m_socketPath = m_runtime->filePath(u"vexlor-popup/bridge"_qs);
}

void TestBridgeSource::listsTheTabsOfEveryConnectedBrowser()
{
    BridgeSource source(m_socketPath);
    QVERIFY(source.isListening());
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    QVERIFY(!(QFileInfo(QFileInfo(m_socketPath).absolutePath()).permissions() & others));

    BridgePeer firefox(m_socketPath);
    BridgePeer chromium(m_socketPath);
    QVERIFY(firefox.waitForConnected() && chromium.waitForConnected());
    firefox.sendHello(4101, u"firefox-esr"_qs);
    firefox.sendTabs({BridgePeer::tab(3, u"Alpha"_qs, u"https://alpha.example/"_qs),
                      BridgePeer::tab(8, u"Beta"_qs, u"https://beta.example/"_qs)});
    chromium.sendHello(4202, u"chromium"_qs);
    QTRY_COMPARE_WITH_TIMEOUT(source.connectionCount(), 2, waitMs);
    // A browser counts as covered from its hello on, before it has listed anything.
    QTRY_VERIFY_WITH_TIMEOUT(source.covers(4202), waitMs);
    chromium.sendTabs({BridgePeer::tab(12, u"Gamma"_qs, u"https://gamma.example/"_qs)});

    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()),
                              (QStringList{u"Alpha"_qs, u"Beta"_qs, u"Gamma"_qs}), waitMs);
    const auto gamma = pageNamed(source.walk(), u"Gamma"_qs);
    QCOMPARE(gamma->address, u"https://gamma.example/"_qs);
    QVERIFY(gamma->handle.id.endsWith("/12"));
    QVERIFY(pageNamed(source.walk(), u"Alpha"_qs)->handle.id.endsWith("/3"));
    QVERIFY(source.covers(4101));
    QVERIFY(!source.covers(4303));

    // Each list replaces the browser's previous one whole.
    firefox.sendTabs({BridgePeer::tab(8, u"Beta, renamed"_qs, u"https://beta.example/2"_qs)});
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()),
                              (QStringList{u"Beta, renamed"_qs, u"Gamma"_qs}), waitMs);
}

void TestBridgeSource::oddListsAreReadSafely()
{
    BridgeSource source(m_socketPath);
    BridgePeer peer(m_socketPath);
    QVERIFY(peer.waitForConnected());
    peer.sendHello(4101);

    const QString longTitle(TabSnapshot::maxTextLength + 500, u'x');
    QJsonArray odd{BridgePeer::tab(1, longTitle, u"https://long.example/"_qs),
                   QJsonObject{{u"id"_qs, 2}},
                   QJsonObject{{u"id"_qs, u"3"_qs}, {u"title"_qs, u"string id"_qs}},
                   QJsonObject{{u"id"_qs, 4.5}, {u"title"_qs, u"fraction id"_qs}},
                   QJsonObject{{u"title"_qs, u"no id"_qs}},
                   u"not a tab"_qs,
                   QJsonObject{{u"id"_qs, 5}, {u"title"_qs, 7}, {u"url"_qs, u"ok"_qs}}};
    peer.sendTabs(odd);
    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 3, waitMs);
    const QList<BrowserPage> pages = source.walk();
    QCOMPARE(pages[0].pageName->size(), TabSnapshot::maxTextLength);
    QVERIFY(!pages[1].pageName && !pages[1].address);
    QVERIFY(pages[1].handle.id.endsWith("/2"));
    QVERIFY(!pages[2].pageName);
    QCOMPARE(pages[2].address, u"ok"_qs);

    // A list longer than any real browser's is cut short.
    QJsonArray many;
    for (int id = 0; id < BridgeSource::maxTabsPerBrowser + 100; ++id)
        many.append(QJsonObject{{u"id"_qs, id}});
    peer.sendTabs(many);
    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), BridgeSource::maxTabsPerBrowser, waitMs);
}

void TestBridgeSource::closeGoesToTheRightBrowserAndHidesTheTab()
{
    BridgeSource source(m_socketPath);
    BridgePeer firefox(m_socketPath);
    BridgePeer chromium(m_socketPath);
    QVERIFY(firefox.waitForConnected() && chromium.waitForConnected());
    firefox.sendHello(4101);
    firefox.sendTabs({BridgePeer::tab(12, u"Alpha"_qs, u"https://alpha.example/"_qs)});
    chromium.sendHello(4202);
    const QJsonArray chromiumTabs{BridgePeer::tab(12, u"Popup"_qs, u"https://ads.example/"_qs),
                                  BridgePeer::tab(13, u"Kept"_qs, u"https://kept.example/"_qs)};
    chromium.sendTabs(chromiumTabs);
    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 3, waitMs);

    source.requestClose(pageNamed(source.walk(), u"Popup"_qs)->handle);
    QCOMPARE(namesOf(source.walk()), (QStringList{u"Alpha"_qs, u"Kept"_qs}));
    QTRY_COMPARE_WITH_TIMEOUT(chromium.received(), QList<QByteArray>{R"({"close":12})"}, waitMs);
    QVERIFY(firefox.received().isEmpty());

    // A browser that still lists the tab once the grace period is over ignored the request:
    // the tab is listed again.
    chromium.sendTabs(chromiumTabs);
    QTRY_VERIFY_WITH_TIMEOUT(pageNamed(source.walk(), u"Popup"_qs), waitMs);
    QVERIFY(source.walk().size() == 3);

    // Handles that name no connection or no number are ignored.
    source.requestClose(WindowHandle{0, "999/12"});
    source.requestClose(WindowHandle{0, "garbage"});
    const QByteArray kept = pageNamed(source.walk(), u"Kept"_qs)->handle.id;
    source.requestClose(WindowHandle{0, kept.left(kept.indexOf('/') + 1) + "x"});
    source.requestClose(pageNamed(source.walk(), u"Kept"_qs)->handle);
    QTRY_COMPARE_WITH_TIMEOUT(chromium.received().size(), 2, waitMs);
    QCOMPARE(chromium.received().last(), QByteArray(R"({"close":13})"));
    QVERIFY(firefox.received().isEmpty());
}

void TestBridgeSource::aConnectionThatDropsVanishesAtOnce()
{
    BridgeSource source(m_socketPath);
    BridgePeer firefox(m_socketPath);
    BridgePeer chromium(m_socketPath);
    QVERIFY(firefox.waitForConnected() && chromium.waitForConnected());
    firefox.sendHello(4101);
    firefox.sendTabs({BridgePeer::tab(1, u"Alpha"_qs, u"https://alpha.example/"_qs)});
    chromium.sendHello(4202);
    chromium.sendTabs({BridgePeer::tab(1, u"Gamma"_qs, u"https://gamma.example/"_qs)});
    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 2, waitMs);
    const WindowHandle alpha = pageNamed(source.walk(), u"Alpha"_qs)->handle;

    firefox.disconnectFromServer();
    QTRY_COMPARE_WITH_TIMEOUT(source.connectionCount(), 1, waitMs);
    QCOMPARE(namesOf(source.walk()), QStringList{u"Gamma"_qs});
    QVERIFY(!source.covers(4101));
    QVERIFY(source.covers(4202));
    // A close for the tab of a browser that has gone reaches no one.
    source.requestClose(alpha);

    // The same browser connecting again gets a connection of its own.
    BridgePeer again(m_socketPath);
    QVERIFY(again.waitForConnected());
    again.sendHello(4101);
    again.sendTabs({BridgePeer::tab(1, u"Alpha"_qs, u"https://alpha.example/"_qs)});
    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 2, waitMs);
    QVERIFY(pageNamed(source.walk(), u"Alpha"_qs)->handle != alpha);
    QVERIFY(chromium.received().isEmpty());
}

void TestBridgeSource::garbageOnTheSocketChangesNothing()
{
    BridgeSource source(m_socketPath);
    BridgePeer peer(m_socketPath);
    QVERIFY(peer.waitForConnected());
    peer.sendHello(4101);
    peer.sendTabs({BridgePeer::tab(1, u"Alpha"_qs, u"https://alpha.example/"_qs)});
    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 1, waitMs);

    peer.send("not json");
    peer.send("[1,2]");
    peer.send(R"({"tabs":"none"})");
    peer.send(R"({"close":1})");
    peer.send({});
    peer.send(QByteArray(FrameReader::maxFrameBytes + 10, ' '));
    peer.sendTabs({BridgePeer::tab(2, u"Beta"_qs, u"https://beta.example/"_qs)});
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()), QStringList{u"Beta"_qs}, waitMs);
    QCOMPARE(source.connectionCount(), 1);
    QVERIFY(source.covers(4101));
}

void TestBridgeSource::aStaleSocketFileIsReplaced()
{
    QVERIFY(QDir().mkdir(QFileInfo(m_socketPath).absolutePath(),
                         QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    leaveStaleSocket(m_socketPath);

    BridgeSource source(m_socketPath);
    QVERIFY(source.isListening());
    BridgePeer peer(m_socketPath);
    QVERIFY(peer.waitForConnected());
    QTRY_COMPARE_WITH_TIMEOUT(source.connectionCount(), 1, waitMs);
}

void TestBridgeSource::aLiveProgramKeepsItsSocket()
{
    BridgeSource first(m_socketPath);
    QVERIFY(first.isListening());

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"déjà utilisé"_qs));
    BridgeSource second(m_socketPath);
    QVERIFY(!second.isListening());
    QVERIFY(second.walk().isEmpty());

    BridgePeer peer(m_socketPath);
    QVERIFY(peer.waitForConnected());
    QTRY_COMPARE_WITH_TIMEOUT(first.connectionCount(), 1, waitMs);
    QCOMPARE(second.connectionCount(), 0);
}

void TestBridgeSource::anOpenFolderIsRefused()
{
    const QString folder = QFileInfo(m_socketPath).absolutePath();
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"ouvert à d'autres"_qs));
    BridgeSource source(m_socketPath);
    QVERIFY(!source.isListening());
    QVERIFY(!QFile::exists(m_socketPath));

    // A link in place of the folder is not followed.
    QVERIFY(QDir(folder).removeRecursively());
    QTemporaryDir elsewhere;
    QVERIFY(QFile::link(elsewhere.path(), folder));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"n'est pas un dossier"_qs));
    BridgeSource linked(m_socketPath);
    QVERIFY(!linked.isListening());
}

QTEST_GUILESS_MAIN(TestBridgeSource)
#include "tst_bridgesource.moc"
