#include "bridge/HostRelay.h"
#include "bridge/PipeInput.h"
#include "sources/bridge/BridgeSource.h"
#include "support/BridgePeer.h"

#include <QBuffer>
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int waitMs = 10000;
using Frames = QList<QByteArray>;

QByteArray tabsMessage(int marker)
{
    return BridgePeer::tabsMessage({BridgePeer::tab(marker, u"Tab %1"_qs.arg(marker))});
}

QStringList namesOf(const QList<BrowserPage> &pages)
{
    QStringList names;
    for (const BrowserPage &page : pages)
        names.append(page.pageName.value_or(u"<unread>"_qs));
    return names;
}

Frames framesOf(const QByteArray &bytes)
{
    FrameReader reader;
    reader.append(bytes);
    Frames frames;
    while (const auto frame = reader.next())
        frames.append(frame->payload);
    return frames;
}

sockaddr_un addressOf(const QString &path)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    std::memcpy(address.sun_path, native.constData(), static_cast<size_t>(native.size()));
    return address;
}

// The host's relay between a real pipe, written as the browser writes it, and the socket.
struct Relay
{
    explicit Relay(const QString &socketPath)
        : input(::pipe2(ends, O_CLOEXEC) == 0 ? ends[0] : -1),
          relay(&input, &output, socketPath, {})
    {
        output.open(QIODevice::WriteOnly);
    }
    ~Relay() { closeBrowser(); }
    bool write(const QByteArray &bytes)
    {
        return ::write(ends[1], bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    bool send(const QByteArray &payload) { return write(frameOf(payload)); }
    void closeBrowser()
    {
        if (ends[1] >= 0)
            ::close(std::exchange(ends[1], -1));
    }

    int ends[2] = {-1, -1};
    PipeInput input;
    QBuffer output;
    HostRelay relay;
};

} // namespace

class TestBridge : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void relayKeepsTheLatestForItsUserThenCarriesOnlyValidMessagesBothWays();
    void realHostRelaysAndOutlivesTheProgram();
    void sourceListsRoutesClosesAndForgetsEachBrowser();
    void sourceClosesConnectionsBeyondItsCap();
    void sourceListensAgainAfterItsServerStopped_data();
    void sourceListensAgainAfterItsServerStopped();

private:
    std::unique_ptr<QTemporaryDir> m_runtime;
    QString m_path;
};

