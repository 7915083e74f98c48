#pragma once

#include "platform/Limits.h"
#include <QString>

class QTreeWidget;

// The keyword file and the statistics file beside the executable, and the seven steps that
// read and write them. The keyword list holds one keyword per row; the statistics list holds
// the count as the row's text and the keyword in its second column. No list passes 32,767
// rows: the records a list cannot take stay with it, as they were read, and are written back
// after its own, so a save never loses what the file held.
namespace DataFiles {

QString keywordFilePath(const QString &appFolder);
QString statisticsFolderPath(const QString &appFolder);
QString statisticsFilePath(const QString &appFolder);

// Why a step failed, as a French sentence that names the file.
struct Failure
{
    QString path;
    QString message;
    // The save was refused because the file could not be read when the list was loaded: the
    // file still holds the user's records, and the list, empty, must not replace them.
    bool leftAlone = false;
};

// What a list keeps of its file besides its rows, for as long as the list lives: the records
// it could not take, and whether the file could not be read at all.
QString recordsBeyond(const QTreeWidget *list);
// Adds one record after those the list could not take.
void keepBeyond(QTreeWidget *list, const QStringList &record);
bool wasUnreadable(const QTreeWidget *list);

// Each step returns true on success; on failure it fills *failure when given one. A load that
// cannot read an existing file marks the list, and the save steps never write over that file.
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
