#include "desktop/XdgOpener.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestXdgOpener : public QObject
{
    Q_OBJECT

private slots:
    void addressReachesTheHandlerAsOneArgument_data();
    void addressReachesTheHandlerAsOneArgument();
};

void TestXdgOpener::addressReachesTheHandlerAsOneArgument_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("plain") << "https://example.org/page?a=1&b=2";
    QTest::newRow("shell characters")
        << "http://x.example/a b;touch \"$HOME/pwned\" `id` $(id) | cat";
    QTest::newRow("quote first") << "\" & calc & \"";
    QTest::newRow("dash first") << "--help";
}

void TestXdgOpener::addressReachesTheHandlerAsOneArgument()
{
    QFETCH(QString, address);
    QTemporaryDir dir;
    // A stand-in for xdg-open that writes down how many arguments it got, then each of them.
    const QString handler = dir.filePath("handler");
    const QString record = dir.filePath("record");
    QFile script(handler);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(
        "#!/bin/sh\n{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"" +
        record.toUtf8() + ".tmp\" && mv \"" + record.toUtf8() + ".tmp\" \"" + record.toUtf8() +
        "\"\n");
    script.close();
    QVERIFY(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));

    XdgOpener opener(handler);
    opener.openAddress(address);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 10000);
    QFile result(record);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(result.readAll()), "1\n" + address + "\n");
    QVERIFY(!QFile::exists(QDir::home().filePath("pwned")));
}

QTEST_GUILESS_MAIN(TestXdgOpener)
#include "tst_xdgopener.moc"
