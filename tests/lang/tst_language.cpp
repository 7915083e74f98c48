#include "lang/LanguageFile.h"
#include "support/TestFiles.h"
#include "support/TestWindow.h"
#include "support/WindowTexts.h"
#include "ui/FileListBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
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
    void fileChangesOnlyItsTextsAndIsRefusedOver1MiB_data();
    void fileChangesOnlyItsTextsAndIsRefusedOver1MiB();
    void fileIsReadOnceForAllItsTexts();
    void panelSwitchesWindowAndQtTextsToEnglishAndBackAcrossRestarts();

private:
    QString lang(const QString &name) const { return m_window->path("Lang/" + name); }
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

void TestLanguage::fileChangesOnlyItsTextsAndIsRefusedOver1MiB_data()
{
    QTest::addColumn<QByteArray>("content");  // null: no file at all; "folder": a folder
    QTest::addColumn<QStringList>("changed"); // text, new value, text, new value...
    QTest::newRow("one key") << QByteArray("[Form1]\r\nCheck7.Caption=Modifier\r\n")
                             << QStringList{"Check7.text", "Modifier"};
    QTest::newRow("empty values, names in any case")
        << QByteArray("[FORM1]\nvexlorcmd2.caption=\nFile1.ToolTipText=\nForm.Caption=\n")
        << QStringList{"VexlorCmd2.text", "", "File1.toolTip", "", "Form1.windowTitle", ""};
    QTest::newRow("missing file") << QByteArray() << QStringList();
    QTest::newRow("a folder") << QByteArray("folder") << QStringList();
    // Padded with a comment up to the largest size taken, and one byte over it.
    QByteArray large = "[Form1]\nCheck7.Caption=Grand\n;";
    large.append(kMaxLanguageFileSize - large.size(), 'x');
    QTest::newRow("1 MiB") << large << QStringList{"Check7.text", "Grand"};
    QTest::newRow("1 MiB and one byte, refused") << large.append('x') << QStringList();
}

void TestLanguage::fileChangesOnlyItsTextsAndIsRefusedOver1MiB()
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
    QVERIFY(undoText(first.Text1).startsWith("&Annuler"));
    choose(first, "English.lng");
    QCOMPARE(first.windowTitle(), QString(" Vexlor Popup  2007  - Total protection"));
    QVERIFY(undoText(first.Text1).startsWith("&Undo"));
    // Texts composed by the program stay French.
    QCOMPARE(first.ListView1->headerItem()->text(0), QString("Nom de la page"));

    Form1 &second = m_window->start();
    QCOMPARE(second.VexlorCmd3->text(), QString("&Help"));
    QVERIFY(undoText(second.Text1).startsWith("&Undo"));
    choose(second, "Francais.lng");
    QCOMPARE(windowTexts(second), m_frenchTexts);
    QVERIFY(undoText(second.Text1).startsWith("&Annuler"));
}

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
