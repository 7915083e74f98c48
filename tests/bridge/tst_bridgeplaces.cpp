#include "app/SingleInstance.h"
#include "bridge/BridgeSocketPath.h"
#include "sources/bridge/HostManifests.h"
#include "support/TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t modeOf(const QString &path)
{
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

const QString kId = u"abcdefghijklmnopabcdefghijklmnop"_qs;
const QString kFirefox = u"home/.mozilla/native-messaging-hosts/fr.vexlor.popup_bridge.json"_qs;

QString chromiumManifest(const QString &browser)
{
    return u"config/"_qs + browser + u"/NativeMessagingHosts/fr.vexlor.popup_bridge.json"_qs;
}

} // namespace

class TestBridgePlaces : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void aFolderSomeoneElseCouldUseIsRefused_data();
    void aFolderSomeoneElseCouldUseIsRefused();
    void aSecondProgramOfTheFolderDefersWhateverItsEnvironment();
    void browsersFindTheHostBesideTheProgram();

private:
    QString path(const QString &relative) const { return m_root->filePath(relative); }

    std::unique_ptr<QTemporaryDir> m_root;
};

void TestBridgePlaces::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
}

void TestBridgePlaces::cleanup()
{
    qunsetenv("XDG_RUNTIME_DIR");
}

void TestBridgePlaces::aFolderSomeoneElseCouldUseIsRefused_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("otherOwner");
    QTest::addColumn<QString>("reason");
    QTest::newRow("made private") << u"vexlor-popup-77"_qs << 0 << false << QString();
    QTest::newRow("open to the group") << u"own/vexlor-popup"_qs << 0750 << false << u"ouvert"_qs;
    QTest::newRow("fallback open to all") << u"vexlor-popup-1"_qs << 0777 << false << u"ouvert"_qs;
    QTest::newRow("another user's")
        << u"own/vexlor-popup"_qs << 0700 << true << u"autre utilisateur"_qs;
    QTest::newRow("a link in place of the folder")
        << u"own/vexlor-popup"_qs << -1 << false << u"n'est pas un dossier"_qs;
}

void TestBridgePlaces::aFolderSomeoneElseCouldUseIsRefused()
{
    QFETCH(QString, folder);
    QFETCH(int, mode);
    QFETCH(bool, otherOwner);
    QFETCH(QString, reason);
    if (otherOwner && ::getuid() != 0)
        QSKIP("only root can hand a folder to another user");
    const QByteArray native = QFile::encodeName(path(folder));
    if (mode < 0) {
        QVERIFY(QDir().mkpath(path(u"own"_qs)) && QFile::link(m_root->path(), path(folder)));
    } else if (mode > 0) {
        QVERIFY(QDir().mkpath(path(folder)));
        QCOMPARE(::chmod(native.constData(), static_cast<mode_t>(mode)), 0);
        if (otherOwner)
            QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
    }
    const QString socket = path(folder.startsWith(u"own") ? u"own/vexlor-popup/bridge"_qs
                                                          : folder + u"/vexlor-popup/bridge"_qs);
    // Made under a permissive mask, as a desktop session may have.
    const mode_t mask = ::umask(0);
    QString why;
    const bool prepared = prepareBridgeSocketFolder(socket, &why);
    ::umask(mask);
    QVERIFY2(prepared == reason.isEmpty() && why.contains(reason), qPrintable(why));
    // A folder made is the user's alone; none is made in one refused.
    QCOMPARE(modeOf(path(folder + u"/vexlor-popup"_qs)), prepared ? mode_t(0700) : mode_t(0));
    QVERIFY(!prepared || modeOf(path(folder)) == 0700);
}

