#include "desktop/PulseSoundPlayer.h"

#include <QDir>
#include <QLocalServer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

namespace {

const QString shipped = QStringLiteral(VEXLOR_SOURCE_DIR "/data/sound.wav");

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

// A private PulseAudio daemon playing into a null sink, whose log names every stream it gets;
// its socket appears once the sink is loaded.
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

    QTemporaryDir dir;
    QString socket = dir.filePath(u"native"_qs);
    QProcess process;
};

} // namespace

class TestSoundPlayer : public QObject
{
    Q_OBJECT

private slots:
    // Returning while the worker still waits on the server is the bounded wait at work.
    void stalledServerNeverHoldsTheCaller()
    {
        QCOMPARE(mkfifo(QFile::encodeName(path("pipe.wav")).constData(), 0600), 0);
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(path("stalled")));
        const int threads = threadCount();
        PulseSoundPlayer player;
        {
            QLocalServer server;
            QVERIFY(server.listen(path("stalled")));
            // A named pipe nobody writes to neither blocks the call nor reaches the server.
            player.playSync(path("pipe.wav"));
            QVERIFY(!connected(server));
            // Nor do files with no sound in them: empty, of text, cut in the header or after it;
            // nor one that would last hours, at one sample a second.
            QFile wav(shipped);
            QVERIFY(wav.open(QIODevice::ReadOnly));
            const QByteArray sound = wav.readAll();
            const QByteArray slow =
                QByteArray(sound).replace(24, 8, QByteArray("\1\0\0\0\2\0\0\0", 8));
            for (const QByteArray &bytes :
                 {QByteArray(), QByteArray("<html>\n"), sound.left(20), sound.left(44), slow}) {
                QFile bad(path("bad.wav"));
                QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write(bytes) == bytes.size());
                bad.close();
                player.playSync(bad.fileName());
                QVERIFY(!connected(server));
            }
            player.playSync(shipped);
            QVERIFY(connected(server));
            QVERIFY(threadCount() > threads);
            // A second sound is skipped rather than stacking another stuck thread.
            player.playSync(shipped);
            QVERIFY(!connected(server));
        }
        QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threads, 10000);
    }

    void playsTheShippedSoundThenOutlivesTheServer()
    {
        PulseDaemon daemon;
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(daemon.socket), 10000);
        const int threads = threadCount();
        PulseSoundPlayer player;
        player.playSync(shipped);
        const QRegularExpression stream(
            u"Created input \\d+ \"[^\"]*\" on vexlor_test with sample spec s16le 1ch 22050Hz"_qs);
        QByteArray log;
        QTRY_VERIFY((log += daemon.process.readAllStandardError(), stream.match(log).hasMatch()));

        // Once the last worker is done, the next sound plays; the server is killed under it.
        QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threads, 10000);
        SF_INFO info{0, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
        SNDFILE *file = sf_open(QFile::encodeName(path("three.wav")).constData(), SFM_WRITE, &info);
        const std::vector<short> threeSeconds(24000);
        QVERIFY(sf_writef_short(file, threeSeconds.data(), 24000) == 24000 && sf_close(file) == 0);
        std::atomic_bool killed = false;
        std::thread killer([&] {
            for (int look = 0; look < 100 && !killed; ++look) {
                QProcess pactl;
                pactl.start(u"pactl"_qs, {u"list"_qs, u"sink-inputs"_qs, u"short"_qs});
                if (pactl.waitForFinished(5000) && !pactl.readAll().isEmpty())
                    killed = ::kill(pid_t(daemon.process.processId()), SIGKILL) == 0;
            }
        });
        player.playSync(path("three.wav"));
        killer.join();
        QVERIFY(killed);
        QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threads, 10000);
    }

private:
    QString path(const char *name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestSoundPlayer)
#include "tst_soundplayer.moc"
