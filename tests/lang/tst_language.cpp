#include "lang/LanguageFile.h"
#include "settings/UserStore.h"
#include "support/TestFiles.h"
#include "support/TestWindow.h"
#include "support/WindowTexts.h"
#include "ui/FileListBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>
#include <QTreeWidget>

namespace {

QString undoText(QLineEdit *field)
{
    const std::unique_ptr<QMenu> menu(field->createStandardContextMenu());
    return menu->actions().value(0)->text();
}

} // namespace

class TestLanguage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startUpWritesTheBuiltInTextsOverHandEdits();
    void fileChangesOnlyTheTextsItHolds_data();
    void fileChangesOnlyTheTextsItHolds();
    void markupInATipOrCaptionShowsAsPlainCharacters();
    void fileIsReadOnceForAllItsTexts();
    void panelSwitchesWindowAndQtTextsToEnglishAndBackAcrossRestarts();

private:
    QString lang(const QString &name) const { return m_window->path("Lang/" + name); }
    QString storedChoice() const
    {
        return UserStore(m_window->folders.user).setting("FILES", "LNG", "<none>");
    }
    void choose(Form1 &form, const QString &name)
    {
        if (form.Check7->checkState() != Qt::Checked)
            form.Check7->click();
        form.File1->setCurrentItem(form.File1->findItems(name, Qt::MatchExactly).value(0));
        form.ButtonPlus5->click();
    }

    std::unique_ptr<TestWindow> m_window;
    QMap<QString, QString> m_frenchTexts;
};

void TestLanguage::init()
{
    m_window = std::make_unique<TestWindow>();
    QVERIFY(QFile::copy(VEXLOR_SOURCE_DIR "/data/Lang/English.lng", lang("English.lng")));
    m_frenchTexts = windowTexts(m_window->start(false));
}

void TestLanguage::cleanup()
{
    QVERIFY(m_window->dialogs.allAnswered());
    m_window.reset();
}

void TestLanguage::startUpWritesTheBuiltInTextsOverHandEdits()
{
    writeBytes(lang("Francais.lng"), "; traduit à la main\n[Form1]\nCheck7.Caption=Édité\n"
                                     "sb.Caption=Bonjour\nVexlorCmd6.Caption=Réduire\n");
    Form1 &form = m_window->start();
    // Check7 in place; no built-in text covers the next two keys, which stay.
    QVERIFY(readBytes(lang("Francais.lng"))
                .startsWith("; traduit à la main\n[Form1]\nCheck7.Caption=Changer\n"
                            "sb.Caption=Bonjour\nVexlorCmd6.Caption=Réduire\n"));
    // Francais.lng is the language of a first start, so the added keys show.
    QCOMPARE(form.languages().LanguageFile(), lang("Francais.lng"));
    QCOMPARE(form.sb->text() + form.VexlorCmd6->text(), QString("BonjourRéduire"));
}

void TestLanguage::fileChangesOnlyTheTextsItHolds_data()
{
    QTest::addColumn<QByteArray>("content");  // null: no file at all; "folder": a folder
    QTest::addColumn<QStringList>("changed"); // text, new value, text, new value...
    QTest::newRow("one key") << QByteArray("[Form1]\r\nCheck7.Caption=Modifier\r\n")
                             << QStringList{"Check7.text", "Modifier"};
    QTest::newRow("empty values, names in any case")
        << QByteArray("[FORM1]\nvexlorcmd2.caption=\nFile1.ToolTipText=\nForm.Caption=\n")
        << QStringList{"VexlorCmd2.text", "", "File1.toolTip", "", "Form1.windowTitle", ""};
    QTest::newRow("first section and first key of a name")
        << QByteArray(
               "[Form1]\nCheck7.Caption=Un\ncheck7.caption=Deux\n[Form1]\nLabel1.Caption=X\n")
        << QStringList{"Check7.text", "Un"};
    QTest::newRow("missing file") << QByteArray() << QStringList();
    QTest::newRow("a folder") << QByteArray("folder") << QStringList();
    QTest::newRow("wrong section") << QByteArray("[Form2]\nCheck7.Caption=X\n") << QStringList();
    QTest::newRow("controls without caption or tip")
        << QByteArray("[Form1]\nListView1.Caption=X\nImage1.Caption=X\nkj.Caption=X\n"
                      "Timer1.ToolTipText=X\ncontex.ToolTipText=X\nUnknown.Caption=X\n")
        << QStringList();
    QTest::newRow("not text") << QByteArray("\x00\xff\xfe[\x80]\n=\x01", 9) << QStringList();
    // Padded with a comment up to the largest size taken, and one byte over it.
    QByteArray large = "[Form1]\nCheck7.Caption=Grand\n;";
    large.append(kMaxLanguageFileSize - large.size(), 'x');
    QTest::newRow("1 MiB") << large << QStringList{"Check7.text", "Grand"};
    QTest::newRow("1 MiB and one byte, refused") << large.append('x') << QStringList();
}

