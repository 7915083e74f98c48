#include "bridge/BridgeMessages.h"
#include "bridge/HostRelay.h"
#include "bridge/PipeInput.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int waitMs = 10000;

QByteArray tabsMessage(int marker)
{
    const QJsonObject tab{{u"id"_qs, marker}, {u"title"_qs, u"Tab %1"_qs.arg(marker)}};
    return QJsonDocument(QJsonObject{{u"tabs"_qs, QJsonArray{tab}}}).toJson(QJsonDocument::Compact);
}

// The browser's side of the host's standard input: a real pipe, written without blocking so
// that a large message goes in while the relay, on this same thread, reads it.
class BrowserPipe
{
public:
    BrowserPipe()
    {
        int ends[2] = {-1, -1};
        if (::pipe2(ends, O_CLOEXEC) == 0) {
            m_read = ends[0];
            m_write = ends[1];
            ::fcntl(m_write, F_SETFL, O_NONBLOCK);
        }
    }
    ~BrowserPipe()
    {
        closeWriteEnd();
        if (m_read >= 0)
            ::close(m_read);
    }
    BrowserPipe(const BrowserPipe &) = delete;
    BrowserPipe &operator=(const BrowserPipe &) = delete;

    int readEnd() const { return m_read; }
    bool write(const QByteArray &bytes)
    {
        qsizetype done = 0;
        const QDeadlineTimer deadline(waitMs);
        while (done < bytes.size() && !deadline.hasExpired()) {
            const ssize_t count = ::write(m_write, bytes.constData() + done,
                                          static_cast<size_t>(bytes.size() - done));
            if (count > 0)
                done += count;
            else
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        return done == bytes.size();
    }
    bool send(const QByteArray &payload) { return write(frameOf(payload)); }
    void closeWriteEnd()
    {
        if (m_write >= 0)
            ::close(m_write);
        m_write = -1;
    }

private:
    int m_read = -1;
    int m_write = -1;
};

// The program's side of the socket: every connection the host makes and the frames it sent.
class ProgramStandIn : public QObject
{
public:
    explicit ProgramStandIn(const QString &path)
    {
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket *socket = m_server.nextPendingConnection()) {
                const qsizetype index = m_connections.size();
                m_connections.append(Connection{socket, {}, {}});
                connect(socket, &QLocalSocket::readyRead, this, [this, index] {
                    Connection &c = m_connections[index];
                    c.reader.append(c.socket->readAll());
                    while (const auto frame = c.reader.next())
                        c.received.append(frame->payload);
                });
            }
        });
        QLocalServer::removeServer(path);
        m_server.listen(path);
    }

    bool isListening() const { return m_server.isListening(); }
    qsizetype connectionCount() const { return m_connections.size(); }
    QList<QByteArray> received(qsizetype connection) const
    {
        return connection < m_connections.size() ? m_connections[connection].received
                                                 : QList<QByteArray>{};
    }
    void send(qsizetype connection, const QByteArray &payload)
    {
        m_connections[connection].socket->write(frameOf(payload));
    }
    void dropConnections()
    {
        for (Connection &c : m_connections)
            c.socket->abort();
    }

private:
    struct Connection
    {
        QLocalSocket *socket;
        FrameReader reader;
        QList<QByteArray> received;
    };
    QLocalServer m_server;
    QList<Connection> m_connections;
};

QList<QByteArray> framesIn(const QBuffer &output)
{
    FrameReader reader;
    reader.append(output.data());
    QList<QByteArray> frames;
    while (const auto frame = reader.next())
        frames.append(frame->payload);
    return frames;
}

QByteArray expectedHello()
{
    return BridgeMessages::hello(::getppid(), HostRelay::processName(::getppid()));
}

} // namespace

class TestHostRelay : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void helloComesFirstThenMessagesGoBothWays();
    void holdsTheLatestMessagesWhileTheProgramIsAway();
    void dropsWhatTheBridgeDoesNotAllow();
    void endsWhenTheBrowserClosesItsPipe();
    void refusesAProgramOfAnotherUser();

private:
    std::unique_ptr<QTemporaryDir> m_runtime;
    QString m_socketPath;
};

void TestHostRelay::init()
{
    m_runtime = std::make_unique<QTemporaryDir>();
    QVERIFY(m_runtime->isValid());
    m_socketPath = m_runtime->filePath(u"bridge"_qs);
}

