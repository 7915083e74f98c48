#include "filter/DataFiles.h"

#include "filter/RecordFormat.h"
#include "platform/AtomicFile.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTreeWidget>

namespace DataFiles {

namespace {

// The list's share of its file, kept on the list itself so that every command working on the
// list sees it.
constexpr char kBeyondProperty[] = "vexlorRecordsBeyond";
constexpr char kUnreadableProperty[] = "vexlorUnreadable";

QString reasonText(QFileDevice::FileError error)
{
    switch (error) {
    case QFileDevice::PermissionsError:
        return QStringLiteral("accès refusé");
    case QFileDevice::WriteError:
    case QFileDevice::ResourceError:
        return QStringLiteral("écriture impossible, le disque est peut-être plein");
    case QFileDevice::ReadError:
        return QStringLiteral("lecture impossible");
    case QFileDevice::RenameError:
        return QStringLiteral("l'ancien fichier n'a pas pu être remplacé");
    default:
        return QStringLiteral("ouverture impossible");
    }
}

bool fail(Failure *failure, const QString &path, const QString &what, const QString &reason)
{
    if (failure)
        *failure = {
            path,
            QStringLiteral("%1 « %2 » : %3.").arg(what, QDir::toNativeSeparators(path), reason)};
    return false;
}

bool readText(const QString &path, QString *text, Failure *failure)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(failure, path, QStringLiteral("Impossible de lire le fichier"),
                    reasonText(file.error()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(failure, path, QStringLiteral("Impossible de lire le fichier"),
                    reasonText(file.error()));
    *text = TextCodec::decode(bytes);
    return true;
}

// Writes the whole file through a temporary one, so a failed write leaves the old file whole.
bool writeWhole(const QString &path, const QByteArray &bytes, Failure *failure)
{
    QFileDevice::FileError error = QFileDevice::NoError;
    if (!writeAtomically(path, bytes, std::nullopt, &error))
        return fail(failure, path, QStringLiteral("Impossible d'enregistrer le fichier"),
                    reasonText(error));
    return true;
}

QByteArray recordsOf(const QTreeWidget *list, const std::function<QStringList(int)> &record)
{
    QByteArray bytes;
    const int count = list->topLevelItemCount();
    for (int r = 0; r < count; ++r)
        bytes += RecordFormat::writeRecord(record(r));
    return bytes;
}

// A list loaded from a file that could not be read is empty, not the file's content.
bool refuseUnread(const QTreeWidget *list, const QString &path, Failure *failure)
{
    if (!wasUnreadable(list))
        return false;
    fail(failure, path, QStringLiteral("Fichier non enregistré"),
         QStringLiteral("il n'a pas pu être lu au démarrage, il est laissé tel quel"));
    if (failure)
        failure->leftAlone = true;
    return true;
}

// A file that exists and cannot be read still holds the user's records: the list is marked so
// that no save replaces them with its empty rows.
bool readInto(const QString &path, QTreeWidget *list, QString *text, Failure *failure)
{
    if (readText(path, text, failure))
        return true;
    if (QFileInfo(path).isFile())
        list->setProperty(kUnreadableProperty, true);
    return false;
}

void keepRest(QTreeWidget *list, const RecordFormat::FieldReader &reader)
{
    if (!reader.atEnd())
        list->setProperty(kBeyondProperty, recordsBeyond(list) + reader.rest());
}

// The list's records, then those it could not take.
bool saveList(const QString &path, const QTreeWidget *list, QByteArray records, Failure *failure)
{
    if (refuseUnread(list, path, failure))
        return false;
    records += TextCodec::encode(recordsBeyond(list));
    return writeWhole(path, records, failure);
}

} // namespace

QString recordsBeyond(const QTreeWidget *list)
{
    return list->property(kBeyondProperty).toString();
}

void keepBeyond(QTreeWidget *list, const QStringList &record)
{
    QString records = recordsBeyond(list);
    // A hand-edited file may end without a line break; the record must not join the last one.
    if (!records.isEmpty() && !records.endsWith(u'\n') && !records.endsWith(u'\r'))
        records += QStringLiteral("\r\n");
    list->setProperty(kBeyondProperty, records + RecordFormat::recordText(record));
}

bool wasUnreadable(const QTreeWidget *list)
{
    return list->property(kUnreadableProperty).toBool();
}

QString keywordFilePath(const QString &appFolder)
{
    return appFolder + QStringLiteral("/mtrl.dll");
}

QString statisticsFolderPath(const QString &appFolder)
{
    return appFolder + QStringLiteral("/stat/");
}

QString statisticsFilePath(const QString &appFolder)
{
    return appFolder + QStringLiteral("/stat/stat.txt");
}

bool LoadKeywordFile(const QString &appFolder, QTreeWidget *ListView3, Failure *failure)
{
    const QString path = keywordFilePath(appFolder);
    if (!QFileInfo(path).isFile())
        return true;
    QString text;
    if (!readInto(path, ListView3, &text, failure))
        return false;

    // Each keyword read goes in front of those read before it, so the list shows the file
    // reversed.
    QList<QTreeWidgetItem *> items;
    const int room = kMaxRows - ListView3->topLevelItemCount();
    RecordFormat::FieldReader reader(text);
    for (reader.skipBlankLines(); !reader.atEnd() && items.size() < room; reader.skipBlankLines())
        items.prepend(new QTreeWidgetItem(QStringList{reader.readField()}));
    ListView3->insertTopLevelItems(0, items);
    keepRest(ListView3, reader);
    return true;
}

bool EnsureStatisticsFolder(const QString &appFolder, Failure *failure)
{
    const QString path = statisticsFolderPath(appFolder);
    if (QFileInfo(path).isDir())
        return true;
    if (!QDir(appFolder).mkdir(QStringLiteral("stat")))
        return fail(failure, path, QStringLiteral("Impossible de créer le dossier"),
                    QStringLiteral("création refusée"));
    return true;
}

bool CreateStatisticsFile(const QString &appFolder, const QTreeWidget *ListView3, Failure *failure)
{
    const QString path = statisticsFilePath(appFolder);
    if (QFileInfo(path).isFile())
        return true;
    const QByteArray bytes = recordsOf(ListView3, [&](int r) {
        return QStringList{ListView3->topLevelItem(r)->text(0), QStringLiteral("0")};
    });
    return writeWhole(path, bytes, failure);
}

bool LoadStatisticsFile(const QString &appFolder, QTreeWidget *ListView2, Failure *failure)
{
    QString text;
    if (!readInto(statisticsFilePath(appFolder), ListView2, &text, failure))
        return false;

    QList<QTreeWidgetItem *> items;
    const int room = kMaxRows - ListView2->topLevelItemCount();
    RecordFormat::FieldReader reader(text);
    for (reader.skipBlankLines(); !reader.atEnd() && items.size() < room; reader.skipBlankLines()) {
        const QString keyword = reader.readField();
        // A last record cut short after its keyword loads with the count 0.
        const QString counter = reader.readField();
        const QString count = RecordFormat::countText(RecordFormat::numericPrefix(counter));
        items.append(new QTreeWidgetItem(QStringList{count, keyword}));
    }
    ListView2->addTopLevelItems(items);
    keepRest(ListView2, reader);
    return true;
}

bool AppendStatisticsRecord(const QString &appFolder, const QString &keyword, Failure *failure)
{
    const QString path = statisticsFilePath(appFolder);
    QFile file(path);
    QByteArray bytes = RecordFormat::writeRecord({keyword, QStringLiteral("0")});
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append))
        return fail(failure, path, QStringLiteral("Impossible d'écrire dans le fichier"),
                    reasonText(file.error()));
    // A hand-edited file may end without a line break; the new record must not join its last
    // record, or the reader would drop it.
    if (file.size() > 0 && file.seek(file.size() - 1)) {
        const QByteArray last = file.read(1);
        if (last != "\n" && last != "\r")
            bytes.prepend("\r\n");
    }
    if (!file.seek(file.size()) || file.write(bytes) != bytes.size() || !file.flush())
        return fail(failure, path, QStringLiteral("Impossible d'écrire dans le fichier"),
                    reasonText(file.error()));
    return true;
}

bool SaveStatisticsFile(const QString &appFolder, const QTreeWidget *ListView2, Failure *failure)
{
    const QByteArray bytes = recordsOf(ListView2, [&](int r) {
        const QTreeWidgetItem *row = ListView2->topLevelItem(r);
        return QStringList{row->text(1), row->text(0)};
    });
    return saveList(statisticsFilePath(appFolder), ListView2, bytes, failure);
}

bool SaveKeywordFile(const QString &appFolder, const QTreeWidget *ListView3, Failure *failure)
{
    const QByteArray bytes = recordsOf(
        ListView3, [&](int r) { return QStringList{ListView3->topLevelItem(r)->text(0)}; });
    return saveList(keywordFilePath(appFolder), ListView3, bytes, failure);
}

} // namespace DataFiles
