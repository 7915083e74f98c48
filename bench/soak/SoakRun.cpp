// The program as it runs in the tray for days, squeezed into minutes: its real window, scan,
// commands and quit, over pages that come and go several times a second, while keywords are
// added and deleted through the real buttons. At the end the tray menu's "Quitter" saves, and
// the saved files are read back and compared with what the run produced.
//
// Usage: vexlor-soak <empty folder> <seconds> <report.json>
#include "ChurningSource.h"

#include "app/Program.h"
#include "filter/DataFiles.h"
#include "platform/Dialogs.h"
#include "platform/SoundPlayer.h"
#include "support/RecordingOpener.h"
#include "support/ScriptedTray.h"
#include "ui/Form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QQueue>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

namespace {

constexpr int kInitialKeywords = 30;

QString keywordText(int number)
{
    return u"kw%1z"_qs.arg(number, 5, 10, QChar(u'0'));
}

// Counts the sounds instead of playing them; a list of every one would itself grow all run.
class CountingSoundPlayer : public SoundPlayer
{
public:
    void playSync(const QString &) override { ++m_played; }
    qint64 m_played = 0;
};

// The dialogs of the run: the input box takes the next keyword of the driver; any message box
// is a failure the program reported, kept for the report.
class SoakDialogs : public Dialogs
{
public:
    QString inputBox(const QString &, const QString &) override
    {
        return m_answers.isEmpty() ? QString() : m_answers.dequeue();
    }
    void messageBox(const QString &text, const QString &, Icon) override { m_messages << text; }
    QString openFile(const QString &, const QString &fileName) override { return fileName; }

