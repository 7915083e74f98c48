#include "settings/Ini.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

const QByteArray kHandWritten = "; settings of Vexlor Popup\r\n"
                                "\r\n"
                                "[Other]\r\n"
                                "Check1=9\r\n"
                                "\r\n"
                                "  [ config ]  \r\n"
                                "# the sound\r\n"
                                "  TEXT1   =   C:\\sons\\bip.wav   \r\n"
                                "check2=0\r\n"
                                ";Check3=1\r\n"
                                "a line without equals sign\r\n"
                                "Check4=\r\n"
                                "Quoted=\"  two blanks  \"\r\n"
                                "\r\n"
                                "[Last]\r\n"
                                "Key=last\r\n";

} // namespace

class TestIni : public QObject
{
    Q_OBJECT

private slots:
    void readsHandWrittenFiles();
    void missingFileSectionOrKeyGivesTheDefault();
    void firstSectionAndFirstKeyOfANameCount();
    void readsAtMost254Characters();
    void readsWindows1252Files();
    void writeReplacesInPlaceAndLeavesEveryOtherLine();
    void writeAppendsNewKeysToTheirSection();
    void writeCreatesTheFileButNeverAFolder();
    void writtenValuesReadBackTheSame_data();
    void writtenValuesReadBackTheSame();
    void namesThatCannotBeReadBackAreRefused();
    void failedWriteLeavesTheOldFileWhole();
    void configIniIsTheDefaultFile();

private:
    QTemporaryDir m_dir;
};

void TestIni::readsHandWrittenFiles()
{
    const QString file = m_dir.filePath("hand.ini");
    writeBytes(file, kHandWritten);
    QCOMPARE(ReadIniFrom(file, "Config", "Text1", "-"), QString("C:\\sons\\bip.wav"));
    QCOMPARE(ReadIniFrom(file, "CONFIG", "Check2", "-"), QString("0"));
    QCOMPARE(ReadIniFrom(file, "Config", "Check3", "-"), QString("-")); // a comment
    QCOMPARE(ReadIniFrom(file, "Config", "Check4", "-"), QString());    // present, empty
    QCOMPARE(ReadIniFrom(file, "Config", "Quoted", "-"), QString("  two blanks  "));
    QCOMPARE(ReadIniFrom(file, "Config", "Check1", "-"), QString("-")); // only in [Other]
    QCOMPARE(ReadIniFrom(file, "other", "CHECK1", "-"), QString("9"));
    QCOMPARE(ReadIniFrom(file, "Last", "Key", "-"), QString("last"));

    // The same file with bare line feeds reads the same.
    const QString unix = m_dir.filePath("unix.ini");
    writeBytes(unix, QByteArray(kHandWritten).replace("\r\n", "\n"));
    QCOMPARE(ReadIniFrom(unix, "Config", "Text1", "-"), QString("C:\\sons\\bip.wav"));
    QCOMPARE(ReadIniFrom(unix, "Last", "key", "-"), QString("last"));
}

void TestIni::missingFileSectionOrKeyGivesTheDefault()
{
    const QString file = m_dir.filePath("hand.ini");
    writeBytes(file, kHandWritten);
    QCOMPARE(ReadIniFrom(m_dir.filePath("none.ini"), "Config", "Text1", "d"), QString("d"));
    QCOMPARE(ReadIniFrom(file, "Missing", "Text1", "d"), QString("d"));
    QCOMPARE(ReadIniFrom(file, "Config", "Missing", "d"), QString("d"));
    QCOMPARE(ReadIniFrom(m_dir.path(), "Config", "Text1", "d"), QString("d")); // a folder
    QCOMPARE(ReadIniFrom(QString(), "Config", "Text1", "d"), QString("d"));
}

void TestIni::firstSectionAndFirstKeyOfANameCount()
{
    const QString file = m_dir.filePath("twice.ini");
    writeBytes(file, "[Config]\nCheck1=first\nCheck1=second\n[Other]\nX=1\n"
                     "[CONFIG]\nCheck1=third\nCheck2=later\n");
    QCOMPARE(ReadIniFrom(file, "Config", "Check1", "-"), QString("first"));
    QCOMPARE(ReadIniFrom(file, "Config", "Check2", "-"), QString("-"));
    QVERIFY(WriteIniTo(file, "config", "check1", "new"));
    QVERIFY(WriteIniTo(file, "Config", "Check2", "2"));
    QCOMPARE(readBytes(file), QByteArray("[Config]\nCheck1=new\nCheck1=second\nCheck2=2\n"
                                         "[Other]\nX=1\n[CONFIG]\nCheck1=third\nCheck2=later\n"));
}

