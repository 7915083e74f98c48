#include "lang/LanguageFile.h"
#include "settings/Ini.h"
#include "support/TestFiles.h"
#include "support/TestWindow.h"
#include "support/WindowTexts.h"
#include "ui/FileListBox.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>
#include <QTreeWidget>

namespace {

// The key of every line of a language file that holds one.
QStringList keysOf(const QString &file)
{
    QStringList keys;
    for (const QByteArray &line : readBytes(file).split('\n'))
        if (line.contains('='))
            keys.append(QString::fromUtf8(line.left(line.indexOf('='))));
    return keys;
}

const QString kEnglish = QStringLiteral(VEXLOR_SOURCE_DIR "/data/Lang/English.lng");

} // namespace

class TestLanguageFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void everyControlIsWalkedInDesignOrder();
    void builtInFileHoldsEveryNonEmptyText();
    void startUpWritesTheBuiltInTextsOverHandEdits();
    void withoutLangFolderNothingIsWritten();
    void englishRenamesEveryTextAndFrenchRestoresThem();
    void partialFileLeavesTheOtherTexts();
    void emptyValueEmptiesTheText();
    void filesThatChangeNothing_data();
    void filesThatChangeNothing();
    void controlArrayMembersCarryTheirIndex();
    void markupInATipShowsAsPlainCharacters();

private:
    QString builtIn() const { return m_window->path("Lang/Francais.lng"); }

    std::unique_ptr<TestWindow> m_window;
};

void TestLanguageFiles::init()
{
    m_window = std::make_unique<TestWindow>();
}

void TestLanguageFiles::cleanup()
{
    m_window.reset();
}

void TestLanguageFiles::everyControlIsWalkedInDesignOrder()
{
    Form1 &form = m_window->start(false);
    QStringList names;
    for (const QObject *control : form.controls())
        names.append(control->objectName());
    QCOMPARE(names,
             QString("ctxHookMenu1 FramePlus1 ListView1 sb VexlorCmd1 Timer1 VexlorCmd2 "
                     "VexlorCmd3 VexlorCmd4 VexlorCmd5 Frame3 FramePlus2 Check7 File1 ButtonPlus5 "
                     "Check4 Check3 Check2 Check1 FramePlus5 Text1 Command2 CommonDialog1 Image1 "
                     "Label2 Label1 Frame2 ListView4 Command1 Frame1 ListView3 Command5 Command7 "
                     "Command8 Frame4 ListView2 ButtonPlus3 ButtonPlus4 VexlorCmd6 ButtonPlus2 "
                     "ButtonPlus1 contex affich kj cle journal option stat jk quit")
                 .split(' '));
    // Nothing the window shows is left out.
    const QObjectList controls = form.controls();
    for (QObject *child : form.findChildren<QObject *>()) {
        const bool shown = child->isWidgetType() || qobject_cast<QAction *>(child);
        if (shown && !child->objectName().isEmpty() && !child->objectName().startsWith("qt_"))
            QVERIFY2(controls.contains(child), qPrintable(child->objectName()));
    }
}

void TestLanguageFiles::builtInFileHoldsEveryNonEmptyText()
{
    m_window->start();
    const QString file = builtIn();
    QCOMPARE(ReadIniFrom(file, "Form1", "Form.Caption", "-"),
             QString(" Vexlor Popup  2007  - Protection totale"));
    QCOMPARE(ReadIniFrom(file, "Form1", "FramePlus2.Caption", "-"), QString("Les Langues"));
    QCOMPARE(ReadIniFrom(file, "Form1", "Check7.Caption", "-"), QString("Changer"));
    QCOMPARE(ReadIniFrom(file, "Form1", "File1.ToolTipText", "-"),
             QString("You can translate the lang files to others languages and send it to the "
                     "author."));
    QCOMPARE(ReadIniFrom(file, "Form1", "ButtonPlus5.Caption", "-"), QString("&OK"));
    QCOMPARE(ReadIniFrom(file, "Form1", "VexlorCmd6.ToolTipText", "-"),
             QString("Fermer les options"));
    QCOMPARE(ReadIniFrom(file, "Form1", "cle.Caption", "-"), QString("&Mots Cléfs"));
    QCOMPARE(ReadIniFrom(file, "Form1", "kj.Caption", "-"), QString("-"));
    // Empty texts, and controls without caption, write nothing.
    const QStringList keys = keysOf(file);
    for (const char *absent :
         {"VexlorCmd6.Caption", "sb.Caption", "ListView1.Caption", "Image1.Caption",
          "Text1.Caption", "Timer1.Caption", "CommonDialog1.Caption", "ctxHookMenu1.Caption",
          "affich.ToolTipText", "contex.ToolTipText", "Check7.ToolTipText"})
        QVERIFY2(!keys.contains(absent, Qt::CaseInsensitive), absent);
    QCOMPARE(keys.size(), 41);
    // The keys follow the design order.
    QCOMPARE(keys.first(), QString("Form.Caption"));
    QVERIFY(keys.indexOf("FramePlus1.Caption") < keys.indexOf("Check7.Caption"));
    QVERIFY(keys.indexOf("Check7.Caption") < keys.indexOf("File1.ToolTipText"));
    QVERIFY(keys.indexOf("Check4.Caption") < keys.indexOf("Check1.Caption"));
    QVERIFY(keys.indexOf("ButtonPlus1.Caption") < keys.indexOf("contex.Caption"));
    QCOMPARE(keys.last(), QString("quit.Caption"));
}