    QQueue<QString> m_answers;
    QStringList m_messages;
};

QStringList column(const QTreeWidget &list, int col)
{
    QStringList texts;
    for (int row = 0; row < list.topLevelItemCount(); ++row)
        texts << list.topLevelItem(row)->text(col);
    return texts;
}

// Reads the saved files back and lists every difference from what the run produced.
QStringList checkSavedFiles(const QString &folder, const QStringList &keywords,
                            const QHash<QString, qint64> &closes, const QStringList &everAdded)
{
    QStringList problems;
    QTreeWidget savedKeywords, savedStatistics;
    savedKeywords.setColumnCount(1);
    savedStatistics.setColumnCount(2);
    if (!DataFiles::LoadKeywordFile(folder, &savedKeywords))
        problems << u"the keyword file does not load"_qs;
    if (!DataFiles::LoadStatisticsFile(folder, &savedStatistics))
        problems << u"the statistics file does not load"_qs;

    QStringList saved = column(savedKeywords, 0);
    QStringList expected = keywords;
    saved.sort();
    expected.sort();
    if (saved != expected)
        problems << u"keywords saved %1, expected %2"_qs.arg(saved.size()).arg(expected.size());

    QHash<QString, qint64> counts;
    for (int row = 0; row < savedStatistics.topLevelItemCount(); ++row) {
        const QTreeWidgetItem *item = savedStatistics.topLevelItem(row);
        if (counts.contains(item->text(1).toLower()))
            problems << u"two statistics rows for %1"_qs.arg(item->text(1));
        counts[item->text(1).toLower()] = item->text(0).toLongLong();
    }
    for (const QString &keyword : everAdded)
        if (!counts.contains(keyword))
            problems << u"no statistics row for %1"_qs.arg(keyword);
    for (auto close = closes.cbegin(); close != closes.cend(); ++close)
        if (counts.value(close.key(), -1) != close.value())
            problems << u"%1 closed %2 times, saved count %3"_qs.arg(close.key())
                            .arg(close.value())
                            .arg(counts.value(close.key(), -1));
    return problems;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fputs("usage: vexlor-soak <empty folder> <seconds> <report.json>\n", stderr);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int seconds = QString::fromLocal8Bit(argv[2]).toInt();
    const QString reportPath = QString::fromLocal8Bit(argv[3]);
    QDir(folder).mkpath(u"app/stat"_qs);
    const QString appFolder = folder + u"/app"_qs;

    // The driver's own account of the keyword list, kept apart from the window's.
    QStringList keywords;
    QStringList everAdded;
    int nextKeyword = 0;
    {
        QFile file(appFolder + u"/mtrl.dll"_qs);
        if (!file.open(QIODevice::WriteOnly))
            return 2;
        for (; nextKeyword < kInitialKeywords; ++nextKeyword) {
            keywords << keywordText(nextKeyword);
            file.write("\"" + keywords.last().toUtf8() + "\"\r\n");
        }
    }

    ChurningSource source([&keywords] { return keywords; }, 20070101);
    CountingSoundPlayer sound;
    SoakDialogs dialogs;
    RecordingOpener opener;
    ScriptedTray tray;
    RecordingTaskList taskList;
    Form1 form({source,
                sound,
                dialogs,
                opener,
                appFolder,
                {folder + u"/etc-xdg"_qs, folder + u"/home-config"_qs}});
    int status = 1;
    QElapsedTimer clock;
    qint64 journalFullAfterMs = -1;
    QStringList problems;
    Program program(form, tray, taskList, dialogs, [&] {
        problems << dialogs.m_messages;
        problems << checkSavedFiles(appFolder, keywords, source.closesByKeyword(), everAdded);
        status = problems.isEmpty() ? 0 : 1;
        QCoreApplication::exit(status);
    });
    program.startUp();
    form.show();
    clock.start();

    // Keywords come and go through the buttons, as a parent edits the list.
    QTimer addTimer, deleteTimer, watchTimer;
    QObject::connect(&addTimer, &QTimer::timeout, [&] {
        const QString keyword = keywordText(nextKeyword++);
        dialogs.m_answers.enqueue(keyword);
        form.Command5->click();
        keywords << keyword;
        everAdded << keyword;
    });
    QObject::connect(&deleteTimer, &QTimer::timeout, [&] {
        const int rows = form.ListView3->topLevelItemCount();
        if (rows < 10)
            return;
        QTreeWidgetItem *item = form.ListView3->topLevelItem((nextKeyword * 7919) % rows);
        form.ListView3->clearSelection();
        item->setSelected(true);
        const QString keyword = item->text(0);
        form.Command8->click();
        keywords.removeOne(keyword);
    });
    QObject::connect(&watchTimer, &QTimer::timeout, [&] {
        if (journalFullAfterMs < 0 && form.ListView4->topLevelItemCount() >= kMaxRows)
            journalFullAfterMs = clock.elapsed();
    });
    addTimer.start(1500);
    deleteTimer.start(2300);
    watchTimer.start(1000);
    source.start(100, 50);
    QTimer::singleShot(seconds * 1000, &form, [&] {
        addTimer.stop();
        deleteTimer.stop();
        // The tray menu's last entry, as the user chooses it.
        form.quit->trigger();
    });

    QApplication::exec();

    qint64 closes = 0;
    for (const qint64 count : source.closesByKeyword())
        closes += count;
    const QJsonObject summary{
        {u"seconds"_qs, seconds},
        {u"pagesShown"_qs, source.pagesShown()},
        {u"closeRequests"_qs, source.closeRequests()},
        {u"closesCounted"_qs, closes},
        {u"soundsPlayed"_qs, sound.m_played},
        {u"keywordsAdded"_qs, everAdded.size()},
        {u"keywordsAtEnd"_qs, keywords.size()},
        {u"journalRows"_qs, form.ListView4->topLevelItemCount()},
        {u"journalFullAfterSeconds"_qs,
         journalFullAfterMs < 0 ? QJsonValue() : QJsonValue(journalFullAfterMs / 1000)},
        {u"problems"_qs, QJsonArray::fromStringList(problems)},
    };
    QFile report(reportPath);
    if (!report.open(QIODevice::WriteOnly))
        return 2;
    report.write(QJsonDocument(summary).toJson());
    return status;
}
