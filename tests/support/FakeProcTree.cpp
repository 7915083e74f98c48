#include "support/FakeProcTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

FakeProcTree::FakeProcTree() = default;

QString FakeProcTree::scratch(const QString &name) const
{
    const QString path = m_scratch.filePath(name);
    QDir().mkpath(path);
    return path;
}

void FakeProcTree::addProcess(qint64 pid, const QByteArrayList &arguments, uint userId)
{
    QDir().mkpath(folder(pid) + u"/fd"_qs);
    const QByteArray uid = QByteArray::number(userId);
    writeFile(folder(pid) + u"/status"_qs,
              "Name:\tprocess\nUmask:\t0022\nState:\tS (sleeping)\nUid:\t" + uid + '\t' + uid +
                  '\t' + uid + '\t' + uid + "\nGid:\t0\t0\t0\t0\n");
    setCommandLine(pid, arguments.join('\0') + '\0');
}

void FakeProcTree::removeProcess(qint64 pid)
{
    QDir(folder(pid)).removeRecursively();
}

void FakeProcTree::setCommandLine(qint64 pid, const QByteArray &bytes)
{
    writeFile(folder(pid) + u"/cmdline"_qs, bytes);
}

void FakeProcTree::link(qint64 pid, const QString &name, const QString &target)
{
    const QString path = folder(pid) + u'/' + name;
    QDir().mkpath(QFileInfo(path).path());
    QFile::remove(path);
    QFile::link(target, path);
}

bool FakeProcTree::writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QString FakeProcTree::folder(qint64 pid) const
{
    return m_root.filePath(QString::number(pid));
}
