#include "FileBenchmarks.h"
#include "BenchData.h"
#include "BenchRegistry.h"

#include "app/QuitCommand.h"
#include "filter/DataFiles.h"
#include "filter/KeywordCommands.h"
#include "filter/RecordFormat.h"
#include "platform/TextCodec.h"
#include "support/ScriptedDialogs.h"
#include "support/TestWindow.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <memory>

namespace {

constexpr int kRows = kMaxRows;

const QStringList &blocklist()
{
    static const QStringList keywords = BenchData::keywordsMissing({}, kRows);
    return keywords;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Puts the keyword file and the statistics file of the blocklist in a program folder.
void writeBlocklist(const QString &folder)
{
    writeFile(DataFiles::keywordFilePath(folder), BenchData::keywordFile(blocklist()));
    writeFile(DataFiles::statisticsFilePath(folder), BenchData::statisticsFile(blocklist()));
}

struct DataLists
{
    DataLists()
    {
        ListView2.setColumnCount(2);
        ListView3.setColumnCount(1);
    }
    QTreeWidget ListView2, ListView3;
};

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? TextCodec::decode(file.readAll()) : QString();
}

// Start-up done the plain way: each keyword inserted at row 1, each statistics row added at the
// end, one at a time.
void literalLoad(const QString &folder, QTreeWidget &keywords, QTreeWidget &statistics)
{
    RecordFormat::FieldReader words(readText(DataFiles::keywordFilePath(folder)));
    for (words.skipBlankLines(); !words.atEnd(); words.skipBlankLines())
        keywords.insertTopLevelItem(0, new QTreeWidgetItem(QStringList{words.readField()}));
    RecordFormat::FieldReader records(readText(DataFiles::statisticsFilePath(folder)));
    for (records.skipBlankLines(); !records.atEnd(); records.skipBlankLines()) {
        const QString keyword = records.readField();
        const double count = RecordFormat::numericPrefix(records.readField());
        auto *row = new QTreeWidgetItem(QStringList{RecordFormat::countText(count)});
        statistics.insertTopLevelItem(statistics.topLevelItemCount(), row);
        row->setText(1, keyword);
    }
}

void load(benchmark::State &state, bool literal)
{
    QTemporaryDir folder;
    writeBlocklist(folder.path());
    std::unique_ptr<DataLists> lists;
    for (auto _ : state) {
        state.PauseTiming();
        lists = std::make_unique<DataLists>();
        state.ResumeTiming();
        if (literal) {
            literalLoad(folder.path(), lists->ListView3, lists->ListView2);
        } else {
            DataFiles::LoadKeywordFile(folder.path(), &lists->ListView3);
            DataFiles::LoadStatisticsFile(folder.path(), &lists->ListView2);
        }
        state.PauseTiming();
        if (lists->ListView3.topLevelItemCount() != kRows)
            state.SkipWithError("the keywords did not all load");
        lists.reset();
        state.ResumeTiming();
    }
}

// The program itself: the window built, started up with the blocklist and shown.
void startUpToWindowShown(benchmark::State &state)
{
    TestWindow window;
    writeBlocklist(window.appFolder());
    for (auto _ : state) {
        Form1 &form = window.start();
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            state.SkipWithError("the window was never shown");
        state.PauseTiming();
        if (form.ListView3->topLevelItemCount() != kRows)
            state.SkipWithError("the keywords did not all load");
        window.form.reset();
        state.ResumeTiming();
    }
}

// Quit done the plain way: each record written to the file as it is made.
void literalSave(const QString &path, const QTreeWidget &list, const QList<int> &columns)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    for (int r = 0; r < list.topLevelItemCount(); ++r) {
        QStringList values;
        for (const int c : columns)
            values.append(list.topLevelItem(r)->text(c));
        file.write(RecordFormat::writeRecord(values));
    }
}

// The quit command of the program, on a window started up with the blocklist in both lists.
void quit(benchmark::State &state)
{
    TestWindow window;
    writeBlocklist(window.appFolder());
    Form1 &form = window.start();
    QuitCommand command(form, window.dialogs, [] {});
    if (form.ListView2->topLevelItemCount() != kRows ||
        form.ListView3->topLevelItemCount() != kRows)
        state.SkipWithError("the lists are not full");
    for (auto _ : state)
        command.quit();
}

