#include "ui/FileListBox.h"

#include <QDir>

FileListBox::FileListBox(const QString &pattern, QWidget *parent)
    : QListWidget(parent), m_pattern(pattern)
{}

bool FileListBox::setPath(const QString &path)
{
    return setPaths({path});
}

bool FileListBox::setPaths(const QStringList &paths)
{
    QStringList names;
    bool found = false;
    for (const QString &path : paths) {
        const QDir folder(path);
        if (!folder.exists())
            continue;
        if (!found)
            m_path = path;
        found = true;
        names += folder.entryList({m_pattern}, QDir::Files);
    }
    if (!found)
        return false;
    names.removeDuplicates();
    names.sort(Qt::CaseInsensitive);
    clear();
    addItems(names);
    return true;
}