void TestLanguageFiles::startUpWritesTheBuiltInTextsOverHandEdits()
{
    writeBytes(builtIn(), "; traduit à la main\n[Form1]\nCheck7.Caption=Édité\nsb.Caption=Bonjour\n"
                          "VexlorCmd6.Caption=Réduire\n");
    Form1 &form = m_window->start();
    const QList<QByteArray> lines = readBytes(builtIn()).split('\n');
    QCOMPARE(lines[0], QByteArray("; traduit à la main"));
    QCOMPARE(lines[2], QByteArray("Check7.Caption=Changer")); // in place
    QCOMPARE(lines[3], QByteArray("sb.Caption=Bonjour"));     // no built-in text covers these
    QCOMPARE(lines[4], QByteArray("VexlorCmd6.Caption=Réduire"));
    // Francais.lng is the language of a first start, so the added keys show.
    QCOMPARE(form.languages().LanguageFile(), builtIn());
    QCOMPARE(form.Check7->text(), QString("Changer"));
    QCOMPARE(form.sb->text(), QString("Bonjour"));
    QCOMPARE(form.VexlorCmd6->text(), QString("Réduire"));
}

void TestLanguageFiles::withoutLangFolderNothingIsWritten()
{
    QVERIFY(QDir(m_window->path("Lang")).removeRecursively());
    TestWindow fresh;
    Form1 &form = m_window->start();
    QVERIFY(!QFileInfo::exists(m_window->path("Lang")));
    QCOMPARE(form.File1->count(), 0);
    QCOMPARE(windowTexts(form), windowTexts(fresh.start(false)));
}

void TestLanguageFiles::englishRenamesEveryTextAndFrenchRestoresThem()
{
    Form1 &form = m_window->start();
    const auto frenchTexts = windowTexts(form);
    QVERIFY(QFile::copy(kEnglish, m_window->path("Lang/English.lng")));
    // The English file holds every key of the French one.
    QCOMPARE(keysOf(m_window->path("Lang/English.lng")), keysOf(builtIn()));

    form.languages().ApplyLanguageFile(m_window->path("Lang/English.lng"));
    QCOMPARE(form.languages().LanguageFile(), m_window->path("Lang/English.lng"));
    QCOMPARE(form.windowTitle(), QString(" Vexlor Popup  2007  - Total protection"));
    // The window, written back, gives the English file's every value.
    const QString check = m_window->path("check.lng");
    WriteLanguageFile({&form, form.controls()}, check);
    for (const QString &key : keysOf(builtIn()))
        QCOMPARE(ReadIniFrom(check, "Form1", key, "<check>"),
                 ReadIniFrom(kEnglish, "Form1", key, "<english>"));
    // Texts composed by the program stay French.
    QCOMPARE(form.ListView1->headerItem()->text(0), QString("Nom de la page"));

    form.languages().ApplyLanguageFile(builtIn());
    QCOMPARE(windowTexts(form), frenchTexts);
}

void TestLanguageFiles::partialFileLeavesTheOtherTexts()
{
    Form1 &form = m_window->start();
    auto expected = windowTexts(form);
    writeBytes(m_window->path("Lang/Partiel.lng"), "[Form1]\r\nCheck7.Caption=Modifier\r\n");
    form.languages().ApplyLanguageFile(m_window->path("Lang/Partiel.lng"));
    expected["Check7.text"] = "Modifier";
    QCOMPARE(windowTexts(form), expected);
}