void literalQuit(benchmark::State &state)
{
    QTemporaryDir folder;
    writeBlocklist(folder.path());
    DataLists lists;
    DataFiles::LoadKeywordFile(folder.path(), &lists.ListView3);
    DataFiles::LoadStatisticsFile(folder.path(), &lists.ListView2);
    for (auto _ : state) {
        literalSave(DataFiles::statisticsFilePath(folder.path()), lists.ListView2, {1, 0});
        literalSave(DataFiles::keywordFilePath(folder.path()), lists.ListView3, {0});
    }
}

// Add done the plain way: the row appended, the record appended, then the whole statistics list
// removed and read back from the file row by row, each count as a 16-bit number.
void literalAdd(const QString &folder, const QString &answer, QTreeWidget &keywords,
                QTreeWidget &statistics)
{
    keywords.insertTopLevelItem(keywords.topLevelItemCount(),
                                new QTreeWidgetItem(QStringList{answer}));
    DataFiles::AppendStatisticsRecord(folder, answer);
    statistics.clear();
    RecordFormat::FieldReader records(readText(DataFiles::statisticsFilePath(folder)));
    while (!records.atEnd()) {
        const QString keyword = records.readField();
        const auto count = static_cast<qint16>(records.readField().toInt());
        auto *row = new QTreeWidgetItem(QStringList{QString::number(count)});
        statistics.insertTopLevelItem(statistics.topLevelItemCount(), row);
        row->setText(1, keyword);
    }
}

void add(benchmark::State &state, bool literal)
{
    QTemporaryDir folder;
    writeBlocklist(folder.path());
    DataLists lists;
    QWidget window;
    ScriptedDialogs dialogs;
    KeywordCommands commands(&lists.ListView2, &lists.ListView3, &window, dialogs, folder.path());
    DataFiles::LoadKeywordFile(folder.path(), &lists.ListView3);
    DataFiles::LoadStatisticsFile(folder.path(), &lists.ListView2);
    delete lists.ListView3.takeTopLevelItem(0);
    delete lists.ListView2.takeTopLevelItem(0);
    const QString statisticsPath = DataFiles::statisticsFilePath(folder.path());
    const qint64 statisticsSize = QFileInfo(statisticsPath).size();
    const QString answer = QStringLiteral("nouveau-mot-clef.com");

    for (auto _ : state) {
        if (literal) {
            literalAdd(folder.path(), answer, lists.ListView3, lists.ListView2);
        } else {
            dialogs.answer(answer);
            commands.add();
        }
        state.PauseTiming();
        if (lists.ListView3.topLevelItemCount() != kRows)
            state.SkipWithError("the keyword was not added");
        delete lists.ListView3.takeTopLevelItem(kRows - 1);
        delete lists.ListView2.takeTopLevelItem(lists.ListView2.topLevelItemCount() - 1);
        QFile::resize(statisticsPath, statisticsSize);
        state.ResumeTiming();
    }
}

} // namespace

void registerFileBenchmarks()
{
    using BenchRegistry::Weight;
    const std::string load32k = "loading of a 32,767-keyword file and its statistics";
    BenchRegistry::add("startup-load-32767", "ours", load32k,
                       [](benchmark::State &s) { load(s, false); });
    BenchRegistry::add(
        "startup-load-32767", "literal", load32k, [](benchmark::State &s) { load(s, true); },
        Weight::Heavy);
    BenchRegistry::add("startup-window-32767", "ours",
                       "start-up to the window shown, 32,767 keywords", &startUpToWindowShown,
                       Weight::Heavy, {1000, 0});
    const std::string quit32k = "quit: both files saved, 32,767 rows in each list";
    BenchRegistry::add("quit-32767", "ours", quit32k, &quit, Weight::Light, {200, 0});
    BenchRegistry::add("quit-32767", "literal", quit32k, &literalQuit);
    const std::string add32k = "Add, reaching 32,767 rows";
    BenchRegistry::add("add-32767", "ours", add32k, [](benchmark::State &s) { add(s, false); });
    BenchRegistry::add(
        "add-32767", "literal", add32k, [](benchmark::State &s) { add(s, true); }, Weight::Heavy);
}
