#include "app/StartUp.h"
#include "support/ListRows.h"
#include "support/RecordingOpener.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedBrowserSource.h"
#include "support/ScriptedDialogs.h"
#include "ui/Form1.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

class TestStartUp : public QObject
{
    Q_OBJECT

private slots:
    void firstStartInAnEmptyFolder();
    void keywordsAndStatisticsAreLoaded();
    void unusableStatisticsFolderLeavesTheListEmpty();

private:
    ScriptedBrowserSource m_source;
    RecordingSoundPlayer m_sound;
    RecordingOpener m_opener;
    ScriptedDialogs m_dialogs;
};

void TestStartUp::firstStartInAnEmptyFolder()
{
    QTemporaryDir dir;
    Form1 form({m_source, m_sound, m_dialogs, m_opener, dir.path()});
    runStartUp(form);
    QCOMPARE(form.Text1->text(), dir.path() + "/sound.wav");
    QVERIFY(QFileInfo(dir.filePath("stat/stat.txt")).isFile());
    QCOMPARE(QFileInfo(dir.filePath("stat/stat.txt")).size(), 0);
    QVERIFY(!QFile::exists(dir.filePath("mtrl.dll")));
    QCOMPARE(form.ListView3->topLevelItemCount(), 0);
    QCOMPARE(form.heightTwips(), 3810);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(form.pos().y(), qRound((screen.height() * 15 / 2.0f - 3810 / 2.0f) / 15));
}

void TestStartUp::keywordsAndStatisticsAreLoaded()
{
    QTemporaryDir dir;
    QFile keywords(dir.filePath("mtrl.dll"));
    QVERIFY(keywords.open(QIODevice::WriteOnly));
    keywords.write("\"A\"\r\n\"B\"\r\n\"C\"\r\n");
    keywords.close();
    Form1 form({m_source, m_sound, m_dialogs, m_opener, dir.path()});
    runStartUp(form);
    QCOMPARE(column(form.ListView3, 0), (QStringList{"C", "B", "A"}));
    QCOMPARE(column(form.ListView2, 0), (QStringList{"0", "0", "0"}));
    QCOMPARE(column(form.ListView2, 1), (QStringList{"C", "B", "A"}));
}

void TestStartUp::unusableStatisticsFolderLeavesTheListEmpty()
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath("stat"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QFile keywords(dir.filePath("mtrl.dll"));
    QVERIFY(keywords.open(QIODevice::WriteOnly));
    keywords.write("\"pub\"\r\n");
    keywords.close();
    Form1 form({m_source, m_sound, m_dialogs, m_opener, dir.path()});
    runStartUp(form);
    QCOMPARE(column(form.ListView3, 0), QStringList{"pub"});
    QCOMPARE(form.ListView2->topLevelItemCount(), 0);
    QCOMPARE(form.heightTwips(), 3810);
}

QTEST_MAIN(TestStartUp)
#include "tst_startup.moc"
