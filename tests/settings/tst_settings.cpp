#include "lang/LanguageFile.h"
#include "platform/AtomicFile.h"
#include "settings/Ini.h"
#include "settings/StartAtLogOn.h"
#include "support/TestFiles.h"
#include "support/TestWindow.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

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

QList<Qt::CheckState> optionStates(const Form1 &form)
{
    return {form.Check1->checkState(), form.Check2->checkState(), form.Check3->checkState(),
            form.Check4->checkState()};
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
    void iniNamesIgnoreCaseAndBlanksSkipCommentsAndTakeTheFirstKey_data();
    void iniNamesIgnoreCaseAndBlanksSkipCommentsAndTakeTheFirstKey();
    void optionsAndSoundOutliveARestartAndACancelledChoiceKeepsTheSound();
    void greyedStatesAreKeptAndUntickingCheck1GreysTheSoundControls();

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

void TestSettings::iniNamesIgnoreCaseAndBlanksSkipCommentsAndTakeTheFirstKey_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("expected"); // "<none>" when the key is not found
    // Every file is looked up for Check7.Caption of section Form1.
    QTest::newRow("names of any case") << QByteArray("[FORM1]\ncheck7.CAPTION=Oui\n") << "Oui";
    QTest::newRow("blanks around names and value")
        << QByteArray("  [ Form1 ]\t\n \t Check7.Caption \t=  Oui non \t\r\n") << "Oui non";
    QTest::newRow("comment lines; no comment after a value")
        << QByteArray("[Form1]\n;Check7.Caption=Non\n # Check7.Caption=Non\n;[Autre]\n"
                      "Check7.Caption=Oui ; # non\n")
        << "Oui ; # non";
    QTest::newRow("first of two keys")
        << QByteArray("[Form1]\nCheck7.Caption=Oui\nCHECK7.CAPTION=Non\n") << "Oui";
    QTest::newRow("first of two sections")
        << QByteArray("[Form1]\nA=1\n[Autre]\n[form1]\nCheck7.Caption=Non\n") << "<none>";
    QTest::newRow("key of another section")
        << QByteArray("[Autre]\nCheck7.Caption=Non\n[Form1]\n") << "<none>";
    QTest::newRow("quotes off, blanks inside kept")
        << QByteArray("[Form1]\nCheck7.Caption=' Oui '\n") << " Oui ";
    QTest::newRow("empty value") << QByteArray("[Form1]\nCheck7.Caption=\n") << "";
    QTest::newRow("no name") << QByteArray("[Form1]\n=Non\n") << "<none>";
}

// The settings reader and the language reader, each checked against the rules.
void TestSettings::iniNamesIgnoreCaseAndBlanksSkipCommentsAndTakeTheFirstKey()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, expected);
    const QString path = m_window->path("Lang/Autre.lng");
    writeBytes(path, file);
    QCOMPARE(ReadIniFrom(path, "Form1", "Check7.Caption", "<none>"), expected);
    Form1 &form = m_window->start(false);
    QVERIFY(applyLanguageTexts({&form, form.controls()}, path));
    QCOMPARE(form.Check7->text(), expected == "<none>" ? "Changer" : expected);
}

void TestSettings::optionsAndSoundOutliveARestartAndACancelledChoiceKeepsTheSound()
{
    Form1 &first = m_window->start();
    const QString shipped = first.Text1->text();
    m_window->dialogs.answer(std::nullopt);
    first.Command2->click();
    QCOMPARE(first.Text1->text(), shipped);
    const QString chosen = m_window->root() + "/mine.wav";
    m_window->dialogs.answer(chosen);
    first.Command2->click();
    for (QCheckBox *box : {first.Check1, first.Check2, first.Check4})
        box->click();
    Form1 &second = m_window->start();
    QCOMPARE(second.Text1->text(), chosen);
    QCOMPARE(optionStates(second),
             (QList<Qt::CheckState>{Qt::Unchecked, Qt::Unchecked, Qt::Unchecked, Qt::Checked}));
    QVERIFY(!second.Timer1->isActive() && !second.Text1->isEnabled());
}

void TestSettings::greyedStatesAreKeptAndUntickingCheck1GreysTheSoundControls()
{
    const QString config = m_window->path("config.ini");
    writeBytes(config, "[Config]\nCheck1=2\nCheck2=2\nCheck4=2\n");
    const QList<Qt::CheckState> greyed{Qt::PartiallyChecked, Qt::PartiallyChecked, Qt::Unchecked,
                                       Qt::PartiallyChecked};
    QCOMPARE(optionStates(m_window->start()), greyed);
    Form1 &form = m_window->start(); // as the first run left the file
    QCOMPARE(optionStates(form), greyed);
    QVERIFY(form.Timer1->isActive() && form.Text1->isEnabled());
    // A click ends the greyed state for good: the box has two states again.
    for (const bool ticked : {true, false, true}) {
        form.Check1->click();
        QCOMPARE(form.Check1->checkState(), ticked ? Qt::Checked : Qt::Unchecked);
        for (const QWidget *control : QWidgetList{form.FramePlus5, form.Text1, form.Command2})
            QCOMPARE(control->isEnabled(), ticked);
        QCOMPARE(ReadIniFrom(config, "Config", "Check1", {}), QString::number(ticked));
    }
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
