#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// Debian's Chromium ("chromium") or Firefox ("firefox") with a fresh profile of the test's own
// and nothing that reaches the network by itself, opening the addresses. It leads a process
// group of its own, ended as a whole when the object goes, and the kernel kills it when the
// test process dies first; its helpers and native hosts then lose their pipes and end too.
// prepare gets the browser's home folder before it starts; userJs goes to Firefox's profile.
// Chromium's profile is its default one in that home, where its per-user settings go too.
class BrowserProcess
{
public:
    enum Option
    {
        Windowed = 0,
        Headless = 1,
        RemoteDebugging = 2
    };
    BrowserProcess(const QString &kind, int options, const QStringList &addresses,
                   const QByteArray &userJs = {},
                   const std::function<void(const QString &home)> &prepare = {});
    ~BrowserProcess();
    BrowserProcess(const BrowserProcess &) = delete;
    BrowserProcess &operator=(const BrowserProcess &) = delete;

    static bool isInstalled(const QString &kind);
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 pid() const { return m_group; }
    QString profile() const { return m_profile; }
    // Ends the browser and every helper in its group at once, as a crash would.
    void kill();

    // "VEXLOR_BROWSER=<home>", which every process of this browser inherits.
    QByteArray marker() const { return "VEXLOR_BROWSER=" + QFile::encodeName(m_home.path()); }
    // The processes whose environment holds the entry, and whose executable has the given name
    // when there is one.
    static QList<qint64> processesWith(const QByteArray &entry, const QString &executable = {});

private:
    QTemporaryDir m_home;
    QString m_profile;
    QProcess m_process;
    qint64 m_group = 0;
};
