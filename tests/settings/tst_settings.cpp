#include "platform/AtomicFile.h"
#include "settings/Ini.h"
#include "settings/StartAtLogOn.h"
#include "support/TestFiles.h"
#include "support/TestWindow.h"

#include <QCheckBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString entryIn(const QString &configFolder)
{
    return configFolder + "/autostart/Vexlor Popup 2007.desktop";
}

// Runs a desktop tool on the entry; what it said, or why it failed.
QByteArray runTool(const char *tool, const QStringList &arguments)
{
    QProcess process;
    process.start(QStandardPaths::findExecutable(tool), arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return tool + QByteArray(" failed: ") + process.readAllStandardError();
    return process.readAllStandardOutput() + process.readAllStandardError();
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void aLinkToAnotherOwnersFileIsNeverWrittenThrough_data();
    void aLinkToAnotherOwnersFileIsNeverWrittenThrough();
    void tickingWritesOneEntryThatSessionsRun_data();
    void tickingWritesOneEntryThatSessionsRun();

private:
    std::unique_ptr<TestWindow> m_window;
};

void TestSettings::init()
{
    m_window = std::make_unique<TestWindow>();
}

void TestSettings::aLinkToAnotherOwnersFileIsNeverWrittenThrough_data()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<bool>("linkOfAnother");
    QTest::addColumn<bool>("fileOfAnother");
    // The settings and the language files go through the INI module, the data files straight.
    for (const char *writer : {"ini", "data file"}) {
        QTest::addRow("%s, own link and file", writer) << QString(writer) << false << false;
        QTest::addRow("%s, link to another's file", writer) << QString(writer) << false << true;
        QTest::addRow("%s, link another planted", writer) << QString(writer) << true << false;
    }
}

void TestSettings::aLinkToAnotherOwnersFileIsNeverWrittenThrough()
{
    QFETCH(QString, writer);
    QFETCH(bool, linkOfAnother);
    QFETCH(bool, fileOfAnother);
    const bool refused = linkOfAnother || fileOfAnother;
    if (refused && ::geteuid() != 0)
        QSKIP("only root can give a file to another user");
    const QString target = m_window->root() + "/elsewhere";
    const QByteArray before = "[Form1]\nsecret=1\n";
    writeBytes(target, before);
    const QString link = m_window->path("Lang/Francais.lng");
    QVERIFY(QFile::link(target, link));
    if (fileOfAnother)
        QCOMPARE(::chown(QFile::encodeName(target).constData(), 65534, 65534), 0);
    if (linkOfAnother)
        QCOMPARE(::lchown(QFile::encodeName(link).constData(), 65534, 65534), 0);
    if (refused)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("lien vers un fichier d'un autre"));

    if (writer == "ini") {
        QCOMPARE(WriteIniTo(link, "Form1", "Form.Caption", "Vexlor"), !refused);
    } else {
        QFileDevice::FileError error = QFileDevice::NoError;
        QCOMPARE(writeAtomically(link, "[Form1]\nForm.Caption=Vexlor\n", std::nullopt, &error),
                 !refused);
        QCOMPARE(error, refused ? QFileDevice::PermissionsError : QFileDevice::NoError);
    }
    QCOMPARE(readBytes(target) == before, refused);
    QVERIFY(QFileInfo(link).isSymLink());
}

void TestSettings::tickingWritesOneEntryThatSessionsRun_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("changed"); // made open to others, or another user's, when set
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("otherOwner");
    const QString none;
    QTest::newRow("plain") << QString("app") << none << 0 << false;
    QTest::newRow("shell characters, blanks, accents and tab")
        << QString("a$b\"c'd\\e`f;g&h|i(j)*?#~<k>/Mes logiciels été\tà jour") << none << 0 << false;
    QTest::newRow("percent doubled") << QString("100%") << none << 0 << false;
    // Every session, an administrator's included, would run what another user put there.
    QTest::newRow("a folder above open to all") << QString("app") << QString("") << 0777 << false;
    QTest::newRow("its folder open to the group")
        << QString("app") << QString("app") << 0775 << false;
    QTest::newRow("its folder another user's") << QString("app") << QString("app") << 0755 << true;
    QTest::newRow("program open to others")
        << QString("app") << QString("app/vexlor-popup") << 0757 << false;
    QTest::newRow("program another user's")
        << QString("app") << QString("app/vexlor-popup") << 0755 << true;
}

void TestSettings::tickingWritesOneEntryThatSessionsRun()
{
    QFETCH(QString, folder);
    QFETCH(QString, changed);
    QFETCH(int, mode);
    QFETCH(bool, otherOwner);
    if (!changed.isNull() && ::geteuid() != 0)
        QSKIP("only root writes the entry for every user and hands files to others");
    const QString program = m_window->root() + '/' + folder + "/vexlor-popup";
    const QString marker = m_window->root() + "/started";
    writeAll(program, "#!/bin/sh\necho started > '" + marker.toUtf8() + "'\n");
    QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                               QFile::ReadOther | QFile::ExeOther));
    const QByteArray native = QFile::encodeName(m_window->root() + '/' + changed);
    QVERIFY(changed.isNull() || ::chmod(native.constData(), mode_t(mode)) == 0);
    QVERIFY(!otherOwner || ::chown(native.constData(), 65534, 65534) == 0);
    // As root the entry is for every user, and the user's own stale one, which would hide it,
    // goes; else a stale entry for every user, which would run what others can change, goes.
    const QString where =
        ::geteuid() == 0 && changed.isNull() ? m_window->folders.system : m_window->folders.user;
    writeAll(entryIn(m_window->folders.system), "[Desktop Entry]\n");
    writeAll(entryIn(m_window->folders.user), "[Desktop Entry]\n");
    if (folder == "app") {
        writeBytes(m_window->path("config.ini"), "[Config]\nCheck3=1\n");
        m_window->start(); // a stored tick writes the entry again at every start
    } else {
        QVERIFY(SetRegistryValue(m_window->folders, kRunSubKey, kRunValueName, program, REG_SZ));
    }
    const QString entry = entryIn(where);
    QCOMPARE(QFile::exists(entryIn(m_window->folders.system)), where == m_window->folders.system);
    QCOMPARE(QFile::exists(entryIn(m_window->folders.user)), where == m_window->folders.user);
    if (folder == "100%")
        QVERIFY(readBytes(entry).contains("/100%%/"));
    struct stat status = {};
    QCOMPARE(stat(QFile::encodeName(entry).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, 0644u);                            // every session reads it
    QCOMPARE(runTool("desktop-file-validate", {entry}), QByteArray()); // it finds nothing to say
    if (folder == "100%")
        return; // gio launch cannot load an entry whose command holds %%
    // The desktop's own launcher runs the command as a session would.
    QCOMPARE(runTool("gio", {"launch", entry}), QByteArray());
    QTRY_VERIFY_WITH_TIMEOUT(readBytes(marker) == "started\n", 10000);
    if (folder != "app")
        return;
    // Unticking takes the entry away from every session.
    m_window->form->Check3->click();
    QVERIFY(!QFile::exists(entry));
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