void TestLanguageFiles::emptyValueEmptiesTheText()
{
    Form1 &form = m_window->start();
    writeBytes(m_window->path("Lang/Vide.lng"),
               "[FORM1]\nvexlorcmd2.caption=\nFile1.ToolTipText=\nForm.Caption=\n");
    form.languages().ApplyLanguageFile(m_window->path("Lang/Vide.lng"));
    QCOMPARE(form.VexlorCmd2->text(), QString());
    QCOMPARE(form.File1->toolTip(), QString());
    QCOMPARE(form.windowTitle(), QString());
    QCOMPARE(form.VexlorCmd3->text(), QString("&Aide"));
}

void TestLanguageFiles::filesThatChangeNothing_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file at all; "folder": a folder
    QTest::newRow("missing file") << QByteArray();
    QTest::newRow("a folder") << QByteArray("folder");
    QTest::newRow("wrong section") << QByteArray("[Form2]\nCheck7.Caption=Autre\n");
    QTest::newRow("keys before any section") << QByteArray("Check7.Caption=Autre\n[Form1]\n");
    QTest::newRow("controls without caption or tip")
        << QByteArray("[Form1]\nListView1.Caption=X\nImage1.Caption=X\nText1.Caption=X\n"
                      "Timer1.Caption=X\nTimer1.ToolTipText=X\nCommonDialog1.Caption=X\n"
                      "kj.Caption=X\ncontex.ToolTipText=X\naffich.ToolTipText=X\n"
                      "Unknown.Caption=X\n");
    QTest::newRow("not text") << QByteArray("\x00\xff\xfe[\x80]\n=\x01", 9);
}

void TestLanguageFiles::filesThatChangeNothing()
{
    QFETCH(QByteArray, content);
    Form1 &form = m_window->start();
    const auto expected = windowTexts(form);
    const QString file = m_window->path("Lang/Autre.lng");
    if (content == "folder")
        QVERIFY(QDir().mkpath(file));
    else if (!content.isNull())
        writeBytes(file, content);
    form.languages().ApplyLanguageFile(file);
    QCOMPARE(windowTexts(form), expected);
    QCOMPARE(form.languages().LanguageFile(), file);
    QVERIFY(!form.Image1->pixmap().isNull());
    QVERIFY(form.kj->isSeparator());
}

void TestLanguageFiles::controlArrayMembersCarryTheirIndex()
{
    QWidget window;
    window.setObjectName("Form1");
    window.setWindowTitle("Essai");
    QPushButton first("Un", &window);
    QPushButton second("Deux", &window);
    for (QPushButton *button : {&first, &second})
        button->setObjectName("Option");
    first.setProperty("Index", 0);
    second.setProperty("Index", 1);
    second.setToolTip("Astuce");
    const LanguageWindow language{&window, {&first, &second}};
    const QString file = m_window->path("Lang/Tableau.lng");
    WriteLanguageFile(language, file);
    QCOMPARE(readBytes(file), QByteArray("[Form1]\nForm.Caption=Essai\nOption(0).Caption=Un\n"
                                         "Option(1).Caption=Deux\nOption(1).ToolTipText=Astuce\n"));
    writeBytes(file, "[Form1]\nOption(0).Caption=One\nOption(1).ToolTipText=Tip\n"
                     "Option.Caption=None\n");
    applyLanguageTexts(language, file);
    QCOMPARE(first.text(), QString("One"));
    QCOMPARE(second.text(), QString("Deux"));
    QCOMPARE(second.toolTip(), QString("Tip"));
}

void TestLanguageFiles::markupInATipShowsAsPlainCharacters()
{
    Form1 &form = m_window->start();
    const QString tip = "<b>Fermer</b> & <img src=\"x.png\"> les options";
    writeBytes(m_window->path("Lang/Balises.lng"),
               "[Form1]\nVexlorCmd6.ToolTipText=" + tip.toUtf8() + "\n");
    form.languages().ApplyLanguageFile(m_window->path("Lang/Balises.lng"));
    QCOMPARE(form.VexlorCmd6->toolTip(), tip);

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QHelpEvent event(QEvent::ToolTip, QPoint(4, 4), form.VexlorCmd6->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(form.VexlorCmd6, &event);
    QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 5000);
    QTextDocument shown;
    shown.setHtml(QToolTip::text());
    QCOMPARE(shown.toPlainText(), tip);
    QToolTip::hideText();
}

QTEST_MAIN(TestLanguageFiles)
#include "tst_languagefiles.moc"