void TestBridge::init()
{
    m_runtime = std::make_unique<QTemporaryDir>();
    m_path = m_runtime->filePath(u"vexlor-popup/bridge"_qs);
    QVERIFY(QDir().mkdir(QFileInfo(m_path).path(),
                         QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

// A program of another user could read every tab of this one. As root, a stand-in listens as
// the unprivileged "nobody" in a child process, takes two connections and reports whether they
// brought any byte; the host keeps what it holds for the program of its own user.
void TestBridge::relayKeepsTheLatestForItsUserThenCarriesOnlyValidMessagesBothWays()
{
    Relay host(m_path);
    QSignalSpy finished(&host.relay, &HostRelay::finished);
    QVERIFY(host.send(tabsMessage(0)));
    host.relay.start();
    if (::getuid() == 0) {
        int report[2] = {-1, -1};
        QVERIFY(::pipe2(report, O_CLOEXEC | O_NONBLOCK) == 0);
        const sockaddr_un address = addressOf(m_path);
        const pid_t child = ::fork();
        const auto reap = qScopeGuard([child] {
            if (child > 0 && ::kill(child, SIGKILL) == 0)
                ::waitpid(child, nullptr, 0);
        });
        if (child == 0) {
            const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::bind(server, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
                ::setgid(65534) != 0 || ::setuid(65534) != 0 || ::listen(server, 4) != 0)
                ::_exit(2);
            qint64 total = 0;
            char bytes[4096];
            for (int connection = 0; connection < 2; ++connection) {
                const int peer = ::accept(server, nullptr, nullptr);
                for (ssize_t count = 0; (count = ::read(peer, bytes, sizeof bytes)) > 0;)
                    total += count;
                ::close(peer);
            }
            const char verdict = total == 0 ? '0' : '1';
            ::_exit(::write(report[1], &verdict, 1) == 1 ? 0 : 3);
        }
        ::close(report[1]);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"refusé"_qs));
        // The host went on trying after the first refusal, and said nothing.
        char verdict = 0;
        const auto reported = [&] {
            return verdict != 0 || ::read(report[0], &verdict, 1) == 1;
        };
        QTRY_VERIFY_WITH_TIMEOUT(reported(), waitMs);
        ::close(report[0]);
        QCOMPARE(verdict, '0');
    }
    // The last of several lists stands for the browser's tabs: it alone is given, none asked for.
    for (int marker = 1; marker < 4; ++marker)
        QVERIFY(host.send(tabsMessage(marker)));
    auto program = std::make_unique<BridgeListener>(m_path); // found on a retry
    QTRY_COMPARE_WITH_TIMEOUT(program->received(0).size(), 2, waitMs);
    QVERIFY(program->received(0).first().startsWith(R"({"hello":)"));
    QCOMPARE(program->received(0)[1], tabsMessage(3));
    const QByteArray change = R"({"changed":[{"id":4,"title":"Four"}],"removed":[1]})";
    QVERIFY(host.send(change));
    QTRY_COMPARE_WITH_TIMEOUT(program->received(0).last(), change, waitMs);
    // After a change made while it was away, the program is given no stale list: the extension
    // is asked for the whole one. So it is after a refusal, a second later.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"connexion au programme perdue"_qs));
    program.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!host.relay.isConnected(), waitMs);
    QVERIFY(host.send(change));
    program = std::make_unique<BridgeListener>(m_path);
    const QByteArray ask = BridgeMessages::listRequest();
    QTRY_COMPARE_WITH_TIMEOUT(framesOf(host.output.data()), Frames{ask}, waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(program->received(0).size(), 1, waitMs);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"de l'extension ignoré"_qs));
    QVERIFY(host.send("[1]"));
    QTRY_COMPARE_WITH_TIMEOUT(program->received(0).last(), BridgeMessages::refused(3), waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(framesOf(host.output.data()), (Frames{ask, ask}), waitMs);
    // Each message dropped is one line on standard error.
    for (const QByteArray &bad : Frames{"[12]", R"({"close":"12"})", R"({"close":1.5})",
                                        R"({"close":1e300})", R"({"tabs":[]})"}) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"du programme"_qs));
        program->peers[0]->send(bad);
    }
    program->peers[0]->send(R"({"close": 9007199254740992,"extra":true})");
    QTRY_COMPARE_WITH_TIMEOUT(framesOf(host.output.data()).last(), R"({"close":9007199254740992})",
                              waitMs);

    // The last message, sent just before the pipe closes, still reaches the program.
    QVERIFY(host.send(tabsMessage(5)) && host.write(frameOf(tabsMessage(6)).first(7)));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"au milieu d'un message"_qs));
    host.closeBrowser();
    QVERIFY(finished.wait(waitMs));
    QTRY_COMPARE_WITH_TIMEOUT(program->received(0).last(), tabsMessage(5), waitMs);
}

