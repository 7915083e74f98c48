#include "support/ListRows.h"
#include "support/RecordingOpener.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedBrowserSource.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"
#include "ui/Form1.h"
#include "ui/HelpBoxes.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

void select(QTreeWidget *list, const QList<int> &rows)
{
    list->clearSelection();
    for (const int r : rows)
        list->topLevelItem(r)->setSelected(true);
}

const QString kAddPrompt = QStringLiteral("Mot ou partie de l'url a fermer automatiquement?");

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void addAppendsKeywordAndStatisticsRecord();
    void addKeepsTheRunsCounts();
    void cancelOrEmptyAnswerChangesNothing();
    void unstorableKeywordsAreRefused();
    void addRefusesAFullList();
    void addReportsAStatisticsFileItCannotWrite();
    void modifyAndDeleteWorkOnTheLowestSelectedRow();
    void modifyAndDeleteWithoutSelectionDoNothing();
    void reopenRemovesTheKeywordAndTheJournalRow();
    void reopenWithEmptyAddressOpensNothing();
    void helpAndAboutBoxesHaveTheirExactTexts();
    void webSiteButtonOpensTheSite();

private:
    QTemporaryDir *m_dir = nullptr;
    ScriptedBrowserSource m_source;
    RecordingSoundPlayer m_sound;
    ScriptedDialogs *m_dialogs = nullptr;
    RecordingOpener *m_opener = nullptr;
    Form1 *m_form = nullptr;
    QString statPath() const { return m_dir->filePath("stat/stat.txt"); }
};

void TestCommands::init()
{
    m_dir = new QTemporaryDir;
    QVERIFY(QDir(m_dir->path()).mkdir("stat"));
    m_dialogs = new ScriptedDialogs;
    m_opener = new RecordingOpener;
    m_form = new Form1({m_source, m_sound, *m_dialogs, *m_opener, m_dir->path()});
    m_form->Timer1->stop();
}

void TestCommands::cleanup()
{
    QVERIFY(m_dialogs->allAnswered());
    delete m_form;
    delete m_opener;
    delete m_dialogs;
    delete m_dir;
}

void TestCommands::addAppendsKeywordAndStatisticsRecord()
{
    setRows(m_form->ListView3, {{"pub"}});
    m_form->setWindowTitle("Titre traduit");
    for (const QString &answer : {QString("PuB"), QString(" "), QString("pub")})
        m_dialogs->answer(answer);
    for (int i = 0; i < 3; ++i)
        m_form->Command5->click();

    QCOMPARE(m_dialogs->m_shown.size(), 3);
    QCOMPARE(m_dialogs->m_shown[0].text, kAddPrompt);
    QCOMPARE(m_dialogs->m_shown[0].title, QString("Titre traduit"));
    // Stored exactly as typed, blanks and duplicates included, at the end of the list.
    QCOMPARE(column(m_form->ListView3, 0), (QStringList{"pub", "PuB", " ", "pub"}));
    QCOMPARE(readAll(statPath()), QByteArray("\"PuB\",\"0\"\r\n\" \",\"0\"\r\n\"pub\",\"0\"\r\n"));
    QCOMPARE(column(m_form->ListView2, 1), (QStringList{"PuB", " ", "pub"}));
    QCOMPARE(column(m_form->ListView2, 0), (QStringList{"0", "0", "0"}));
}

void TestCommands::addKeepsTheRunsCounts()
{
    QFile file(statPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\"a\",\"1\"\r\n\"b\",\"2\"\r\n\"c\",\"3\"\r\n");
    file.close();
    setRows(m_form->ListView3, {{"a"}, {"b"}, {"c"}});
    // The counts as the scan left them in this run.
    setRows(m_form->ListView2, {{"5", "a"}, {"2", "b"}, {"40000", "c"}});
    m_dialogs->answer("d");
    m_form->Command5->click();
    QCOMPARE(column(m_form->ListView2, 0), (QStringList{"5", "2", "40000", "0"}));
    QCOMPARE(column(m_form->ListView2, 1), (QStringList{"a", "b", "c", "d"}));
    QVERIFY(readAll(statPath()).endsWith("\"c\",\"3\"\r\n\"d\",\"0\"\r\n"));
}

