#include "settings/Ini.h"
#include "support/TestWindow.h"
#include "support/WindowTexts.h"
#include "ui/FileListBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QSettings>
#include <QTest>

namespace {

const QString kEnglish = QStringLiteral(VEXLOR_SOURCE_DIR "/data/Lang/English.lng");

QStringList items(const QListWidget *list)
{
    QStringList names;
    for (int row = 0; row < list->count(); ++row)
        names.append(list->item(row)->text());
    return names;
}

void select(QListWidget *list, const QString &name)
{
    const QList<QListWidgetItem *> found = list->findItems(name, Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    list->setCurrentItem(found.first());
}

} // namespace

class TestLanguagePanel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void listStartsDisabledAndFollowsCheck7();
    void okDoesNothingUnlessCheck7IsTicked();
    void switchingToEnglishAndBackSurvivesRestarts();
    void okWithNoFileSelectedStoresTheFolder();
    void storedFileThatIsGoneLeavesTheBuiltInTexts();

private:
    QString lang(const QString &name) const { return m_window->path("Lang/" + name); }
    QString storeFile() const { return m_window->folders.user + "/Vexlor Popup.conf"; }
    QString storedChoice() const
    {
        return QSettings(storeFile(), QSettings::IniFormat).value("FILES/LNG", "<none>").toString();
    }

    std::unique_ptr<TestWindow> m_window;
    QMap<QString, QString> m_frenchTexts;
};

void TestLanguagePanel::init()
{
    m_window = std::make_unique<TestWindow>();
    QVERIFY(QFile::copy(kEnglish, lang("English.lng")));
    QFile notes(lang("notes.txt"));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    m_frenchTexts = windowTexts(m_window->start(false));
}

void TestLanguagePanel::cleanup()
{
    m_window.reset();
}

void TestLanguagePanel::listStartsDisabledAndFollowsCheck7()
{
    Form1 &form = m_window->start();
    QCOMPARE(form.File1->path(), m_window->path("Lang"));
    QCOMPARE(items(form.File1), (QStringList{"English.lng", "Francais.lng"}));
    QVERIFY(!form.File1->isEnabled());
    QCOMPARE(form.Check7->checkState(), Qt::Unchecked);

    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.Check7->click();
    QVERIFY(form.File1->isEnabled());
    QCOMPARE(QApplication::focusWidget(), form.File1);
    form.Check7->click();
    QVERIFY(!form.File1->isEnabled());
}

void TestLanguagePanel::okDoesNothingUnlessCheck7IsTicked()
{
    Form1 &form = m_window->start();
    select(form.File1, "English.lng");
    form.ButtonPlus5->click();
    QCOMPARE(windowTexts(form), m_frenchTexts);
    QCOMPARE(form.languages().LanguageFile(), lang("Francais.lng"));
    QVERIFY(!QFile::exists(storeFile()));
}

void TestLanguagePanel::switchingToEnglishAndBackSurvivesRestarts()
{
    Form1 &first = m_window->start();
    first.Check7->click();
    select(first.File1, "English.lng");
    first.ButtonPlus5->click();
    QCOMPARE(first.VexlorCmd3->text(), QString("&Help"));
    QCOMPARE(first.languages().LanguageFile(), lang("English.lng"));
    QCOMPARE(storedChoice(), lang("English.lng"));
    // Check7 and the list keep their state.
    QCOMPARE(first.Check7->checkState(), Qt::Checked);
    QVERIFY(first.File1->isEnabled());

    Form1 &second = m_window->start();
    QCOMPARE(second.VexlorCmd3->text(), QString("&Help"));
    QCOMPARE(second.Check7->checkState(), Qt::Unchecked);
    // Francais.lng keeps the built-in texts, whatever language is shown.
    QCOMPARE(ReadIniFrom(lang("Francais.lng"), "Form1", "VexlorCmd3.Caption", "-"),
             QString("&Aide"));

    second.Check7->click();
    select(second.File1, "Francais.lng");
    second.ButtonPlus5->click();
    QCOMPARE(windowTexts(second), m_frenchTexts);
    QCOMPARE(storedChoice(), lang("Francais.lng"));
    QCOMPARE(windowTexts(m_window->start()), m_frenchTexts);
}

void TestLanguagePanel::okWithNoFileSelectedStoresTheFolder()
{
    Form1 &form = m_window->start();
    form.languages().ApplyLanguageFile(lang("English.lng"));
    const auto englishTexts = windowTexts(form);
    form.Check7->click();
    form.File1->clearSelection();
    form.ButtonPlus5->click();
    QCOMPARE(storedChoice(), m_window->path("Lang/"));
    QCOMPARE(form.languages().LanguageFile(), m_window->path("Lang/"));
    QCOMPARE(windowTexts(form), englishTexts);
    QCOMPARE(windowTexts(m_window->start()), m_frenchTexts);
}

void TestLanguagePanel::storedFileThatIsGoneLeavesTheBuiltInTexts()
{
    QSettings(storeFile(), QSettings::IniFormat).setValue("FILES/LNG", lang("Parti.lng"));
    Form1 &form = m_window->start();
    QCOMPARE(form.languages().LanguageFile(), lang("Parti.lng"));
    QCOMPARE(windowTexts(form), m_frenchTexts);
}

QTEST_MAIN(TestLanguagePanel)
#include "tst_languagepanel.moc"