void TestLanguage::fileChangesOnlyTheTextsItHolds()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, changed);
    Form1 &form = m_window->start();
    const QString file = lang("Autre.lng");
    if (content == "folder")
        QVERIFY(QDir().mkpath(file));
    else if (!content.isNull())
        writeBytes(file, content);
    form.languages().ApplyLanguageFile(file);
    auto expected = m_frenchTexts;
    for (qsizetype i = 0; i + 1 < changed.size(); i += 2)
        expected[changed[i]] = changed[i + 1];
    QCOMPARE(windowTexts(form), expected);
    const auto &shown = m_window->dialogs.m_shown;
    QCOMPARE(shown.size() == 1 && shown[0].text.contains("« Autre.lng » dépasse 1 Mo"),
             content.size() > kMaxLanguageFileSize);
    QVERIFY(!form.Image1->pixmap().isNull() && form.kj->isSeparator());
}

void TestLanguage::markupInATipOrCaptionShowsAsPlainCharacters()
{
    Form1 &form = m_window->start();
    const QString tip = "<b>Fermer</b> & <img src=\"x.png\"> les options";
    writeBytes(lang("Balises.lng"), "[Form1]\nVexlorCmd6.ToolTipText=" + tip.toUtf8() + "\n");
    form.languages().ApplyLanguageFile(lang("Balises.lng"));
    for (QLabel *label : form.findChildren<QLabel *>())
        QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
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

void TestLanguage::fileIsReadOnceForAllItsTexts()
{
    Form1 &form = m_window->start(false);
    int reads = 0;
    const auto reader = [&reads](const QString &) {
        ++reads;
        return LanguageFileContent{"[Form1]\nCheck7.Caption=Un\nFile1.ToolTipText=Deux\n"};
    };
    QVERIFY(applyLanguageTexts({&form, form.controls()}, lang("Un.lng"), reader));
    QCOMPARE(reads, 1);
    QCOMPARE(form.Check7->text() + form.File1->toolTip(), QString("UnDeux"));
}

void TestLanguage::panelSwitchesWindowAndQtTextsToEnglishAndBackAcrossRestarts()
{
    Form1 &first = m_window->start();
    QCOMPARE(first.File1->path(), m_window->path("Lang"));
    QVERIFY(undoText(first.Text1).startsWith("&Annuler"));
    // The list follows Check7, and OK does nothing while Check7 is unticked.
    first.show();
    QVERIFY(QTest::qWaitForWindowActive(&first));
    first.Check7->click();
    QVERIFY(first.File1->isEnabled());
    QCOMPARE(QApplication::focusWidget(), first.File1);
    first.File1->setCurrentRow(0);
    first.Check7->click();
    QVERIFY(!first.File1->isEnabled());
    first.ButtonPlus5->click();
    QCOMPARE(windowTexts(first), m_frenchTexts);
    QCOMPARE(storedChoice(), QString("<none>"));

    choose(first, "English.lng");
    QCOMPARE(first.windowTitle(), QString(" Vexlor Popup  2007  - Total protection"));
    QCOMPARE(storedChoice(), lang("English.lng"));
    QVERIFY(undoText(first.Text1).startsWith("&Undo"));
    // Texts composed by the program stay French.
    QCOMPARE(first.ListView1->headerItem()->text(0), QString("Nom de la page"));

    Form1 &second = m_window->start();
    QCOMPARE(second.VexlorCmd3->text(), QString("&Help"));
    QVERIFY(undoText(second.Text1).startsWith("&Undo"));
    choose(second, "Francais.lng");
    QCOMPARE(windowTexts(second), m_frenchTexts);
    QVERIFY(undoText(second.Text1).startsWith("&Annuler"));

    // OK with no file selected keeps the folder as the choice, which no later start applies.
    second.File1->clearSelection();
    second.ButtonPlus5->click();
    QCOMPARE(storedChoice(), lang(""));
    QCOMPARE(windowTexts(m_window->start()), m_frenchTexts);
}

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
