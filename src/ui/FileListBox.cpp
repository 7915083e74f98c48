#include "ui/FileListBox.h"

#include <QDir>

FileListBox::FileListBox(const QString &pattern, QWidget *parent)
    : QListWidget(parent), m_pattern(pattern)
{}

bool FileListBox::setPath(const QString &path)
{
    QDir folder(path);
    if (!folder.exists())
        return false;
    m_path = path;
    clear();
    addItems(folder.entryList({m_pattern}, QDir::Files, QDir::Name | QDir::IgnoreCase));
    return true;
}