void TestIni::readsAtMost254Characters()
{
    const QString file = m_dir.filePath("long.ini");
    const QString long300 = QString(300, u'x');
    QVERIFY(WriteIniTo(file, "Config", "Text1", long300));
    QVERIFY(readBytes(file).contains(long300.toLatin1())); // the file holds it whole
    QCOMPARE(ReadIniFrom(file, "Config", "Text1", "-"), QString(254, u'x'));
    QVERIFY(WriteIniTo(file, "Config", "Exact", QString(254, u'y')));
    QCOMPARE(ReadIniFrom(file, "Config", "Exact", "-"), QString(254, u'y'));
    // A character outside the basic plane that would be cut in two is left out whole.
    const QString emoji = QString::fromUtf8("\xF0\x9F\x94\x8A");
    QVERIFY(WriteIniTo(file, "Config", "Pair", QString(253, u'z') + emoji + "tail"));
    QCOMPARE(ReadIniFrom(file, "Config", "Pair", "-"), QString(253, u'z'));
}

void TestIni::readsWindows1252Files()
{
    const QString file = m_dir.filePath("cp1252.ini");
    writeBytes(file, "[Config]\r\nText1=C:\\Mes documents\\bip\xe9 \x80.wav\r\n");
    QCOMPARE(ReadIniFrom(file, "Config", "Text1", "-"), QString("C:\\Mes documents\\bipé €.wav"));
    // A write keeps the line, now in UTF-8, and the file's own line ends.
    QVERIFY(WriteIniTo(file, "Config", "Check1", "0"));
    QCOMPARE(readBytes(file), QString("[Config]\r\nText1=C:\\Mes documents\\bipé €.wav\r\n"
                                      "Check1=0\r\n")
                                  .toUtf8());
    QCOMPARE(ReadIniFrom(file, "Config", "Text1", "-"), QString("C:\\Mes documents\\bipé €.wav"));
}

void TestIni::writeReplacesInPlaceAndLeavesEveryOtherLine()
{
    const QString file = m_dir.filePath("hand.ini");
    writeBytes(file, kHandWritten);
    QVERIFY(WriteIniTo(file, "CONFIG", "Text1", "/home/léa/son.wav"));
    QVERIFY(WriteIniTo(file, "Config", "CHECK2", "1"));
    QByteArray expected = kHandWritten;
    expected.replace("  TEXT1   =   C:\\sons\\bip.wav   \r\n", "TEXT1=/home/léa/son.wav\r\n");
    expected.replace("check2=0\r\n", "check2=1\r\n");
    QCOMPARE(readBytes(file), expected);
}

void TestIni::writeAppendsNewKeysToTheirSection()
{
    const QString file = m_dir.filePath("hand.ini");
    writeBytes(file, kHandWritten);
    QVERIFY(WriteIniTo(file, "Config", "Check3", "1"));
    QVERIFY(WriteIniTo(file, "Last", "Added", "yes"));
    QVERIFY(WriteIniTo(file, "New", "Key", "v"));
    QByteArray expected = kHandWritten;
    expected.replace("Quoted=\"  two blanks  \"\r\n", "Quoted=\"  two blanks  \"\r\nCheck3=1\r\n");
    expected += "Added=yes\r\n\r\n[New]\r\nKey=v\r\n";
    QCOMPARE(readBytes(file), expected);

    // A last line without a line end gets one before the new key.
    const QString bare = m_dir.filePath("bare.ini");
    writeBytes(bare, "[Config]\nCheck1=1");
    QVERIFY(WriteIniTo(bare, "Config", "Check2", "0"));
    QCOMPARE(readBytes(bare), QByteArray("[Config]\nCheck1=1\nCheck2=0\n"));
}

