#include "settings/Ini.h"
#include "settings/StartAtLogOn.h"
#include "support/TestFiles.h"
#include "support/TestWindow.h"

#include <QCheckBox>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <sys/stat.h>

namespace {

QString entryIn(const QString &configFolder)
{
    return configFolder + "/autostart/Vexlor Popup 2007.desktop";
}

QString tool(const QString &name, const char *package)
{
    const QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        qWarning("%s is missing: install the Debian package %s", qPrintable(name), package);
    return path;
}

// desktop-file-validate finds nothing to say about the entry.
void verifyValid(const QString &entry)
{
    const QString validate = tool("desktop-file-validate", "desktop-file-utils");
    QVERIFY(!validate.isEmpty());
    QProcess process;
    process.start(validate, {entry});
    QVERIFY(process.waitForFinished(30000));
    const QByteArray output = process.readAllStandardOutput() + process.readAllStandardError();
    QVERIFY2(process.exitCode() == 0 && output.isEmpty(), output.constData());
}

} // namespace

class TestStartAtLogOn : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void tickingWritesTheEntryForEveryUser();
    void withoutRightsTheUsersOwnEntryIsWritten();
    void withNowhereToWriteTheUserIsTold();
    void untickingRemovesEveryEntry();
    void anEntryThatCannotBeRemovedIsTold();
    void theEntryForEveryUserReplacesAStaleOwnEntry();
    void storedTickWritesTheEntryAgainAtStart();
    void theEntryStartsTheProgramFromAnyFolder_data();
    void theEntryStartsTheProgramFromAnyFolder();
    void percentSignsAreDoubled();

private:
    // A folder that can never be made: its parent is a regular file.
    QString unmakeableFolder(const QString &name)
    {
        writeBytes(m_window->root() + "/blocker", "");
        return m_window->root() + "/blocker/" + name;
    }
    QString stored() const
    {
        return ReadIniFrom(m_window->path("config.ini"), "Config", "Check3", "<none>");
    }

    std::unique_ptr<TestWindow> m_window;
};

void TestStartAtLogOn::init()
{
    m_window = std::make_unique<TestWindow>();
}

void TestStartAtLogOn::cleanup()
{
    QVERIFY(m_window->dialogs.allAnswered());
    m_window.reset();
}