void TestHostRelay::helloComesFirstThenMessagesGoBothWays()
{
    ProgramStandIn program(m_socketPath);
    QVERIFY(program.isListening());
    BrowserPipe browser;
    PipeInput input(browser.readEnd());
    QBuffer output;
    output.open(QIODevice::WriteOnly);
    HostRelay relay(&input, &output, m_socketPath, {});
    QVERIFY(browser.send(tabsMessage(1)));
    relay.start();

    QTRY_COMPARE_WITH_TIMEOUT(program.received(0),
                              (QList<QByteArray>{expectedHello(), tabsMessage(1)}), waitMs);
    QVERIFY(expectedHello().contains(QByteArray::number(::getppid())));
    QVERIFY(relay.isConnected());

    QVERIFY(browser.send(tabsMessage(2)));
    QTRY_COMPARE_WITH_TIMEOUT(program.received(0).size(), 3, waitMs);
    QCOMPARE(program.received(0).last(), tabsMessage(2));

    program.send(0, R"({"close":12})");
    program.send(0, R"({"close": 9007199254740992})");
    QTRY_COMPARE_WITH_TIMEOUT(
        framesIn(output), (QList<QByteArray>{R"({"close":12})", R"({"close":9007199254740992})"}),
        waitMs);
    // Standard output carries whole frames and nothing else.
    QCOMPARE(output.data().size(), 2 * 4 + 12 + 26);
}

void TestHostRelay::holdsTheLatestMessagesWhileTheProgramIsAway()
{
    BrowserPipe browser;
    PipeInput input(browser.readEnd());
    QBuffer output;
    output.open(QIODevice::WriteOnly);
    HostRelay::Settings settings;
    settings.maxQueued = 64;
    HostRelay relay(&input, &output, m_socketPath, settings);
    relay.start();

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"plus anciens sont abandonnés"_qs));
    for (int marker = 0; marker < 70; ++marker)
        QVERIFY(browser.send(tabsMessage(marker)));
    QTRY_COMPARE_WITH_TIMEOUT(relay.queuedCount(), 64, waitMs);

    // The program comes: the host finds it on a retry and delivers what it kept, in order.
    ProgramStandIn program(m_socketPath);
    QList<QByteArray> expected{expectedHello()};
    for (int marker = 6; marker < 70; ++marker)
        expected.append(tabsMessage(marker));
    QTRY_COMPARE_WITH_TIMEOUT(program.received(0), expected, waitMs);
    QCOMPARE(relay.queuedCount(), 0);

    // A new connection starts with a hello too, and, the browser having nothing new to say,
    // with its last list again.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"connexion au programme perdue"_qs));
    program.dropConnections();
    QTRY_COMPARE_WITH_TIMEOUT(program.received(1),
                              (QList<QByteArray>{expectedHello(), tabsMessage(69)}), waitMs);
    QVERIFY(browser.send(tabsMessage(100)));
    QTRY_COMPARE_WITH_TIMEOUT(program.received(1).size(), 3, waitMs);
    QCOMPARE(program.received(1).last(), tabsMessage(100));
}

void TestHostRelay::dropsWhatTheBridgeDoesNotAllow()
{
    ProgramStandIn program(m_socketPath);
    BrowserPipe browser;
    PipeInput input(browser.readEnd());
    QBuffer output;
    output.open(QIODevice::WriteOnly);
    HostRelay relay(&input, &output, m_socketPath, {});
    relay.start();
    QTRY_VERIFY_WITH_TIMEOUT(relay.isConnected(), waitMs);

    // Each dropped message is one line on standard error.
    const QList<QByteArray> fromExtension{
        "{not json", "[1,2]", "\"tabs\"", R"({"close":3})", R"({"tabs":{"id":1}})", {}};
    for (const QByteArray &payload : fromExtension) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"de l'extension"_qs));
        QVERIFY(browser.send(payload));
    }
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"1048577 octets ignoré"_qs));
    QVERIFY(browser.send(QByteArray(FrameReader::maxFrameBytes + 1, ' ')));
    QVERIFY(browser.send(tabsMessage(7)));
    QTRY_COMPARE_WITH_TIMEOUT(program.received(0).size(), 2, waitMs);
    QCOMPARE(program.received(0).last(), tabsMessage(7));

    const QList<QByteArray> fromProgram{"garbage",
                                        "[12]",
                                        R"({"close":"12"})",
                                        R"({"close":1.5})",
                                        R"({"close":1e300})",
                                        R"({"open":12})",
                                        R"({"tabs":[]})"};
    for (const QByteArray &payload : fromProgram) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"du programme"_qs));
        program.send(0, payload);
    }
    program.send(0, R"({"close":-1})");
    program.send(0, R"({"close":44,"extra":true})");
    QTRY_COMPARE_WITH_TIMEOUT(framesIn(output),
                              (QList<QByteArray>{R"({"close":-1})", R"({"close":44})"}), waitMs);
    QVERIFY(relay.isConnected());
}