void TestIni::writeCreatesTheFileButNeverAFolder()
{
    const QString file = m_dir.filePath("fresh.ini");
    QVERIFY(WriteIniTo(file, "Config", "Check1", "1"));
    QVERIFY(WriteIniTo(file, "Config", "Check2", "0"));
    QCOMPARE(readBytes(file), QByteArray("[Config]\nCheck1=1\nCheck2=0\n"));

    const QString inMissingFolder = m_dir.filePath("missing/config.ini");
    QVERIFY(!WriteIniTo(inMissingFolder, "Config", "Check1", "1"));
    QVERIFY(!QDir(m_dir.filePath("missing")).exists());

    QDir(m_dir.path()).mkdir("folder.ini");
    QVERIFY(!WriteIniTo(m_dir.filePath("folder.ini"), "Config", "Check1", "1"));
    QVERIFY(QFileInfo(m_dir.filePath("folder.ini")).isDir());
}

void TestIni::writtenValuesReadBackTheSame_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("empty") << QString();
    QTest::newRow("plain") << QString("/usr/share/sounds/bip.wav");
    QTest::newRow("blanks at the ends") << QString("  a path with blanks ");
    QTest::newRow("double quotes") << QString("\"quoted\"");
    QTest::newRow("single quotes") << QString("'quoted'");
    QTest::newRow("one quote") << QString("\"");
    QTest::newRow("equals and semicolon") << QString("a=b;c # d");
    QTest::newRow("brackets") << QString("[Config]");
    QTest::newRow("accents") << QString("Fenètres : démarrage €");
    QTest::newRow("tab inside") << QString("a\tb");
    QTest::newRow("254 characters") << QString(254, u'w');
}

void TestIni::writtenValuesReadBackTheSame()
{
    QFETCH(QString, value);
    const QString file = m_dir.filePath("roundtrip.ini");
    QVERIFY(WriteIniTo(file, "Form1", "Form.Caption", value));
    QCOMPARE(ReadIniFrom(file, "Form1", "Form.Caption", "default"), value);
    // Written over an existing value, too.
    QVERIFY(WriteIniTo(file, "Form1", "Form.Caption", value));
    QCOMPARE(ReadIniFrom(file, "Form1", "Form.Caption", "default"), value);
}

void TestIni::namesThatCannotBeReadBackAreRefused()
{
    const QString file = m_dir.filePath("refused.ini");
    QVERIFY(!WriteIniTo(file, "Config", "a=b", "1"));
    QVERIFY(!WriteIniTo(file, "Config", QString(), "1"));
    QVERIFY(!WriteIniTo(file, "Con]fig", "Key", "1"));
    QVERIFY(!WriteIniTo(file, "Config", "Key\nOther", "1"));
    QVERIFY(!QFile::exists(file));
    // A value never spills onto a line of its own.
    QVERIFY(WriteIniTo(file, "Config", "Text1", "a\r\nCheck2=0"));
    QCOMPARE(ReadIniFrom(file, "Config", "Check2", "-"), QString("-"));
    QCOMPARE(ReadIniFrom(file, "Config", "Text1", "-"), QString("a  Check2=0"));
}

void TestIni::failedWriteLeavesTheOldFileWhole()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("config.ini");
    const QByteArray old = "[Config]\nCheck1=1\n";
    writeBytes(file, old);
    // Files of this process may not grow past 64 bytes: the new file cannot be written whole.
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = WriteIniTo(file, "Config", "Text1", QString(200, u'p'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    QVERIFY(!written);
    QCOMPARE(readBytes(file), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"config.ini"});
}

void TestIni::configIniIsTheDefaultFile()
{
    QTemporaryDir appFolder;
    QCOMPARE(ReadIni(appFolder.path(), "Config", "Check1"), QString());
    WriteIni(appFolder.path(), "Config", "Check1", "0");
    QCOMPARE(readBytes(appFolder.filePath("config.ini")), QByteArray("[Config]\nCheck1=0\n"));
    QCOMPARE(ReadIni(appFolder.path(), "config", "check1"), QString("0"));

    const QString other = appFolder.filePath("other.ini");
    WriteIni(appFolder.path(), "Config", "Check1", "1", other);
    QCOMPARE(ReadIni(appFolder.path(), "Config", "Check1", other), QString("1"));
    QCOMPARE(ReadIni(appFolder.path(), "Config", "Check1"), QString("0"));
}

QTEST_GUILESS_MAIN(TestIni)
#include "tst_ini.moc"