void TestBridge::realHostRelaysAndOutlivesTheProgram()
{
    QProcess host;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_RUNTIME_DIR"_qs, m_runtime->path());
    host.setProcessEnvironment(environment);
    // Started as Firefox starts it; Chromium gives other arguments, which the host does not read.
    host.start(QStringLiteral(VEXLOR_APP_FOLDER "/vexlor-popup-bridge"),
               {u"/usr/lib/mozilla/native-messaging-hosts/fr.vexlor.popup_bridge.json"_qs,
                u"popup-bridge@vexlor.fr"_qs});
    QVERIFY(host.waitForStarted(waitMs));
    host.write(frameOf(BridgePeer::tabsMessage({BridgePeer::tab(12, u"Popup"_qs)})));
    host.write(frameOf(R"({"bogus":true})"));
    QByteArray output;
    {
        // The program starts after the browser: the host finds it on a retry.
        BridgeSource source(m_path);
        QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()), QStringList{u"Popup"_qs}, waitMs);
        // The host's parent, this test, is its browser.
        QVERIFY(source.covers(QCoreApplication::applicationPid()));
        source.requestClose(source.walk()[0].handle);
        QTRY_VERIFY_WITH_TIMEOUT(
            (output += host.readAllStandardOutput()).contains(frameOf(R"({"close":12})")), waitMs);
    }
    // The program went; the host waits for the next one, and gives it the list that stands.
    host.write(frameOf(BridgePeer::tabsMessage({BridgePeer::tab(2, u"While away"_qs)})));
    const QByteArray ask = frameOf(BridgeMessages::listRequest());
    const auto asks = [&] {
        return (output += host.readAllStandardOutput()).count(ask);
    };
    std::optional<BridgeSource> source(std::in_place, m_path);
    QList<BrowserPage> reported;
    source->setPagesReported([&](const QList<BrowserPage> &pages) { reported += pages; });
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source->walk()), QStringList{u"While away"_qs}, waitMs);
    QCOMPARE(namesOf(reported), QStringList{u"While away"_qs});
    // Changes apply to it, and what opened or changed is reported as walks list it.
    host.write(frameOf(R"({"changed":[{"id":4,"title":"Four","url":"u"}],"removed":[2]})"));
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source->walk()), QStringList{u"Four"_qs}, waitMs);
    QCOMPARE(reported.last().handle, source->walk()[0].handle);
    QCOMPARE(reported.last().address, u"u"_qs);
    // A message the host refuses leaves the browser uncovered, and its changes unheeded, until
    // the list the host asks for comes through.
    const qsizetype asked = asks();
    host.write(frameOf(QByteArray(FrameReader::maxFrameBytes + 1, ' ')));
    QTRY_VERIFY_WITH_TIMEOUT(source->walk().isEmpty() && !source->covers(::getpid()), waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(asks(), asked + 1, waitMs);
    host.write(frameOf(R"({"changed":[{"id":9,"title":"Nine"}]})") + frameOf(tabsMessage(3)));
    QTRY_VERIFY_WITH_TIMEOUT(source->walk().size() == 1 && source->covers(::getpid()), waitMs);
    QCOMPARE(namesOf(reported).last(), u"Tab 3"_qs);
    QVERIFY(!namesOf(reported).contains(u"Nine"_qs));
    // A program that comes after a change is given the whole list the host asks for.
    source.reset();
    host.write(frameOf(R"({"removed":[3]})"));
    source.emplace(m_path);
    QTRY_COMPARE_WITH_TIMEOUT(asks(), asked + 2, waitMs);
    host.write(frameOf(tabsMessage(5)));
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source->walk()), QStringList{u"Tab 5"_qs}, waitMs);

    host.closeWriteChannel();
    QVERIFY(host.waitForFinished(waitMs));
    QVERIFY(host.exitStatus() == QProcess::NormalExit && host.exitCode() == 0);
    // Standard output carries whole frames and nothing else.
    output += host.readAllStandardOutput();
    QCOMPARE(output.replace(ask, {}), frameOf(R"({"close":12})"));
    QVERIFY(host.readAllStandardError().contains("commande inconnue de l'extension ignorée"));
    QTRY_VERIFY_WITH_TIMEOUT(!source->covers(QCoreApplication::applicationPid()), waitMs);
}

