#include "lang/LanguageFile.h"
#include "support/TestFiles.h"
#include "support/TestWindow.h"
#include "support/WindowTexts.h"
#include "ui/FileListBox.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

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
    void fileIsReadOnceChangesOnlyItsTextsAndIsRefusedOver1MiB_data();
    void fileIsReadOnceChangesOnlyItsTextsAndIsRefusedOver1MiB();
    void panelSwitchesWindowAndQtTextsToEnglishAndBackAcrossARestart();
    void theListIsLockedUntilCheck7IsTicked();
    void withoutLangFolderTheWindowStaysFrenchAndMakesNoFolder();

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

void TestLanguage::fileIsReadOnceChangesOnlyItsTextsAndIsRefusedOver1MiB_data()
{
    QTest::addColumn<QByteArray>("content");
    // Padded with a comment up to the largest size taken, and one byte over it.
    QByteArray large = "[Form1]\nCheck7.Caption=Grand\n;";
    large.append(kMaxLanguageFileSize - large.size(), 'x');
    QTest::newRow("1 MiB") << large;
    QTest::newRow("1 MiB and one byte, refused") << large.append('x');
}

void TestLanguage::fileIsReadOnceChangesOnlyItsTextsAndIsRefusedOver1MiB()
{
    QFETCH(QByteArray, content);
    const bool refused = content.size() > kMaxLanguageFileSize;
    Form1 &form = m_window->start();
    writeBytes(lang("Autre.lng"), content);
    int reads = 0;
    const auto reader = [&reads](const QString &file) {
        ++reads;
        return readLanguageFile(file);
    };
    QCOMPARE(applyLanguageTexts({&form, form.controls()}, lang("Autre.lng"), reader), !refused);
    QCOMPARE(reads, 1);
    form.languages().ApplyLanguageFile(lang("Autre.lng"));
    auto expected = m_frenchTexts;
    if (!refused)
        expected["Check7.text"] = "Grand";
    QCOMPARE(windowTexts(form), expected);
    const auto &shown = m_window->dialogs.m_shown;
    QCOMPARE(shown.size() == 1 && shown[0].text.contains("« Autre.lng » dépasse 1 Mo"), refused);
}

void TestLanguage::panelSwitchesWindowAndQtTextsToEnglishAndBackAcrossARestart()
{
    Form1 &first = m_window->start();
    QVERIFY(undoText(first.Text1).startsWith("&Annuler"));
    choose(first, "English.lng");
    QCOMPARE(first.VexlorCmd3->text(), QString("&Help"));
    QVERIFY(undoText(first.Text1).startsWith("&Undo"));
    // The choice is kept for the next run; the box that unlocks it is not.
    Form1 &second = m_window->start();
    QCOMPARE(second.VexlorCmd3->text(), QString("&Help"));
    QVERIFY(second.Check7->checkState() == Qt::Unchecked && !second.File1->isEnabled());
    choose(second, "Francais.lng");
    QCOMPARE(windowTexts(second), m_frenchTexts);
    QVERIFY(undoText(second.Text1).startsWith("&Annuler"));
}

void TestLanguage::theListIsLockedUntilCheck7IsTicked()
{
    Form1 &form = m_window->start();
    form.File1->setCurrentItem(form.File1->findItems("English.lng", Qt::MatchExactly).value(0));
    form.ButtonPlus5->click();
    QCOMPARE(windowTexts(form), m_frenchTexts);
    QVERIFY(!QFile::exists(m_window->folders.user + "/Vexlor Popup.conf"));
    for (const bool ticked : {false, true, false}) {
        QCOMPARE(form.File1->isEnabled(), ticked);
        form.Check7->click();
    }
}

void TestLanguage::withoutLangFolderTheWindowStaysFrenchAndMakesNoFolder()
{
    choose(m_window->start(), "English.lng");
    QVERIFY(QDir(m_window->path("Lang")).removeRecursively());
    Form1 &form = m_window->start();
    QCOMPARE(windowTexts(form), m_frenchTexts);
    QCOMPARE(form.File1->count(), 0);
    QVERIFY(!QFileInfo::exists(m_window->path("Lang")));
    QVERIFY(m_window->dialogs.m_shown.isEmpty());
}

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
