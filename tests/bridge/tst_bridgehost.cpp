#include "sources/bridge/BridgeSource.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int waitMs = 10000;

QByteArray tabsMessage(const QJsonArray &tabs)
{
    return QJsonDocument(QJsonObject{{u"tabs"_qs, tabs}}).toJson(QJsonDocument::Compact);
}

QJsonObject tab(qint64 id, const QString &title)
{
    return {{u"id"_qs, id},
            {u"windowId"_qs, 1},
            {u"title"_qs, title},
            {u"url"_qs, u"https://example.org/"_qs + title}};
}

std::optional<WindowHandle> handleNamed(BridgeSource &source, const QString &title)
{
    for (const BrowserPage &page : source.walk()) {
        if (page.pageName == title)
            return page.handle;
    }
    return std::nullopt;
}

// The real host, started as a browser starts it: its standard input and output are pipes, and
// the arguments are the browser's.
class Host
{
public:
    Host(const QString &runtimeFolder, const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_RUNTIME_DIR"_qs, runtimeFolder);
        m_process.setProcessEnvironment(environment);
        m_process.setProgram(QStringLiteral(VEXLOR_APP_FOLDER "/vexlor-popup-bridge"));
        m_process.setArguments(arguments);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
    }
    ~Host()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(waitMs);
        }
    }

    QProcess &process() { return m_process; }
    void send(const QByteArray &payload) { m_process.write(frameOf(payload)); }
    // Every frame the host wrote so far; its output has nothing else.
    QList<QByteArray> frames()
    {
        m_output += m_process.readAllStandardOutput();
        FrameReader reader;
        reader.append(m_output);
        QList<QByteArray> frames;
        while (const auto frame = reader.next())
            frames.append(frame->payload);
        return frames;
    }
    bool outputIsWholeFrames()
    {
        m_output += m_process.readAllStandardOutput();
        FrameReader reader;
        reader.append(m_output);
        return !reader.isMidFrame();
    }

    // What the host said on its standard error so far.
    QString errors()
    {
        m_errors += m_process.readAllStandardError();
        return QString::fromUtf8(m_errors);
    }

private:
    QProcess m_process;
    QByteArray m_output;
    QByteArray m_errors;
};

} // namespace

class TestBridgeHost : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void relaysBetweenTheBrowserAndTheProgram();
    void outlivesTheProgramAndEndsWithTheBrowser();

private:
    QTemporaryDir m_runtime;
    QString m_socketPath;
};

void TestBridgeHost::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(VEXLOR_APP_FOLDER "/vexlor-popup-bridge")));
    QVERIFY(m_runtime.isValid());
    m_socketPath = m_runtime.filePath(u"vexlor-popup/bridge"_qs);
}

void TestBridgeHost::relaysBetweenTheBrowserAndTheProgram()
{
    BridgeSource source(m_socketPath);
    QVERIFY(source.isListening());
    Host host(m_runtime.path(), {u"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"_qs});
    QVERIFY(host.process().waitForStarted(waitMs));

    host.send(tabsMessage({tab(12, u"Popup"_qs), tab(13, u"Kept"_qs)}));
    QTRY_COMPARE_WITH_TIMEOUT(source.walk().size(), 2, waitMs);
    // The hello named the host's parent, this test, as the browser.
    QVERIFY(source.covers(QCoreApplication::applicationPid()));

    source.requestClose(*handleNamed(source, u"Popup"_qs));
    QTRY_COMPARE_WITH_TIMEOUT(host.frames(), QList<QByteArray>{R"({"close":12})"}, waitMs);

    host.process().closeWriteChannel();
    QVERIFY(host.process().waitForFinished(waitMs));
    QCOMPARE(host.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(host.process().exitCode(), 0);
    QVERIFY(host.outputIsWholeFrames());
    QCOMPARE(host.frames().size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(source.connectionCount(), 0, waitMs);
    QVERIFY(source.walk().isEmpty());
    QVERIFY(!source.covers(QCoreApplication::applicationPid()));
}

void TestBridgeHost::outlivesTheProgramAndEndsWithTheBrowser()
{
    Host host(m_runtime.path(), {u"/usr/lib/mozilla/native-messaging-hosts/"
                                 u"fr.vexlor.popup_bridge.json"_qs,
                                 u"popup-bridge@vexlor.fr"_qs});
    QVERIFY(host.process().waitForStarted(waitMs));
    host.send(tabsMessage({tab(1, u"Before the program"_qs)}));
    host.send(R"({"bogus":true})");

    {
        // The program starts after the browser: the host finds it on a retry.
        BridgeSource source(m_socketPath);
        QTRY_VERIFY_WITH_TIMEOUT(handleNamed(source, u"Before the program"_qs), waitMs);
        QCOMPARE(source.walk().size(), 1);
    }
    // The program went; the host waits for the next one.
    host.send(tabsMessage({tab(2, u"While away"_qs)}));
    BridgeSource source(m_socketPath);
    QTRY_VERIFY_WITH_TIMEOUT(handleNamed(source, u"While away"_qs), waitMs);
    QCOMPARE(host.process().state(), QProcess::Running);
    QTRY_VERIFY_WITH_TIMEOUT(host.errors().contains(u"commande inconnue de l'extension ignorée"),
                             waitMs);

    host.process().closeWriteChannel();
    QVERIFY(host.process().waitForFinished(waitMs));
    QCOMPARE(host.process().exitCode(), 0);
    QVERIFY(host.frames().isEmpty());
    QVERIFY(host.outputIsWholeFrames());
}

QTEST_GUILESS_MAIN(TestBridgeHost)
#include "tst_bridgehost.moc"
