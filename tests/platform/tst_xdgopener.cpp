#include "desktop/XdgOpener.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

class TestXdgOpener : public QObject
{
    Q_OBJECT

private slots:
    void addressReachesTheHandlerAsOneArgument();
};

// A dash first, then shell characters and a quote.
void TestXdgOpener::addressReachesTheHandlerAsOneArgument()
{
    const QString address =
        u"--help http://x.example/a b;touch \"$HOME/pwned\" `id` $(id) | cat \" & calc & \""_qs;
    QTemporaryDir dir;
    // A stand-in for xdg-open that writes down how many arguments it got, then each of them.
    writeBytes(dir.filePath("handler"), "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"$0.log\"\n");
    QVERIFY(QFile::setPermissions(dir.filePath("handler"), QFile::ReadOwner | QFile::ExeOwner));
    XdgOpener(dir.filePath("handler")).openAddress(address);
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(readBytes(dir.filePath("handler.log"))),
                              "1\n" + address + "\n", 10000);
    QVERIFY(!QFile::exists(QDir::home().filePath("pwned")));
}

QTEST_GUILESS_MAIN(TestXdgOpener)
#include "tst_xdgopener.moc"