// Two programs of one folder would overwrite each other's files at quit, wherever each was
// started from and whatever its runtime folder.
void TestBridgePlaces::aSecondProgramOfTheFolderDefersWhateverItsEnvironment()
{
    // A runtime folder that cannot be made: its parent is a regular file.
    writeBytes(path(u"blocker"_qs), {});
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path(u"blocker/run"_qs)));
    const QString home = QDir::currentPath();
    QVERIFY(QDir().mkpath(path(u"app"_qs)) && QDir().mkpath(path(u"other"_qs)));
    QVERIFY(QDir::setCurrent(m_root->path()));
    SingleInstance first(path(u"app"_qs));
    QVERIFY(first.claim());
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    QVERIFY(QDir::setCurrent(path(u"other"_qs)));
    SingleInstance second(path(u"app"_qs));
    const bool secondRuns = second.claim();
    QVERIFY(QDir::setCurrent(home));
    QVERIFY(!secondRuns);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 5000);
    // Started from another session, with a runtime folder of its own, it defers all the same.
    QVERIFY(QDir().mkdir(path(u"run"_qs)));
    QVERIFY(!SingleInstance(path(u"app"_qs), path(u"run"_qs)).claim());
    // Another program folder is another program.
    SingleInstance elsewhere(path(u"other"_qs));
    QVERIFY(elsewhere.claim());
}

void TestBridgePlaces::browsersFindTheHostBesideTheProgram()
{
    const HostManifestFolders folders{path(u"home"_qs), path(u"config"_qs), path(u"system"_qs)};
    QVERIFY(QDir().mkpath(path(u"home"_qs)) && QDir().mkpath(path(u"app/bridge"_qs)));
    // Without an id Chromium could have made (its letters run from a to p), Firefox alone is
    // given a manifest.
    const QString idFile = path(u"app/bridge/chromium-extension-id"_qs);
    writeBytes(idFile, "qbcdefghijklmnopabcdefghijklmnop");
    QCOMPARE(writeHostManifests(folders, path(u"app"_qs)), QStringList{path(kFirefox)});
    QVERIFY(QFile::remove(path(kFirefox)) && !QFile::exists(path(u"config"_qs)));
    writeBytes(idFile, kId.toLatin1() + '\n');
    // Brave has been used on this account, Chrome never.
    QVERIFY(QDir().mkpath(path(u"config/BraveSoftware/Brave-Browser"_qs)));
    const QStringList expected{path(chromiumManifest(u"chromium"_qs)),
                               path(chromiumManifest(u"BraveSoftware/Brave-Browser"_qs)),
                               path(kFirefox)};
    QCOMPARE(writeHostManifests(folders, path(u"app"_qs)).size(), 3);
    for (const QString &manifest : expected) {
        const QJsonObject json = QJsonDocument::fromJson(readBytes(manifest)).object();
        const bool firefox = manifest.endsWith(kFirefox);
        QCOMPARE(json.value(u"name").toString() + u' ' + json.value(u"type").toString() + u' ' +
                     json.value(u"path").toString(),
                 u"fr.vexlor.popup_bridge stdio "_qs + path(u"app/vexlor-popup-bridge"_qs));
        QCOMPARE(json.value(firefox ? u"allowed_extensions" : u"allowed_origins").toArray(),
                 QJsonArray{firefox ? u"popup-bridge@vexlor.fr"_qs
                                    : u"chrome-extension://"_qs + kId + u'/'});
        QVERIFY(!json.contains(firefox ? u"allowed_origins" : u"allowed_extensions"));
    }
    // Unchanged manifests are left alone; an edited one is put right.
    QCOMPARE(writeHostManifests(folders, path(u"moved/../app/."_qs)), QStringList());
    writeBytes(path(kFirefox), "{}");
    QCOMPARE(writeHostManifests(folders, path(u"app"_qs)), QStringList{path(kFirefox)});
    // Where the package's manifest for every user stands, one of the user's would shadow it.
    writeAll(path(u"system/usr/lib/mozilla/native-messaging-hosts/fr.vexlor.popup_bridge.json"_qs),
             "{}");
    QVERIFY(QFile::remove(path(kFirefox)));
    QCOMPARE(writeHostManifests(folders, path(u"app"_qs)), QStringList());
    QVERIFY(!QFile::exists(path(kFirefox)));
}

QTEST_GUILESS_MAIN(TestBridgePlaces)
#include "tst_bridgeplaces.moc"