void TestStartAtLogOn::tickingWritesTheEntryForEveryUser()
{
    Form1 &form = m_window->start();
    form.Check3->click();
    const QString entry = entryIn(m_window->folders.system);
    QCOMPARE(readBytes(entry), "[Desktop Entry]\nType=Application\nName=Vexlor Popup 2007\nExec=" +
                                   m_window->path("vexlor-popup").toUtf8() + "\n");
    // Readable by the session of every user.
    struct stat status = {};
    QCOMPARE(stat(QFile::encodeName(entry).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, 0644u);
    verifyValid(entry);
    QVERIFY(!QFile::exists(entryIn(m_window->folders.user)));
    QCOMPARE(stored(), QString("1"));
    QVERIFY(m_window->dialogs.m_shown.isEmpty());
}

void TestStartAtLogOn::withoutRightsTheUsersOwnEntryIsWritten()
{
    m_window->folders.system = unmakeableFolder("xdg");
    Form1 &form = m_window->start();
    form.Check3->click();
    QVERIFY(QFile::exists(entryIn(m_window->folders.user)));
    verifyValid(entryIn(m_window->folders.user));
    QCOMPARE(stored(), QString("1"));
    QVERIFY(m_window->dialogs.m_shown.isEmpty());
}

void TestStartAtLogOn::withNowhereToWriteTheUserIsTold()
{
    m_window->folders = {unmakeableFolder("xdg"), unmakeableFolder("config")};
    Form1 &form = m_window->start();
    form.Check3->click();
    // The box and config.ini keep the choice; the user learns that the session will not.
    QCOMPARE(form.Check3->checkState(), Qt::Checked);
    QCOMPARE(stored(), QString("1"));
    QCOMPARE(m_window->dialogs.m_shown.size(), 1);
    QCOMPARE(m_window->dialogs.m_shown[0].kind, QString("message"));
    QCOMPARE(m_window->dialogs.m_shown[0].text,
             QString("Vexlor Popup n'a pas pu être inscrit au démarrage de la session."));
    QCOMPARE(m_window->dialogs.m_shown[0].icon, Dialogs::Icon::Warning);
}

void TestStartAtLogOn::untickingRemovesEveryEntry()
{
    Form1 &form = m_window->start();
    form.Check3->click();
    // An entry of the user's own, left by a run without rights.
    QVERIFY(SetRegistryValue({QString(), m_window->folders.user}, kRunSubKey, kRunValueName,
                             "/old/vexlor-popup", REG_SZ));
    QVERIFY(QFile::exists(entryIn(m_window->folders.system)));
    QVERIFY(QFile::exists(entryIn(m_window->folders.user)));
    form.Check3->click();
    QVERIFY(!QFile::exists(entryIn(m_window->folders.system)));
    QVERIFY(!QFile::exists(entryIn(m_window->folders.user)));
    QCOMPARE(stored(), QString("0"));
    // Again, with nothing left to remove: nothing to tell.
    form.Check3->click();
    form.Check3->click();
    QCOMPARE(stored(), QString("0"));
    QVERIFY(m_window->dialogs.m_shown.isEmpty());
}

void TestStartAtLogOn::anEntryThatCannotBeRemovedIsTold()
{
    Form1 &form = m_window->start();
    form.Check3->click();
    // In place of the entry for every user, something that cannot be removed as a file.
    const QString entry = entryIn(m_window->folders.system);
    QVERIFY(QFile::remove(entry));
    QVERIFY(QDir().mkpath(entry + "/inside"));
    form.Check3->click();
    QCOMPARE(stored(), QString("0"));
    QCOMPARE(m_window->dialogs.m_shown.size(), 1);
    QCOMPARE(m_window->dialogs.m_shown[0].text,
             QString("Vexlor Popup n'a pas pu être retiré du démarrage de la session."));
}

void TestStartAtLogOn::theEntryForEveryUserReplacesAStaleOwnEntry()
{
    QVERIFY(SetRegistryValue({QString(), m_window->folders.user}, kRunSubKey, kRunValueName,
                             "/old/vexlor-popup", REG_SZ));
    Form1 &form = m_window->start();
    form.Check3->click();
    QVERIFY(QFile::exists(entryIn(m_window->folders.system)));
    // The user's own entry of the same name would hide it.
    QVERIFY(!QFile::exists(entryIn(m_window->folders.user)));
}

void TestStartAtLogOn::storedTickWritesTheEntryAgainAtStart()
{
    writeBytes(m_window->path("config.ini"), "[Config]\nCheck3=1\n");
    Form1 &form = m_window->start();
    QCOMPARE(form.Check3->checkState(), Qt::Checked);
    QVERIFY(readBytes(entryIn(m_window->folders.system))
                .contains("\nExec=" + m_window->path("vexlor-popup").toUtf8() + "\n"));

    // Stored 0 does nothing to an entry left in place by other means.
    writeBytes(m_window->path("config.ini"), "[Config]\nCheck3=0\n");
    m_window->start();
    QVERIFY(QFile::exists(entryIn(m_window->folders.system)));
}

void TestStartAtLogOn::theEntryStartsTheProgramFromAnyFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("plain") << QString("programmes");
    QTest::newRow("blanks") << QString("Mes programmes/Vexlor Popup 2007");
    QTest::newRow("shell characters") << QString("a$b\"c'd\\e`f;g&h|i(j)*?#~<k>");
    QTest::newRow("accents and tab") << QString("Logiciels été\tà jour");
}

void TestStartAtLogOn::theEntryStartsTheProgramFromAnyFolder()
{
    QFETCH(QString, folder);
    const QString gio = tool("gio", "libglib2.0-bin");
    QVERIFY(!gio.isEmpty());
    const QString programFolder = m_window->root() + '/' + folder;
    QVERIFY(QDir().mkpath(programFolder));
    const QString program = programFolder + "/vexlor-popup";
    const QString marker = m_window->root() + "/started";
    writeBytes(program, "#!/bin/sh\necho started > '" + marker.toUtf8() + "'\n");
    QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                               QFile::ReadOther));

    QVERIFY(SetRegistryValue(m_window->folders, kRunSubKey, kRunValueName, program, REG_SZ));
    const QString entry = entryIn(m_window->folders.system);
    verifyValid(entry);
    if (QTest::currentDataTag() == QLatin1String("plain"))
        QVERIFY(readBytes(entry).contains("\nExec=" + program.toUtf8() + "\n"));
    // The desktop's own launcher runs the command as a session would.
    QProcess launch;
    launch.start(gio, {"launch", entry});
    QVERIFY(launch.waitForFinished(30000));
    QVERIFY2(launch.exitCode() == 0, launch.readAllStandardError().constData());
    QTRY_VERIFY_WITH_TIMEOUT(readBytes(marker) == "started\n", 10000);
}

void TestStartAtLogOn::percentSignsAreDoubled()
{
    const QString program = m_window->root() + "/100%/vexlor-popup";
    QVERIFY(SetRegistryValue(m_window->folders, kRunSubKey, kRunValueName, program, REG_SZ));
    const QString entry = entryIn(m_window->folders.system);
    QVERIFY(readBytes(entry).contains("\nExec=" + program.toUtf8().replace("%", "%%") + "\n"));
    verifyValid(entry);
}

QTEST_MAIN(TestStartAtLogOn)
#include "tst_startatlogon.moc"