void TestHostRelay::endsWhenTheBrowserClosesItsPipe()
{
    ProgramStandIn program(m_socketPath);
    BrowserPipe browser;
    PipeInput input(browser.readEnd());
    QBuffer output;
    output.open(QIODevice::WriteOnly);
    HostRelay relay(&input, &output, m_socketPath, {});
    QSignalSpy finished(&relay, &HostRelay::finished);
    relay.start();

    // The last message, sent just before the pipe closes, still reaches the program.
    QVERIFY(browser.send(tabsMessage(5)));
    QVERIFY(browser.write(frameOf(tabsMessage(6)).first(7)));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"au milieu d'un message"_qs));
    browser.closeWriteEnd();
    QVERIFY(finished.wait(waitMs));
    QVERIFY(input.atEnd());
    QTRY_COMPARE_WITH_TIMEOUT(program.received(0),
                              (QList<QByteArray>{expectedHello(), tabsMessage(5)}), waitMs);
    QCOMPARE(finished.size(), 1);
}

// A program of another user could read every tab of this one. The stand-in listens as the
// unprivileged "nobody" in a child process and reports how many bytes each connection brought.
void TestHostRelay::refusesAProgramOfAnotherUser()
{
    if (::getuid() != 0)
        QSKIP("only root can listen as another user; the check is the same code that the "
              "same-user cases go through");
    constexpr uid_t nobody = 65534;
    int report[2] = {-1, -1};
    QVERIFY(::pipe2(report, O_CLOEXEC | O_NONBLOCK) == 0);
    const QByteArray path = QFile::encodeName(m_socketPath);

    struct Child
    {
        pid_t pid = ::fork();
        ~Child()
        {
            if (pid > 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    } child;
    QVERIFY(child.pid >= 0);
    if (child.pid == 0) {
        const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
        if (::bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::setgid(nobody) != 0 || ::setuid(nobody) != 0 || ::listen(server, 4) != 0)
            ::_exit(2);
        for (;;) {
            const int peer = ::accept(server, nullptr, nullptr);
            char bytes[4096];
            qint64 total = 0;
            ssize_t count = 0;
            while ((count = ::read(peer, bytes, sizeof bytes)) > 0)
                total += count;
            if (::write(report[1], &total, sizeof total) != sizeof total)
                ::_exit(3);
            ::close(peer);
        }
    }
    ::close(report[1]);

    BrowserPipe browser;
    PipeInput input(browser.readEnd());
    QBuffer output;
    output.open(QIODevice::WriteOnly);
    HostRelay relay(&input, &output, m_socketPath, {});
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"refusé"_qs));
    QVERIFY(browser.send(tabsMessage(1)));
    relay.start();

    QList<qint64> bytesPerConnection;
    const auto readReports = [&] {
        qint64 bytes = 0;
        while (::read(report[0], &bytes, sizeof bytes) == sizeof bytes)
            bytesPerConnection.append(bytes);
        return bytesPerConnection.size();
    };
    // Two connections: the host went on trying after the first refusal.
    QTRY_VERIFY_WITH_TIMEOUT(readReports() >= 2, waitMs);
    ::close(report[0]);
    QCOMPARE(bytesPerConnection.first(), 0);
    QCOMPARE(bytesPerConnection.last(), 0);
    QVERIFY(!relay.isConnected());
    QCOMPARE(relay.queuedCount(), 1);
}

QTEST_GUILESS_MAIN(TestHostRelay)
#include "tst_hostrelay.moc"
