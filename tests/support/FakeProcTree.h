#pragma once

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A /proc-like tree in a temporary folder, with a scratch folder beside it for profiles and port
// files, written from lines that read like a test's story ("$S" stands for the scratch folder):
//   "<pid>[:<uid>] <argument>..."  a process of that user (userId unless said), its command line
//   "file <path> <bytes>"           a file below the scratch folder
//   "link <pid> <name> <target>"    a link in a process's folder, such as cwd or fd/3
//   "rm <path>"                      a file or folder of the tree goes
class FakeProcTree
{
public:
    static constexpr uint userId = 1000;

    QString root() const { return m_root.path(); }

    void apply(QByteArray line)
    {
        line.replace("$S", QFile::encodeName(m_scratch.path()));
        const QByteArrayList words = line.split(' ');
        const QString path = m_root.path() + u'/' + QString::fromUtf8(words.value(1));
        if (words[0] == "file") {
            write(m_scratch.filePath(QString::fromUtf8(words[1])), line.mid(words[1].size() + 6));
        } else if (words[0] == "link") {
            const QString link = path + u'/' + QString::fromUtf8(words[2]);
            QDir().mkpath(QFileInfo(link).path());
            QFile::link(QString::fromUtf8(words[3]), link);
        } else if (words[0] == "rm") {
            QFileInfo(path).isDir() ? QDir(path).removeRecursively() : QFile::remove(path);
        } else {
            const QByteArrayList process = words[0].split(':');
            const QString folder = m_root.filePath(QString::fromUtf8(process[0]));
            const QByteArray uid = process.value(1, QByteArray::number(userId));
            QDir().mkpath(folder + u"/fd"_qs);
            write(folder + u"/status"_qs, "Name:\tprocess\nUid:\t" + uid + '\t' + uid + "\t0\t0\n");
            const QByteArrayList arguments = words.mid(1);
            write(folder + u"/cmdline"_qs,
                  arguments.isEmpty() ? QByteArray() : arguments.join('\0') + '\0');
        }
    }

private:
    static void write(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }

    QTemporaryDir m_root;
    QTemporaryDir m_scratch;
};
