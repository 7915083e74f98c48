#include "support/BrowserProcess.h"

#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const QString chromium = u"/usr/lib/chromium/chromium"_qs;
const QString firefox = u"/usr/bin/firefox-esr"_qs;

// Keeps first-run and update pages from replacing ours, lets a data: URL given on the command
// line open as a page, and lets pages open popups.
constexpr const char *firefoxUserJs = R"(
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("startup.homepage_welcome_url", "");
user_pref("startup.homepage_welcome_url.additional", "");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.enabled", false);
user_pref("security.data_uri.block_toplevel_data_uri_navigations", false);
user_pref("dom.disable_open_during_load", false);
)";

} // namespace

BrowserProcess::BrowserProcess(const QString &kind, int options, const QStringList &addresses,
                               const QByteArray &userJs,
                               const std::function<void(const QString &home)> &prepare)
    : m_profile(m_home.filePath(kind == u"chromium" ? u".config/chromium"_qs : u"profile"_qs))
{
    QDir().mkpath(m_profile);
    QFile file(m_profile + u"/user.js"_qs);
    if (file.open(QIODevice::WriteOnly))
        file.write(firefoxUserJs + userJs);
    if (prepare)
        prepare(m_home.path());
    QStringList arguments = {u"--no-remote"_qs, u"--profile"_qs, profile()};
    if (options & Headless)
        arguments.append(u"--headless"_qs);
    if (options & RemoteDebugging)
        arguments += {u"--remote-debugging-port"_qs, u"0"_qs};
    if (kind == u"chromium") {
        arguments =
            u"--no-first-run --no-default-browser-check --disable-background-networking "
            "--disable-component-update --disable-sync --disable-gpu --disable-quic "
            "--disable-dev-shm-usage --password-store=basic --disable-popup-blocking"_qs.split(
                u' ');
        arguments.append(u"--user-data-dir="_qs + profile());
        if (options & Headless)
            arguments.append(u"--headless=new"_qs);
        if (options & RemoteDebugging)
            arguments.append(u"--remote-debugging-port=0"_qs);
        // Chromium's sandbox refuses to run as root.
        if (::geteuid() == 0)
            arguments.append(u"--no-sandbox"_qs);
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"MOZ_HEADLESS"_qs);
    environment.insert(u"MOZ_CRASHREPORTER_DISABLE"_qs, u"1"_qs);
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
    m_process.start(kind == u"chromium" ? chromium : firefox, arguments + addresses);
    if (m_process.waitForStarted(30000))
        m_group = m_process.processId();
}

BrowserProcess::~BrowserProcess()
{
    if (m_group <= 0)
        return;
    ::kill(-pid_t(m_group), SIGTERM);
    if (!m_process.waitForFinished(15000))
        m_process.kill();
    m_process.waitForFinished();
    // Helpers that outlive the browser itself are still in its process group.
    ::kill(-pid_t(m_group), SIGKILL);
}

bool BrowserProcess::isInstalled(const QString &kind)
{
    return QFileInfo(kind == u"chromium" ? chromium : firefox).isExecutable();
}

void BrowserProcess::kill()
{
    ::kill(-pid_t(m_group), SIGKILL);
    m_process.waitForFinished();
}

QList<qint64> BrowserProcess::processesWith(const QByteArray &entry, const QString &executable)
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
