#include "sources/bridge/HostManifests.h"
#include "support/TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString id = u"abcdefghijklmnopabcdefghijklmnop"_qs;
const QString firefoxManifest =
    u"home/.mozilla/native-messaging-hosts/fr.vexlor.popup_bridge.json"_qs;

QString chromiumManifest(const QString &browser)
{
    return u"config/"_qs + browser + u"/NativeMessagingHosts/fr.vexlor.popup_bridge.json"_qs;
}

QJsonObject jsonOf(const QString &path)
{
    return QJsonDocument::fromJson(readBytes(path)).object();
}

ino_t inodeOf(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

} // namespace

class TestHostManifests : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void everyBrowserFindsTheHostBesideTheProgram();
    void anUnchangedManifestIsLeftAlone();
    void noChromiumManifestWithoutAValidId_data();
    void noChromiumManifestWithoutAValidId();

private:
    QString path(const QString &relative) const { return m_root->filePath(relative); }
    HostManifestFolders folders() const
    {
        return {path(u"home"_qs), path(u"config"_qs), path(u"system"_qs)};
    }

    std::unique_ptr<QTemporaryDir> m_root;
    QString m_appFolder;
};

void TestHostManifests::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    m_appFolder = path(u"app"_qs);
    writeAll(path(u"app/bridge/chromium-extension-id"_qs), id.toLatin1() + '\n');
    QVERIFY(QDir().mkpath(path(u"home"_qs)));
}

void TestHostManifests::everyBrowserFindsTheHostBesideTheProgram()
{
    // Brave and Vivaldi have been used on this account, Chrome and Edge never.
    QVERIFY(QDir().mkpath(path(u"config/BraveSoftware/Brave-Browser"_qs)));
    QVERIFY(QDir().mkpath(path(u"config/vivaldi"_qs)));

    const QStringList written = writeHostManifests(folders(), m_appFolder);
    QCOMPARE(written.size(), 4);
    QVERIFY(!QFile::exists(path(chromiumManifest(u"google-chrome"_qs))));
    QVERIFY(!QFile::exists(path(chromiumManifest(u"microsoft-edge"_qs))));
    QVERIFY(!QFile::exists(path(u"config/google-chrome"_qs)));

    const QString host = QDir(m_appFolder).absoluteFilePath(u"vexlor-popup-bridge"_qs);
    for (const QString &browser :
         {u"chromium"_qs, u"BraveSoftware/Brave-Browser"_qs, u"vivaldi"_qs}) {
        QVERIFY(written.contains(path(chromiumManifest(browser))));
        const QJsonObject manifest = jsonOf(path(chromiumManifest(browser)));
        QCOMPARE(manifest.value(u"name").toString(), u"fr.vexlor.popup_bridge"_qs);
        QCOMPARE(manifest.value(u"path").toString(), host);
        QCOMPARE(manifest.value(u"type").toString(), u"stdio"_qs);
        QVERIFY(manifest.value(u"description").toString().contains(u"onglets"));
        QCOMPARE(manifest.value(u"allowed_origins").toArray(),
                 QJsonArray{u"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"_qs});
        QVERIFY(!manifest.contains(u"allowed_extensions"));
    }

    const QJsonObject firefox = jsonOf(path(firefoxManifest));
    QCOMPARE(firefox.value(u"name").toString(), u"fr.vexlor.popup_bridge"_qs);
    QCOMPARE(firefox.value(u"path").toString(), host);
    QCOMPARE(firefox.value(u"type").toString(), u"stdio"_qs);
    QCOMPARE(firefox.value(u"allowed_extensions").toArray(),
             QJsonArray{u"popup-bridge@vexlor.fr"_qs});
    QVERIFY(!firefox.contains(u"allowed_origins"));
}

void TestHostManifests::anUnchangedManifestIsLeftAlone()
{
    QCOMPARE(writeHostManifests(folders(), m_appFolder).size(), 2);
    const ino_t firefox = inodeOf(path(firefoxManifest));
    const ino_t chromium = inodeOf(path(chromiumManifest(u"chromium"_qs)));
    QVERIFY(firefox != 0 && chromium != 0);

    QCOMPARE(writeHostManifests(folders(), m_appFolder), QStringList());
    QCOMPARE(inodeOf(path(firefoxManifest)), firefox);
    QCOMPARE(inodeOf(path(chromiumManifest(u"chromium"_qs))), chromium);

    // One edited since, or left longer, is put right; the other stays as it is.
    const QByteArray written = readBytes(path(firefoxManifest));
    writeBytes(path(firefoxManifest), written + "\n\n");
    QCOMPARE(writeHostManifests(folders(), m_appFolder), QStringList{path(firefoxManifest)});
    QCOMPARE(readBytes(path(firefoxManifest)), written);
    QCOMPARE(inodeOf(path(chromiumManifest(u"chromium"_qs))), chromium);

    // A program moved to another folder points the browsers at its new host.
    QCOMPARE(writeHostManifests(folders(), path(u"moved/../app/."_qs)), QStringList());
    writeAll(path(u"elsewhere/bridge/chromium-extension-id"_qs), id.toLatin1());
    QCOMPARE(writeHostManifests(folders(), path(u"elsewhere"_qs)).size(), 2);
    QCOMPARE(jsonOf(path(firefoxManifest)).value(u"path").toString(),
             path(u"elsewhere/vexlor-popup-bridge"_qs));
}

void TestHostManifests::noChromiumManifestWithoutAValidId_data()
{
    QTest::addColumn<std::optional<QByteArray>>("idFile");
    QTest::newRow("missing") << std::optional<QByteArray>();
    QTest::newRow("empty") << std::optional<QByteArray>("");
    QTest::newRow("too short") << std::optional<QByteArray>("abcdefghijklmnop");
    QTest::newRow("too long") << std::optional<QByteArray>(id.toLatin1() + 'a');
    QTest::newRow("letter beyond p")
        << std::optional<QByteArray>("qbcdefghijklmnopabcdefghijklmnop");
    QTest::newRow("capitals") << std::optional<QByteArray>(id.toUpper().toLatin1());
    QTest::newRow("two ids") << std::optional<QByteArray>(id.toLatin1() + ' ' + id.toLatin1());
}

void TestHostManifests::noChromiumManifestWithoutAValidId()
{
    QFETCH(std::optional<QByteArray>, idFile);
    const QString idPath = path(u"app/bridge/chromium-extension-id"_qs);
    QVERIFY(QFile::remove(idPath));
    if (idFile)
        writeBytes(idPath, *idFile);

    QCOMPARE(writeHostManifests(folders(), m_appFolder), QStringList{path(firefoxManifest)});
    QVERIFY(!QFile::exists(path(u"config"_qs)));
}

QTEST_GUILESS_MAIN(TestHostManifests)
#include "tst_hostmanifests.moc"
