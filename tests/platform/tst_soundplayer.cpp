#include "desktop/PulseSoundPlayer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>
#include <numbers>
#include <thread>
#include <vector>

namespace {

// A sine tone, so that a recording of it tells sound from silence.
bool writeTone(const QString &path, double seconds, int rate, int channels, int format)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    const auto frames = static_cast<sf_count_t>(seconds * rate);
    std::vector<float> samples(static_cast<size_t>(frames * channels));
    for (sf_count_t i = 0; i < frames; ++i) {
        const double phase = 2 * std::numbers::pi * 660 * static_cast<double>(i) / rate;
        std::fill_n(samples.begin() + i * channels, channels, 0.5F * std::sin(phase));
    }
    const sf_count_t written = sf_writef_float(file, samples.data(), frames);
    return sf_close(file) == 0 && written == frames;
}

// Every thread of this process, the sound workers and libpulse's own among them.
int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

// A sound server that takes connections and never answers them, as a hung daemon would.
class StalledServer
{
public:
    explicit StalledServer(const QString &path) : m_path(QFile::encodeName(path))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, m_path.constData(), sizeof(address.sun_path) - 1);
        m_listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
            listen(m_listener, 8) != 0)
            close();
    }
    ~StalledServer() { close(); }
    StalledServer(const StalledServer &) = delete;
    StalledServer &operator=(const StalledServer &) = delete;

    bool isListening() const { return m_listener >= 0; }
    // Takes a client that has connected by now, if there is one.
    bool acceptPending()
    {
        const int client = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return false;
        m_clients.push_back(client);
        return true;
    }
    // Hangs up on everyone, which is what finally frees a stuck client.
    void close()
    {
        for (const int fd : m_clients)
            ::close(fd);
        m_clients.clear();
        if (m_listener >= 0)
            ::close(m_listener);
        m_listener = -1;
        unlink(m_path.constData());
    }

private:
    QByteArray m_path;
    int m_listener = -1;
    std::vector<int> m_clients;
};

// A private PulseAudio daemon playing into a null sink, whose log names every stream it gets.
class PulseDaemon
{
public:
    explicit PulseDaemon(const QString &dir) : m_socket(dir + QStringLiteral("/native"))
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir);
        m_process.setProcessEnvironment(env);
        // A test that crashes must not leave a daemon behind.
        m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.start(
            QStandardPaths::findExecutable(QStringLiteral("pulseaudio")),
            {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
             QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
             QStringLiteral("--log-target=stderr"), QStringLiteral("--log-level=info"),
             QStringLiteral("--load=module-null-sink sink_name=") + sinkName,
             QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=") +
                 m_socket});
    }
    ~PulseDaemon()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }

    // The socket appears only after the sink is loaded, so it also means the sink is there.
    // The daemon, and the tools that ask it about its streams and record its sink.
    static bool toolsInstalled()
    {
        for (const char *tool : {"pulseaudio", "pactl", "parec"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                return false;
        return true;
    }
    bool isReady() const { return QFile::exists(m_socket); }
    qint64 processId() const { return m_process.processId(); }
    QByteArray address() const { return "unix:" + QFile::encodeName(m_socket); }
    const QByteArray &log()
    {
        m_log += m_process.readAllStandardError();
        return m_log;
    }
    // How far ahead of the clock the sink has rendered, or -1. An idle null sink renders seconds
    // ahead and a new stream would queue behind that, so a test waits for a low-latency client
    // to bring it down first.
    static qint64 sinkLatencyUsec()
    {
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sinks")});
        if (!pactl.waitForFinished(5000))
            return -1;
        const auto match = QRegularExpression(QStringLiteral("Latency: (\\d+) usec"))
                               .match(QString::fromUtf8(pactl.readAllStandardOutput()));
        return match.hasMatch() ? match.captured(1).toLongLong() : -1;
    }
    int countInLog(const QString &pattern)
    {
        return int(QString::fromUtf8(log()).count(QRegularExpression(pattern)));
    }

    static inline const QString sinkName = QStringLiteral("vexlor_test");

private:
    QString m_socket;
    QProcess m_process;
    QByteArray m_log;
};

// The loudest sample of raw signed 16-bit audio.
int peakOf(const QByteArray &pcm)
{
    int peak = 0;
    for (qsizetype i = 0; i + 1 < pcm.size(); i += 2) {
        qint16 sample = 0;
        std::memcpy(&sample, pcm.constData() + i, sizeof(sample));
        peak = std::max(peak, std::abs(int(sample)));
    }
    return peak;
}

} // namespace

