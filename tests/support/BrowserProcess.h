#pragma once

#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <sys/prctl.h>
#include <unistd.h>

// Debian's Chromium ("chromium") or Firefox ("firefox") with a fresh profile of the test's own
// and nothing that reaches the network by itself, opening the addresses. It leads a process
// group of its own, ended as a whole when the object goes, and the kernel kills it when the
// test process dies first; its helpers and native hosts then lose their pipes and end too.
// prepare gets the browser's home folder, where Chromium's profile is its default one.
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
                   const std::function<void(const QString &home)> &prepare = {})
        : m_profile(m_home.filePath(kind == u"chromium" ? u".config/chromium"_qs : u"profile"_qs))
    {
        // Keeps first-run and update pages from replacing ours, lets a data: URL given on the
        // command line open as a page, lets pages open popups, and takes an unsigned add-on
        // dropped into the profile.
        writeAll(m_profile + u"/user.js"_qs,
                 R"(user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("startup.homepage_welcome_url", "");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("security.data_uri.block_toplevel_data_uri_navigations", false);
user_pref("dom.disable_open_during_load", false);
user_pref("xpinstall.signatures.required", false);
user_pref("extensions.autoDisableScopes", 0);
user_pref("extensions.enabledScopes", 15);
)");
        if (prepare)
            prepare(m_home.path());
        const bool chromium = kind == u"chromium";
        QStringList arguments = {u"--no-remote"_qs, u"--profile"_qs, m_profile};
        if (chromium)
            arguments =
                u"--no-first-run --no-default-browser-check --disable-background-networking "
                "--disable-component-update --disable-sync --disable-gpu --disable-quic "
                "--disable-dev-shm-usage --password-store=basic --disable-popup-blocking "
                "--disable-features=DisableLoadExtensionCommandLineSwitch"_qs.split(u' ') +
                QStringList{u"--user-data-dir="_qs + m_profile};
        if (options & Headless)
            arguments.append(chromium ? u"--headless=new"_qs : u"--headless"_qs);
        if (options & RemoteDebugging)
            arguments.append(u"--remote-debugging-port=0"_qs);
        // Chromium's sandbox refuses to run as root.
        if (chromium && ::geteuid() == 0)
            arguments.append(u"--no-sandbox"_qs);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(u"MOZ_HEADLESS"_qs);
        environment.insert(u"HOME"_qs, m_home.path());
        environment.insert(u"VEXLOR_BROWSER"_qs, m_home.path());
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setChildProcessModifier([parent = ::getpid()] {
            ::setsid();
            // A parent that died before this line would never send the signal.
            if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
                ::_exit(127);
        });
        m_arguments = arguments;
        m_process.start(executable(kind), arguments + addresses);
        if (m_process.waitForStarted(30000))
            m_group = m_process.processId();
    }
    ~BrowserProcess()
    {
        if (m_group > 0)
            kill();
    }
    BrowserProcess(const BrowserProcess &) = delete;
    BrowserProcess &operator=(const BrowserProcess &) = delete;

    static QString executable(const QString &kind)
    {
        return kind == u"chromium" ? u"/usr/lib/chromium/chromium"_qs : u"/usr/bin/firefox-esr"_qs;
    }
    static bool isInstalled(const QString &kind)
    {
        return QFileInfo(executable(kind)).isExecutable();
    }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    // Starts the browser again on its profile, which hands the arguments over to this one.
    void open(const QStringList &arguments)
    {
        QProcess::execute(m_process.program(), m_arguments + arguments);
    }
    qint64 pid() const { return m_group; }
    QString profile() const { return m_profile; }
    // Ends the browser and every helper in its group at once, as a crash would: the profile is
    // thrown away, so nothing needs a clean exit.
    void kill()
    {
        ::kill(-pid_t(m_group), SIGKILL);
        m_process.waitForFinished();
    }

    // "VEXLOR_BROWSER=<home>", which every process of this browser inherits.
    QByteArray marker() const { return "VEXLOR_BROWSER=" + QFile::encodeName(m_home.path()); }
    // The processes whose environment holds the entry, and whose executable has the given name
    // when there is one.
    static QList<qint64> processesWith(const QByteArray &entry, const QString &executable = {})
    {
        QList<qint64> found;
        for (const QString &pid : QDir(u"/proc"_qs).entryList({u"[0-9]*"_qs}, QDir::Dirs)) {
            QFile variables(u"/proc/%1/environ"_qs.arg(pid));
            const QString exe = QFile::symLinkTarget(u"/proc/%1/exe"_qs.arg(pid));
            if (variables.open(QIODevice::ReadOnly) &&
                variables.readAll().split('\0').contains(entry) &&
                (executable.isEmpty() || QFileInfo(exe).fileName() == executable))
                found.append(pid.toLongLong());
        }
        return found;
    }

private:
    QTemporaryDir m_home;
    QString m_profile;
    QStringList m_arguments;
    QProcess m_process;
    qint64 m_group = 0;
};
