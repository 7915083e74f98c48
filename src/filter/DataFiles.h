#pragma once

#include <QString>

class QTreeWidget;

// The keyword file and the statistics file beside the executable, and the seven steps that
// read and write them. The keyword list holds one keyword per row; the statistics list holds
// the count as the row's text and the keyword in its second column. No list passes 32,767
// rows: records beyond that are not loaded.
namespace DataFiles {

inline constexpr int kMaxRows = 32767;

QString keywordFilePath(const QString &appFolder);
QString statisticsFolderPath(const QString &appFolder);
QString statisticsFilePath(const QString &appFolder);

// Why a step failed, as a French sentence that names the file.
struct Failure
{
    QString path;
    QString message;
};

// Each step returns true on success; on failure it fills *failure when given one.
bool LoadKeywordFile(const QString &appFolder, QTreeWidget *ListView3, Failure *failure = nullptr);
bool EnsureStatisticsFolder(const QString &appFolder, Failure *failure = nullptr);
bool CreateStatisticsFile(const QString &appFolder, const QTreeWidget *ListView3,
                          Failure *failure = nullptr);
bool LoadStatisticsFile(const QString &appFolder, QTreeWidget *ListView2,
                        Failure *failure = nullptr);
bool AppendStatisticsRecord(const QString &appFolder, const QString &keyword,
                            Failure *failure = nullptr);
bool SaveStatisticsFile(const QString &appFolder, const QTreeWidget *ListView2,
                        Failure *failure = nullptr);
bool SaveKeywordFile(const QString &appFolder, const QTreeWidget *ListView3,
                     Failure *failure = nullptr);

} // namespace DataFiles