class TestSoundPlayer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(writeTone(path("tone.wav"), 0.3, 22050, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
        QVERIFY(writeTone(path("empty.wav"), 0, 22050, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
        QVERIFY(writeTone(path("long.wav"), 31, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_U8));
        QVERIFY(writeTone(path("three.wav"), 3, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
        QVERIFY(writeTone(path("float.wav"), 0.4, 44100, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
        QVERIFY(writeTone(path("tone.flac"), 0.4, 48000, 1, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
        QFile garbage(path("garbage.wav"));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        for (int i = 0; i < 4096; ++i)
            garbage.putChar(char(i * 131 % 251));
        garbage.close();
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("folder.wav")));
        QCOMPARE(mkfifo(QFile::encodeName(path("pipe.wav")).constData(), 0600), 0);
    }

    void shippedSoundIsShortValidWave()
    {
        const QString shipped = QStringLiteral(VEXLOR_SOURCE_DIR "/data/sound.wav");
        QVERIFY(QFileInfo(shipped).size() < 50 * 1024);
        SF_INFO info{};
        SNDFILE *file = sf_open(QFile::encodeName(shipped).constData(), SFM_READ, &info);
        QVERIFY2(file, sf_strerror(nullptr));
        std::vector<short> samples(static_cast<size_t>(info.frames * info.channels));
        const sf_count_t read = sf_readf_short(file, samples.data(), info.frames);
        sf_close(file);
        QCOMPARE(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        QCOMPARE(info.channels, 1);
        QCOMPARE(info.samplerate, 22050);
        QCOMPARE(read, info.frames);
        const double seconds = double(info.frames) / info.samplerate;
        QVERIFY2(seconds > 0.2 && seconds < 1.0, QByteArray::number(seconds));
        QVERIFY(*std::max_element(samples.begin(), samples.end()) > 4000);
    }

    // None of these may cost a thread or a word to the server, so a stalled server must see
    // no client and the call must come back at once.
    void unplayableFilesNeverReachTheServer_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("empty path") << QString();
        QTest::newRow("missing file") << path("missing.wav");
        QTest::newRow("not audio") << path("garbage.wav");
        QTest::newRow("directory") << path("folder.wav");
        QTest::newRow("named pipe") << path("pipe.wav");
        QTest::newRow("no frames") << path("empty.wav");
        QTest::newRow("over thirty seconds") << path("long.wav");
    }
    void unplayableFilesNeverReachTheServer()
    {
        QFETCH(QString, file);
        StalledServer server(path("stalled"));
        QVERIFY(server.isListening());
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(path("stalled")));
        const int threadsBefore = threadCount();

        PulseSoundPlayer().playSync(file);

        QVERIFY(!server.acceptPending());
        QCOMPARE(threadCount(), threadsBefore);
    }

    void missingServerIsSilent()
    {
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(path("nobody-listens")));
        const int threadsBefore = threadCount();
        PulseSoundPlayer player;

        player.playSync(path("tone.wav"));

        QTRY_COMPARE(threadCount(), threadsBefore);
    }

    void stalledServerNeverHoldsTheCaller()
    {
        const QString socketPath = path("stalled");
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(socketPath));
        const int threadsBefore = threadCount();
        auto player = std::make_unique<PulseSoundPlayer>();
        {
            StalledServer server(socketPath);
            QVERIFY(server.isListening());

            // Returning while the worker still waits on the server is the bounded wait at work.
            player->playSync(path("tone.wav"));
            QVERIFY(server.acceptPending());
            const int threadsStuck = threadCount();
            QVERIFY(threadsStuck > threadsBefore);

            // A second sound is skipped rather than stacking another stuck thread.
            player->playSync(path("tone.wav"));
            QVERIFY(!server.acceptPending());
            QCOMPARE(threadCount(), threadsStuck);
        }
        QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threadsBefore, 10000);

        // Once the server lets go, sounds are tried again; and a worker outlives its player.
        StalledServer server(socketPath);
        player->playSync(path("tone.wav"));
        QVERIFY(server.acceptPending());
        player.reset();
        server.close();
        QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threadsBefore, 10000);
    }

    // The sound server killed while a sound plays: the caller goes on, no worker is left
    // behind, and the next sound, with no server, is silent.
    void serverKilledInTheMiddleOfASound()
    {
        if (!PulseDaemon::toolsInstalled())
            QSKIP("needs the packages pulseaudio and pulseaudio-utils");
        QTemporaryDir serverDir;
        QVERIFY(serverDir.isValid());
        PulseDaemon daemon(serverDir.path());
        QTRY_VERIFY2_WITH_TIMEOUT(daemon.isReady(), daemon.log().constData(), 10000);
        qputenv("PULSE_SERVER", daemon.address());
        const int threadsBefore = threadCount();

        // Kills the server once it has the stream, while playSync holds this thread.
        std::atomic<bool> killed = false;
        std::thread killer([pid = daemon.processId(), &killed] {
            QDeadlineTimer deadline(20000);
            while (!deadline.hasExpired()) {
                QProcess pactl;
                pactl.start(QStringLiteral("pactl"),
                            {QStringLiteral("list"), QStringLiteral("sink-inputs"),
                             QStringLiteral("short")});
                if (pactl.waitForFinished(5000) && !pactl.readAllStandardOutput().isEmpty()) {
                    killed = ::kill(pid_t(pid), SIGKILL) == 0;
                    return;
                }
            }
        });
        PulseSoundPlayer player;
        player.playSync(path("three.wav"));
        killer.join();
        QVERIFY(killed);
        QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threadsBefore, 10000);

        player.playSync(path("tone.wav"));
        QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threadsBefore, 10000);
    }

    void playsThroughTheServer_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("streamFormat");
        QTest::newRow("shipped sound") << QStringLiteral(VEXLOR_SOURCE_DIR "/data/sound.wav")
                                       << QStringLiteral("s16le 1ch 22050Hz");
        QTest::newRow("float stereo") << path("float.wav") << QStringLiteral("s16le 2ch 44100Hz");
        QTest::newRow("flac") << path("tone.flac") << QStringLiteral("s16le 1ch 48000Hz");
    }
    void playsThroughTheServer()
    {
        QFETCH(QString, file);
        QFETCH(QString, streamFormat);
        const QString parec = QStandardPaths::findExecutable(QStringLiteral("parec"));
        if (!PulseDaemon::toolsInstalled())
            QSKIP("needs the packages pulseaudio and pulseaudio-utils");
        QTemporaryDir serverDir;
        QVERIFY(serverDir.isValid());
        PulseDaemon daemon(serverDir.path());
        QTRY_VERIFY2_WITH_TIMEOUT(daemon.isReady(), daemon.log().constData(), 10000);
        qputenv("PULSE_SERVER", daemon.address());

        QProcess recorder;
        recorder.start(parec, {QStringLiteral("--device=") + PulseDaemon::sinkName + ".monitor",
                               QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                               QStringLiteral("--rate=22050"), QStringLiteral("--channels=1"),
                               QStringLiteral("--latency-msec=20")});
        const auto stopRecorder = qScopeGuard([&] {
            recorder.kill();
            recorder.waitForFinished();
        });
        const auto sinkIsPrompt = [] {
            const qint64 latency = PulseDaemon::sinkLatencyUsec();
            return latency >= 0 && latency < 100'000;
        };
        QTRY_VERIFY_WITH_TIMEOUT(sinkIsPrompt(), 10000);

        // Two in a row: the second is skipped unless the first had finished when playSync
        // returned, so two streams mean each call waited for its sound to end.
        PulseSoundPlayer player;
        player.playSync(file);
        player.playSync(file);

        QTRY_COMPARE(daemon.countInLog(QStringLiteral("Created input \\d+ \"[^\"]*\" on ") +
                                       PulseDaemon::sinkName + " with sample spec " + streamFormat),
                     2);
        QCOMPARE(daemon.countInLog(QStringLiteral("application.name = \"Vexlor Popup\"")), 2);
        QByteArray recorded;
        const auto heard = [&] {
            recorded += recorder.readAllStandardOutput();
            return peakOf(recorded) > 4000;
        };
        QTRY_VERIFY(heard());
    }

private:
    QString path(const char *name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestSoundPlayer)
#include "tst_soundplayer.moc"
