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
    const QByteArray record = dir.filePath("record").toUtf8();
    writeBytes(dir.filePath("handler"), "#!/bin/sh\n{ echo \"$#\"; printf '%s\\n' \"$@\"; } > \"" +
                                            record + ".tmp\" && mv \"" + record + ".tmp\" \"" +
                                            record + "\"\n");
    QVERIFY(QFile::setPermissions(dir.filePath("handler"), QFile::ReadOwner | QFile::ExeOwner));
    XdgOpener(dir.filePath("handler")).openAddress(address);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 10000);
    QCOMPARE(QString::fromUtf8(readBytes(record)), "1\n" + address + "\n");
    QVERIFY(!QFile::exists(QDir::home().filePath("pwned")));
}

QTEST_GUILESS_MAIN(TestXdgOpener)
#include "tst_xdgopener.moc"