void TestCommands::cancelOrEmptyAnswerChangesNothing()
{
    setRows(m_form->ListView3, {{"pub"}});
    select(m_form->ListView3, {0});
    m_dialogs->answer(std::nullopt);
    m_form->Command5->click();
    m_dialogs->answer(QString());
    m_form->Command7->click();
    QCOMPARE(m_dialogs->m_shown.size(), 2);
    QCOMPARE(m_dialogs->m_shown[1].text, QString("Modification de pub"));
    QCOMPARE(column(m_form->ListView3, 0), QStringList{"pub"});
    QCOMPARE(m_form->ListView2->topLevelItemCount(), 0);
    QVERIFY(!QFile::exists(statPath()));
}

void TestCommands::unstorableKeywordsAreRefused()
{
    setRows(m_form->ListView3, {{"pub"}});
    select(m_form->ListView3, {0});
    for (const QString &bad : {QString("say \"hi\""), QString("two\nlines"), QString("cr\r")}) {
        m_dialogs->answer(bad);
        m_form->Command5->click();
        m_dialogs->answer(bad);
        m_form->Command7->click();
    }
    QCOMPARE(column(m_form->ListView3, 0), QStringList{"pub"});
    QVERIFY(!QFile::exists(statPath()));
    int messages = 0;
    for (const auto &shown : m_dialogs->m_shown) {
        if (shown.kind == "message") {
            ++messages;
            QVERIFY(shown.text.contains("guillemet"));
            QCOMPARE(shown.icon, Dialogs::Icon::Warning);
        }
    }
    QCOMPARE(messages, 6);
}

void TestCommands::addRefusesAFullList()
{
    QList<QTreeWidgetItem *> rows;
    for (int i = 0; i < 32767; ++i)
        rows.append(new QTreeWidgetItem(QStringList{QString::number(i)}));
    m_form->ListView3->addTopLevelItems(rows);
    m_dialogs->answer("one too many");
    m_form->Command5->click();
    QCOMPARE(m_form->ListView3->topLevelItemCount(), 32767);
    QCOMPARE(m_dialogs->m_shown.last().kind, QString("message"));
    QVERIFY(m_dialogs->m_shown.last().text.contains("32 767"));
    QVERIFY(!QFile::exists(statPath()));
}

void TestCommands::addReportsAStatisticsFileItCannotWrite()
{
    // A folder where the statistics file should be cannot be appended to, even by root.
    QVERIFY(QDir(m_dir->path()).mkdir("stat/stat.txt"));
    m_dialogs->answer("pub");
    m_form->Command5->click();
    QCOMPARE(column(m_form->ListView3, 0), QStringList{"pub"});
    QCOMPARE(m_form->ListView2->topLevelItemCount(), 0);
    QCOMPARE(m_dialogs->m_shown.last().kind, QString("message"));
    QVERIFY(m_dialogs->m_shown.last().text.contains("stat.txt"));

    // A missing statistics folder: the same message, nothing half-done.
    QVERIFY(QDir(m_dir->path()).removeRecursively());
    m_dialogs->answer("ads");
    m_form->Command5->click();
    QCOMPARE(column(m_form->ListView3, 0), (QStringList{"pub", "ads"}));
    QCOMPARE(m_form->ListView2->topLevelItemCount(), 0);
    QVERIFY(m_dialogs->m_shown.last().text.contains("stat.txt"));
}

void TestCommands::modifyAndDeleteWorkOnTheLowestSelectedRow()
{
    setRows(m_form->ListView3, {{"a"}, {"b"}, {"c"}, {"d"}});
    setRows(m_form->ListView2, {{"3", "b"}});
    select(m_form->ListView3, {3, 1});
    m_dialogs->answer("B2");
    m_form->Command7->click();
    QCOMPARE(m_dialogs->m_shown.last().text, QString("Modification de b"));
    QCOMPARE(column(m_form->ListView3, 0), (QStringList{"a", "B2", "c", "d"}));
    // The statistics row of the old keyword stays as it was; none is made for the new one.
    QCOMPARE(column(m_form->ListView2, 1), QStringList{"b"});

    select(m_form->ListView3, {2});
    m_form->Command8->click();
    QCOMPARE(column(m_form->ListView3, 0), (QStringList{"a", "B2", "d"}));
    QCOMPARE(m_form->ListView2->topLevelItemCount(), 1);
    QVERIFY(!QFile::exists(statPath()));
}

void TestCommands::modifyAndDeleteWithoutSelectionDoNothing()
{
    m_form->Command7->click();
    m_form->Command8->click();
    setRows(m_form->ListView3, {{"a"}});
    m_form->Command7->click();
    m_form->Command8->click();
    QVERIFY(m_dialogs->m_shown.isEmpty());
    QCOMPARE(column(m_form->ListView3, 0), QStringList{"a"});
}

