#pragma once

#include <QListWidget>

// A list of the files of one folder whose names fit a pattern, such as "*.lng".
class FileListBox : public QListWidget
{
    Q_OBJECT
public:
    explicit FileListBox(const QString &pattern, QWidget *parent = nullptr);

    QString pattern() const { return m_pattern; }
    QString path() const { return m_path; }

    // Lists the folder's files; a folder that does not exist leaves the list as it was and
    // returns false.
    bool setPath(const QString &path);
    // Lists the files of every folder that exists, a name once; false when none exists.
    bool setPaths(const QStringList &paths);

private:
    QString m_pattern;
    QString m_path;
};