void TestBridge::sourceListsRoutesClosesAndForgetsEachBrowser()
{
    BridgeSource source(m_path);
    BridgePeer firefox(m_path);
    BridgePeer chromium(m_path);
    // Pids that cannot be the test's parent, whatever pid the system gave it.
    const qint64 claimed = ::getppid() + 1;
    firefox.sendHello(claimed);
    chromium.sendHello(claimed + 1);
    // A browser counts as covered from its hello on, before it has listed anything. It is the
    // parent of the process that connected (here the one that started this test), not the pid
    // the hello names: any process of the user could name the user's browser.
    QTRY_VERIFY_WITH_TIMEOUT(source.covers(::getppid()), waitMs);
    QVERIFY(!source.covers(claimed));
    QVERIFY(!source.covers(claimed + 1));
    QVERIFY(!source.covers(0));

    // What no browser sends is passed over, and what one could send is cut to size.
    for (const char *garbage : {"not json", "[1,2]", R"({"tabs":"none"})", R"({"close":1})", ""})
        chromium.send(garbage);
    chromium.send(QByteArray(FrameReader::maxFrameBytes + 10, ' '));
    firefox.sendTabs({BridgePeer::tab(1, QString(kMaxTextLength + 500, u'x')),
                      QJsonObject{{u"id"_qs, 2}}, QJsonObject{{u"id"_qs, u"3"_qs}},
                      QJsonObject{{u"id"_qs, 4.5}}, QJsonObject{{u"title"_qs, u"no id"_qs}},
                      u"tab"_qs,
                      QJsonObject{{u"id"_qs, 5}, {u"title"_qs, 7}, {u"url"_qs, u"ok"_qs}}});
    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 3, waitMs);
    const QList<BrowserPage> pages = source.walk();
    QCOMPARE(pages[0].pageName->size(), kMaxTextLength);
    QVERIFY(!pages[1].pageName && !pages[1].address && pages[1].handle.id.endsWith("/2"));
    QVERIFY(!pages[2].pageName && pages[2].address == u"ok"_qs);

    // Both browsers have a tab 12: each request goes to the browser that listed it.
    firefox.sendTabs({BridgePeer::tab(12, u"Alpha"_qs)});
    const QJsonArray chromiumTabs{
        BridgePeer::tab(12, u"Popup"_qs),
        QJsonObject{{u"id"_qs, 13}, {u"title"_qs, u"Kept"_qs}, {u"active"_qs, false}}};
    chromium.sendTabs(chromiumTabs);
    QTRY_COMPARE_WITH_TIMEOUT(namesOf(source.walk()),
                              (QStringList{u"Alpha"_qs, u"Popup"_qs, u"Kept"_qs}), waitMs);
    source.requestClose(source.walk()[1].handle);
    QCOMPARE(namesOf(source.walk()), (QStringList{u"Alpha"_qs, u"Kept"_qs}));
    // A browser that lists the tab again ignored the request: the tab is back.
    chromium.sendTabs(chromiumTabs);
    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 3, waitMs);

    // A browser that drops vanishes at once, and what it listed can no longer be closed.
    const WindowHandle alpha = source.walk()[0].handle;
    firefox.disconnectFromServer();
    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 2, waitMs);
    for (const QByteArray &id : {alpha.id, QByteArray("999/12"), QByteArray("garbage")})
        source.requestClose(WindowHandle{0, id});
    // A window shows a listed tab when its page name is the title of an active one; a longer
    // name than a clipped title, whatever it starts with, is not accounted for.
    const QString clipped(BridgeMessages::kClippedLength, u'c');
    chromium.sendTabs(chromiumTabs + BridgePeer::tab(14, clipped));
    QTRY_VERIFY_WITH_TIMEOUT(source.accountsFor(::getppid(), clipped), waitMs);
    for (const QString &name : {u"Kept"_qs, u"Pop"_qs, clipped + u"asino"_qs})
        QVERIFY(!source.accountsFor(::getppid(), name));
    QVERIFY(source.accountsFor(::getppid(), u"Popup"_qs) &&
            !source.accountsFor(claimed, u"Popup"_qs));
    // So under changes: the window now shows Kept, and the clipped tab has closed.
    chromium.send(R"({"changed":[{"id":12,"title":"Popup","active":false},)"
                  R"({"id":13,"title":"Kept","active":true}],"removed":[14]})");
    QTRY_VERIFY_WITH_TIMEOUT(source.accountsFor(::getppid(), u"Kept"_qs), waitMs);
    QVERIFY(!source.accountsFor(::getppid(), u"Popup"_qs) &&
            !source.accountsFor(::getppid(), clipped));
    QCOMPARE(chromium.received(), Frames{R"({"close":12})"});
}

void TestBridge::sourceClosesConnectionsBeyondItsCap()
{
    BridgeSource source(m_path);
    std::vector<std::unique_ptr<BridgePeer>> crowd;
    for (int i = 0; i < BridgeSource::maxConnections + 8; ++i)
        crowd.push_back(std::make_unique<BridgePeer>(m_path));
    const auto stillConnected = [&] {
        return std::count_if(crowd.cbegin(), crowd.cend(),
                             [](auto &p) { return p->isConnected(); });
    };
    QTRY_COMPARE_WITH_TIMEOUT(stillConnected(), BridgeSource::maxConnections, waitMs);
    crowd.clear();
    QTRY_COMPARE_WITH_TIMEOUT(source.connectionCount(), 0, waitMs);
}

void TestBridge::sourceListensAgainAfterItsServerStopped_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("no descriptor left to take a connection") << 0;
    QTest::newRow("socket file removed") << 1;
    QTest::newRow("a dead program's socket file in the way") << 2;
}

void TestBridge::sourceListensAgainAfterItsServerStopped()
{
    QFETCH(int, how);
    const sockaddr_un address = addressOf(m_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (how == 2) // bound, never listened on again: a program that was killed
        QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    BridgeSource source(m_path);
    QVERIFY(source.isListening());
    if (how == 0) {
        // The connection is made; taking it would need one more descriptor than there is.
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        const rlimit low{static_cast<rlim_t>(fd) + 1, saved.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
        QCOMPARE(::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!source.isListening(), waitMs);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    } else if (how == 1) {
        QVERIFY(QFile::remove(m_path));
    }
    ::close(fd);
    QTRY_VERIFY_WITH_TIMEOUT((source.walk(), source.isListening() && QFile::exists(m_path)),
                             waitMs);
    BridgePeer host(m_path);
    host.sendHello(4101);
    QTRY_VERIFY_WITH_TIMEOUT(source.covers(::getppid()), waitMs);
    // A live program keeps its socket.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"déjà utilisé"_qs));
    QVERIFY(!BridgeSource(m_path).isListening());
}

QTEST_GUILESS_MAIN(TestBridge)
#include "tst_bridge.moc"
