#pragma once

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A /proc-like tree in a temporary folder, with a scratch folder beside it for profiles and port
// files, written from lines that read like a test's story ("$S" stands for the scratch folder):
//   "<pid>[:<uid>][/<ppid>] <argument>..."  a process of that user (userId unless said), its
//                                   command line ("%20" for a blank within an argument), its
//                                   parent (1 unless said), started anew; with none, a kernel
//                                   thread
//   "execing <pid>"                 the process is between two programs: no command line
//   "file <path> <bytes>"           a file below the scratch folder
//   "link <pid> <name> <target>"    a link in a process's folder, such as cwd or fd/3
//   "listen [<hex address>:]<port> <pid>..."  a listening socket on 127.0.0.1 or the address
//                                   given, in net/tcp6 for an IPv6 one, held by those processes
//   "rm <path>"                      a file or folder of the tree goes
//   "newest <pid>"                  loadavg names the newest process the kernel made
//   "thread <tid> <pid>"            a thread of that process, with a folder of its own
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
        } else if (words[0] == "listen") {
            listen(words[1].contains(':') ? words[1] : "0100007F:" + words[1], words.mid(2));
        } else if (words[0] == "newest") {
            write(m_root.filePath(u"loadavg"_qs), "0.00 0.00 0.00 1/1 " + words[1] + '\n');
        } else if (words[0] == "thread") {
            QDir().mkpath(path);
            for (const char *name : {"cmdline", "stat"})
                QFile::copy(
                    m_root.filePath(QString::fromUtf8(words[2]) + u'/' + QLatin1String(name)),
                    path + u'/' + QLatin1String(name));
            write(path + u"/status"_qs,
                  "Tgid:\t" + words[2] + "\nUid:\t" + QByteArray::number(userId) + '\n');
        } else if (words[0] == "execing") {
            write(path + u"/cmdline"_qs, {});
        } else if (words[0] == "rm") {
            QFileInfo(path).isDir() ? QDir(path).removeRecursively() : QFile::remove(path);
        } else {
            const QByteArrayList process = words[0].split('/').first().split(':');
            const QByteArray parent = words[0].contains('/') ? words[0].split('/').last() : "1";
            const QString folder = m_root.filePath(QString::fromUtf8(process[0]));
            const QByteArray uid = process.value(1, QByteArray::number(userId));
            QDir().mkpath(folder + u"/fd"_qs);
            write(folder + u"/status"_qs, "Name:\tprocess\nTgid:\t" + process[0] + "\nUid:\t" +
                                              uid + '\t' + uid + "\t0\t0\n");
            // PF_KTHREAD among the flags, the sixth field after the state.
            const QByteArray flags = words.size() > 1 ? "0" : "2097152";
            write(folder + u"/stat"_qs, process[0] + " (a process) S " + parent +
                                            QByteArray(" 0").repeated(4) + ' ' + flags +
                                            QByteArray(" 0").repeated(12) + ' ' +
                                            QByteArray::number(++m_startTimes));
            QByteArrayList arguments = words.mid(1);
            for (QByteArray &argument : arguments)
                argument.replace("%20", " ");
            write(folder + u"/cmdline"_qs,
                  arguments.isEmpty() ? QByteArray() : arguments.join('\0') + '\0');
        }
    }

private:
    static void write(const QString &path, const QByteArray &bytes,
                      QIODevice::OpenMode mode = QIODevice::WriteOnly)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (file.open(mode))
            file.write(bytes);
    }

    // A line as the kernel writes it: number, local and remote address, state 0A (listening),
    // queues, timers, retransmissions, uid, timeout, inode.
    void listen(const QByteArray &local, const QByteArrayList &holders)
    {
        const qsizetype colon = local.indexOf(':');
        const QByteArray inode = QByteArray::number(++m_inodes);
        const QString table = m_root.filePath(colon == 32 ? u"net/tcp6"_qs : u"net/tcp"_qs);
        if (!QFile::exists(table))
            write(table, "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when "
                         "retrnsmt   uid  timeout inode\n");
        write(table,
              "   0: " + local.left(colon) + ':' +
                  QByteArray::number(local.mid(colon + 1).toUInt(), 16).toUpper() +
                  " 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 " +
                  inode + " 1 0000000000000000 100 0 0 10 0\n",
              QIODevice::Append);
        for (const QByteArray &pid : holders)
            apply("link " + pid + " fd/" + inode + " socket:[" + inode + ']');
    }

    QTemporaryDir m_root;
    QTemporaryDir m_scratch;
    int m_inodes = 40000;
    quint64 m_startTimes = 0;
};