void TestCommands::reopenRemovesTheKeywordAndTheJournalRow()
{
    setRows(m_form->ListView3, {{"pubs"}, {"pub"}, {"PUB"}});
    setRows(m_form->ListView2, {{"4", "pub"}});
    const QString address = "http://x.example/a b;rm -rf ~ \"quoted\"";
    setRows(m_form->ListView4, {{"10:00:00", "ads", "http://ads.example/"},
                                {"10:00:01", "Pub", address},
                                {"10:00:02", "pub", "http://second.example/"}});
    select(m_form->ListView4, {2, 1});
    m_form->Command1->click();
    // First selected row; first keyword equal as a whole, ignoring case.
    QCOMPARE(column(m_form->ListView3, 0), (QStringList{"pubs", "PUB"}));
    QCOMPARE(m_opener->m_opened, QStringList{address});
    QCOMPARE(column(m_form->ListView4, 2),
             (QStringList{"http://ads.example/", "http://second.example/"}));
    QCOMPARE(column(m_form->ListView2, 0), QStringList{"4"});

    select(m_form->ListView4, {1});
    m_form->Command1->click();
    QCOMPARE(column(m_form->ListView3, 0), QStringList{"pubs"});
    // The keyword is gone already: the page still reopens and the row still goes.
    select(m_form->ListView4, {0});
    m_form->Command1->click();
    QCOMPARE(column(m_form->ListView3, 0), QStringList{"pubs"});
    QCOMPARE(m_opener->m_opened.size(), 3);
    QCOMPARE(m_form->ListView4->topLevelItemCount(), 0);

    // Nothing selected, nothing done.
    m_form->Command1->click();
    QCOMPARE(m_opener->m_opened.size(), 3);
}

void TestCommands::reopenWithEmptyAddressOpensNothing()
{
    setRows(m_form->ListView3, {{"pub"}});
    setRows(m_form->ListView4, {{"10:00:00", "pub", ""}});
    select(m_form->ListView4, {0});
    m_form->Command1->click();
    QVERIFY(m_opener->m_opened.isEmpty());
    QCOMPARE(m_form->ListView3->topLevelItemCount(), 0);
    QCOMPARE(m_form->ListView4->topLevelItemCount(), 0);
}

void TestCommands::helpAndAboutBoxesHaveTheirExactTexts()
{
    m_form->setWindowTitle("Caption from a language file");
    m_form->VexlorCmd3->click();
    m_form->VexlorCmd4->click();
    QCOMPARE(m_dialogs->m_shown.size(), 2);
    const auto help = m_dialogs->m_shown[0];
    const auto about = m_dialogs->m_shown[1];
    QCOMPARE(help.title, QString("Aide de Vexlor Popup 2.0"));
    QCOMPARE(help.icon, Dialogs::Icon::Question);
    QCOMPARE(about.title, QString("A Propos de Vexlor Popup 2007"));
    QCOMPARE(about.icon, Dialogs::Icon::Information);

    QVERIFY(!help.text.contains('\n') && !about.text.contains('\n'));
    QCOMPARE(help.text.count('\r'), 18);
    QCOMPARE(about.text.count('\r'), 11);
    const QStringList helpLines = help.text.split('\r');
    const QStringList aboutLines = about.text.split('\r');
    QCOMPARE(helpLines[0], QString(" L'utilisation de Vexlor Popup est très simple et facile mais "
                                   "aussi fiable."));
    QVERIFY(helpLines[1].isEmpty() && helpLines[8].isEmpty());
    QCOMPARE(helpLines[7], QString("toujours."));
    QCOMPARE(helpLines[15], QString(54, '_'));
    QCOMPARE(helpLines[16],
             QString("Si vous avez des questions ou des remarques rendez vous sur :"));
    QCOMPARE(helpLines[17], HelpBoxes::kWebSite);
    QVERIFY(aboutLines[0].isEmpty() && aboutLines[4].isEmpty());
    QVERIFY(aboutLines[1].startsWith("   C'est un freeware"));
    QCOMPARE(aboutLines[5], " Developpeur: " + HelpBoxes::kDeveloper);
    QCOMPARE(aboutLines[8], QString(51, '_'));
    QCOMPARE(aboutLines[10], HelpBoxes::kWebSite);
    QVERIFY(HelpBoxes::kWebSite.contains(".example/"));
}

void TestCommands::webSiteButtonOpensTheSite()
{
    m_form->VexlorCmd1->click();
    QCOMPARE(m_opener->m_opened, QStringList{"https://vexlor-popup.example/"});
    QVERIFY(m_dialogs->m_shown.isEmpty());
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
