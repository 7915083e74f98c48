#pragma once

#include <QByteArrayList>
#include <QString>
#include <QTemporaryDir>

#include <unistd.h>

// A /proc-like folder tree in a temporary folder: one folder per process with the files that
// discovery reads (status, cmdline) and the links it follows (exe, cwd, fd/*).
class FakeProcTree
{
public:
    FakeProcTree();

    QString root() const { return m_root.path(); }
    // A folder of its own for profiles, port files and the like.
    QString scratch(const QString &name) const;

    // Adds a process run by the user, with this command line.
    void addProcess(qint64 pid, const QByteArrayList &arguments, uint userId = ::getuid());
    void removeProcess(qint64 pid);
    // Writes raw bytes as the process's command line.
    void setCommandLine(qint64 pid, const QByteArray &bytes);
    void link(qint64 pid, const QString &name, const QString &target);

    static bool writeFile(const QString &path, const QByteArray &bytes);

private:
    QString folder(qint64 pid) const;

    QTemporaryDir m_root;
    QTemporaryDir m_scratch;
};
