#include "support/BrowserProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <unistd.h>

BrowserProcess::BrowserProcess(const QString &program, const QStringList &arguments,
                               const QByteArray &userJs, const QMap<QString, QByteArray> &homeFiles)
{
    QDir(m_home.path()).mkpath(u"profile"_qs);
    for (auto file = homeFiles.begin(); file != homeFiles.end(); ++file) {
        QFile out(m_home.filePath(file.key()));
        QDir().mkpath(QFileInfo(out).absolutePath());
        if (out.open(QIODevice::WriteOnly))
            out.write(file.value());
    }
    if (!userJs.isEmpty()) {
        QFile file(profile() + u"/user.js"_qs);
        if (file.open(QIODevice::WriteOnly))
            file.write(userJs);
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"MOZ_HEADLESS"_qs);
    environment.insert(u"MOZ_CRASHREPORTER_DISABLE"_qs, u"1"_qs);
    environment.insert(u"HOME"_qs, m_home.path());
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setChildProcessModifier([] { ::setsid(); });
    QStringList all = arguments;
    all.replaceInStrings(u"@PROFILE@"_qs, profile());
    m_process.start(program, all);
    if (m_process.waitForStarted(30000))
        m_group = static_cast<pid_t>(m_process.processId());
}

BrowserProcess::~BrowserProcess()
{
    stop();
}

QString BrowserProcess::profile() const
{
    return m_home.filePath(u"profile"_qs);
}

void BrowserProcess::stop()
{
    if (m_group <= 0)
        return;
    ::kill(-m_group, SIGTERM);
    if (!m_process.waitForFinished(15000))
        m_process.kill();
    m_process.waitForFinished();
    // Helpers that outlive the browser itself are still in its process group.
    ::kill(-m_group, SIGKILL);
}

QStringList BrowserProcess::chromiumArguments()
{
    QStringList arguments = {
        u"--user-data-dir=@PROFILE@"_qs,
        u"--no-first-run"_qs,
        u"--no-default-browser-check"_qs,
        u"--disable-background-networking"_qs,
        u"--disable-component-update"_qs,
        u"--disable-sync"_qs,
        u"--disable-gpu"_qs,
        u"--disable-quic"_qs,
        u"--password-store=basic"_qs,
    };
    // Chromium's sandbox refuses to run as root.
    if (::geteuid() == 0)
        arguments.append(u"--no-sandbox"_qs);
    return arguments;
}

QStringList BrowserProcess::firefoxArguments()
{
    return {u"--no-remote"_qs, u"--profile"_qs, u"@PROFILE@"_qs};
}

QByteArray BrowserProcess::firefoxUserJs()
{
    // Keeps first-run and update pages from replacing ours, and lets a data: URL given on the
    // command line open as a page.
    return R"(
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("startup.homepage_welcome_url", "");
user_pref("startup.homepage_welcome_url.additional", "");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.enabled", false);
user_pref("browser.sessionstore.resume_from_crash", false);
user_pref("security.data_uri.block_toplevel_data_uri_navigations", false);
)";
}

QString titledPage(const QByteArray &title)
{
    return u"data:text/html;charset=utf-8,<title>"_qs +
           QString::fromLatin1(title.toPercentEncoding(" ")) + u"</title><p>Vexlor test page"_qs;
}
