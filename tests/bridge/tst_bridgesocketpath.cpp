#include "bridge/BridgeSocketPath.h"

#include <QDir>
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

} // namespace

class TestBridgeSocketPath : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void theSessionsRuntimeFolderComesFirst();
    void theFolderIsMadePrivate();
    void aFolderSomeoneElseCouldUseIsRefused_data();
    void aFolderSomeoneElseCouldUseIsRefused();
};

void TestBridgeSocketPath::cleanup()
{
    qunsetenv("XDG_RUNTIME_DIR");
}

void TestBridgeSocketPath::theSessionsRuntimeFolderComesFirst()
{
    qputenv("XDG_RUNTIME_DIR", "/run/user/1234");
    QCOMPARE(bridgeSocketPath(), u"/run/user/1234/vexlor-popup/bridge"_qs);
    qunsetenv("XDG_RUNTIME_DIR");
    QCOMPARE(bridgeSocketPath(), u"/tmp/vexlor-popup-%1/vexlor-popup/bridge"_qs.arg(::getuid()));
}

void TestBridgeSocketPath::theFolderIsMadePrivate()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    // Made under a permissive mask, as a desktop session may have.
    const mode_t mask = ::umask(0);
    const QString socket = root.filePath(u"vexlor-popup-77/vexlor-popup/bridge"_qs);
    QString why;
    const bool prepared = prepareBridgeSocketFolder(socket, &why);
    ::umask(mask);
    QVERIFY2(prepared, qPrintable(why));
    QCOMPARE(modeOf(root.filePath(u"vexlor-popup-77"_qs)), mode_t(0700));
    QCOMPARE(modeOf(root.filePath(u"vexlor-popup-77/vexlor-popup"_qs)), mode_t(0700));
    // Preparing again finds everything in order.
    QVERIFY(prepareBridgeSocketFolder(socket));
}

void TestBridgeSocketPath::aFolderSomeoneElseCouldUseIsRefused_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("otherOwner");
    QTest::addColumn<QString>("reason");
    QTest::newRow("open to the group") << u"own/vexlor-popup"_qs << 0750 << false << u"ouvert"_qs;
    QTest::newRow("open to all") << u"own/vexlor-popup"_qs << 0777 << false << u"ouvert"_qs;
    QTest::newRow("fallback made open by another")
        << u"vexlor-popup-1"_qs << 0777 << false << u"ouvert"_qs;
    QTest::newRow("owned by another user")
        << u"own/vexlor-popup"_qs << 0700 << true << u"autre utilisateur"_qs;
    QTest::newRow("fallback owned by another user")
        << u"vexlor-popup-1"_qs << 0700 << true << u"autre utilisateur"_qs;
}

void TestBridgeSocketPath::aFolderSomeoneElseCouldUseIsRefused()
{
    QFETCH(QString, folder);
    QFETCH(int, mode);
    QFETCH(bool, otherOwner);
    QFETCH(QString, reason);
    if (otherOwner && ::getuid() != 0)
        QSKIP("only root can hand a folder to another user");

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString path = root.filePath(folder);
    QVERIFY(QDir().mkpath(path));
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode)), 0);
    if (otherOwner)
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);

    const QString socket = folder.startsWith(u"own")
                               ? root.filePath(u"own/vexlor-popup/bridge"_qs)
                               : root.filePath(u"vexlor-popup-1/vexlor-popup/bridge"_qs);
    QString why;
    QVERIFY(!prepareBridgeSocketFolder(socket, &why));
    QVERIFY2(why.contains(reason), qPrintable(why));
    // Nothing is made inside a refused fallback folder.
    if (folder.startsWith(u"vexlor-popup-"))
        QVERIFY(!QFile::exists(path + u"/vexlor-popup"_qs));
}

QTEST_GUILESS_MAIN(TestBridgeSocketPath)
#include "tst_bridgesocketpath.moc"
