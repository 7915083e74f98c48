#include "desktop/PulseSoundPlayer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// A 660 Hz tone, so that a recording of it tells sound from silence.
bool writeTone(const QString &path, double seconds, int rate)
{
    SF_INFO info{0, rate, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    const auto frames = static_cast<sf_count_t>(seconds * rate);
    std::vector<float> samples(static_cast<size_t>(frames));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.5F * float(std::sin(2 * M_PI * 660 * double(i) / rate));
    return file && sf_writef_float(file, samples.data(), frames) == frames && sf_close(file) == 0;
}

// Every thread of this process, the sound workers and libpulse's own among them.
int threadCount()
{
    return int(QDir(u"/proc/self/task"_qs).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// Whether a client has connected to the server since the last look.
bool connected(QLocalServer &server)
{
    return server.waitForNewConnection(0) && server.nextPendingConnection();
}

// A private PulseAudio daemon playing into a null sink, whose log names every stream it gets.
struct PulseDaemon
{
    PulseDaemon()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_qs, dir.path());
        env.insert(u"XDG_RUNTIME_DIR"_qs, dir.path());
        process.setProcessEnvironment(env);
        // A test that crashes must not leave a daemon behind.
        process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process.start(u"pulseaudio"_qs,
                      {u"-n"_qs, u"--daemonize=no"_qs, u"--exit-idle-time=-1"_qs,
                       u"--use-pid-file=no"_qs, u"--log-target=stderr"_qs, u"--log-level=info"_qs,
                       u"--load=module-null-sink sink_name=vexlor_test"_qs,
                       u"--load=module-native-protocol-unix auth-anonymous=1 socket="_qs + socket});
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(socket));
    }
    ~PulseDaemon()
    {
        process.terminate();
        process.waitForFinished(5000);
    }

    // The socket appears once the sink is loaded.
    bool waitUntilReady()
    {
        return QTest::qWaitFor([&] { return QFile::exists(socket); }, 10000);
    }
    int countInLog(const QString &pattern)
    {
        log += process.readAllStandardError();
        return int(QString::fromUtf8(log).count(QRegularExpression(pattern)));
    }

    QTemporaryDir dir;
    QString socket = dir.filePath(u"native"_qs);
    QProcess process;
    QByteArray log;
};

// How far ahead of the clock the sink has rendered. An idle null sink renders seconds ahead and
// a new stream would queue behind that, so a test waits for a low-latency client to bring it down.
bool sinkIsPrompt()
{
    QProcess pactl;
    pactl.start(u"pactl"_qs, {u"list"_qs, u"sinks"_qs});
    const auto latency =
        QRegularExpression(u"Latency: (\\d+) usec"_qs)
            .match(QString::fromUtf8(pactl.waitForFinished(5000) ? pactl.readAll() : ""));
    return latency.hasMatch() && latency.captured(1).toLongLong() < 100'000;
}

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
        QVERIFY(writeTone(path("tone.wav"), 0.3, 22050));
        QVERIFY(writeTone(path("three.wav"), 3, 8000));
        QCOMPARE(mkfifo(QFile::encodeName(path("pipe.wav")).constData(), 0600), 0);
    }

    void stalledServerNeverHoldsTheCaller()
    {
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(path("stalled")));
        const int threads = threadCount();
        auto player = std::make_unique<PulseSoundPlayer>();
        {
            QLocalServer server;
            QVERIFY(server.listen(path("stalled")));
            // A named pipe nobody writes to neither blocks the call nor reaches the server.
            player->playSync(path("pipe.wav"));
            QVERIFY(!connected(server));
            QCOMPARE(threadCount(), threads);
            // Returning while the worker still waits on the server is the bounded wait at work.
            player->playSync(path("tone.wav"));
            QVERIFY(connected(server));
            const int stuck = threadCount();
            QVERIFY(stuck > threads);
            // A second sound is skipped rather than stacking another stuck thread.
            player->playSync(path("tone.wav"));
            QVERIFY(!connected(server));
            QCOMPARE(threadCount(), stuck);
        }
        QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threads, 10000);
    }

    void playsTheShippedSoundThenOutlivesTheServer()
    {
        for (const char *tool : {"pulseaudio", "pactl", "parec"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP("needs the packages pulseaudio and pulseaudio-utils");
        PulseDaemon daemon;
        QVERIFY2(daemon.waitUntilReady(), daemon.log.constData());
        const int threads = threadCount();
        QProcess recorder;
        recorder.start(u"parec"_qs,
                       {u"--device=vexlor_test.monitor"_qs, u"--raw"_qs, u"--format=s16le"_qs,
                        u"--rate=22050"_qs, u"--channels=1"_qs, u"--latency-msec=20"_qs});
        const auto stopRecorder = qScopeGuard([&] { recorder.kill(), recorder.waitForFinished(); });
        QTRY_VERIFY_WITH_TIMEOUT(sinkIsPrompt(), 10000);

        // Two in a row: the second is skipped unless the first had finished when playSync
        // returned, so two streams mean each call waited for its sound to end.
        PulseSoundPlayer player;
        const QString shipped = QStringLiteral(VEXLOR_SOURCE_DIR "/data/sound.wav");
        player.playSync(shipped);
        player.playSync(shipped);
        QTRY_COMPARE(
            daemon.countInLog(u"Created input \\d+ \"[^\"]*\" on vexlor_test with sample spec "
                              "s16le 1ch 22050Hz"_qs),
            2);
        QCOMPARE(daemon.countInLog(u"application.name = \"Vexlor Popup\""_qs), 2);
        QByteArray recorded;
        QTRY_VERIFY((recorded += recorder.readAllStandardOutput(), peakOf(recorded) > 4000));

        // Killed once it has the next stream, while playSync holds this thread: the caller goes
        // on, no worker is left behind, and the next sound, with no server, is silent.
        bool killed = false;
        std::thread killer([&] {
            for (QDeadlineTimer deadline(20000); !deadline.hasExpired();) {
                QProcess pactl;
                pactl.start(u"pactl"_qs, {u"list"_qs, u"sink-inputs"_qs, u"short"_qs});
                if (pactl.waitForFinished(5000) && !pactl.readAll().isEmpty()) {
                    killed = ::kill(pid_t(daemon.process.processId()), SIGKILL) == 0;
                    return;
                }
            }
        });
        player.playSync(path("three.wav"));
        killer.join();
        QVERIFY(killed);
        QTRY_COMPARE(daemon.countInLog(u"Created input"_qs), 3);
        QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threads, 10000);
        player.playSync(path("tone.wav"));
        QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threads, 10000);
    }

private:
    QString path(const char *name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestSoundPlayer)
#include "tst_soundplayer.moc"
