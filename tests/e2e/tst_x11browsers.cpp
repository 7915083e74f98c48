#include "platform/linux/X11BrowserSource.h"
#include "support/X11TestDisplay.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace {

// A browser of our own: its profile lives in a temporary folder, and it runs in a session of
// its own so that it and every helper process it starts can be ended together. "@PROFILE@" in
// the arguments stands for the profile's folder, where userJs goes when there is one.
class Browser
{
public:
    Browser(const QString &program, const QStringList &arguments, const QByteArray &userJs)
    {
        QDir(m_home.path()).mkpath(u"profile"_qs);
        if (!userJs.isEmpty()) {
            QFile file(m_home.filePath(u"profile/user.js"_qs));
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
        all.replaceInStrings(u"@PROFILE@"_qs, m_home.filePath(u"profile"_qs));
        m_process.start(program, all);
        if (m_process.waitForStarted(30000))
            m_group = static_cast<pid_t>(m_process.processId());
    }
    ~Browser() { stop(); }

    Browser(const Browser &) = delete;
    Browser &operator=(const Browser &) = delete;

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

private:
    void stop()
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

    QTemporaryDir m_home;
    QProcess m_process;
    pid_t m_group = 0;
};

std::optional<WindowHandle> findPage(X11BrowserSource &source, const QString &pageName)
{
    for (const BrowserPage &page : source.walk()) {
        if (page.pageName == pageName)
            return page.handle;
    }
    return std::nullopt;
}

bool isListed(X11BrowserSource &source, const WindowHandle &handle)
{
    const QList<BrowserPage> pages = source.walk();
    return std::any_of(pages.cbegin(), pages.cend(),
                       [&](const BrowserPage &page) { return page.handle == handle; });
}

// A page whose title is the given text, which may hold UTF-8.
QString pageUrl(const QByteArray &title)
{
    return u"data:text/html;charset=utf-8,<title>"_qs +
           QString::fromLatin1(title.toPercentEncoding(" ")) + u"</title><p>Vexlor test page"_qs;
}

constexpr int startTimeoutMs = 90000;
constexpr int closeTimeoutMs = 60000;

} // namespace

class TestX11Browsers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void chromiumClosesTheRequestedWindowOnly();
    void firefoxClosesTheRequestedWindowOnly();

private:
    void closeOneOfTwo(const QString &program, const QStringList &arguments,
                       const QByteArray &userJs);

    std::unique_ptr<X11TestDisplay> m_keepDisplay;
};

void TestX11Browsers::initTestCase()
{
    m_keepDisplay = X11TestDisplay::connectSteadily(30000);
    QVERIFY2(m_keepDisplay->isConnected(), "these tests need an X display in $DISPLAY");
}

// Starts two instances of a browser, each on a page of its own, asks the first one's window
// to close, and waits for it and its process to go while the second stays.
void TestX11Browsers::closeOneOfTwo(const QString &program, const QStringList &arguments,
                                    const QByteArray &userJs)
{
    if (!QFileInfo(program).isExecutable())
        QSKIP(qPrintable(program + u" is not installed"_qs));

    const QByteArray closedTitle = "Vexlor closes this café";
    const QByteArray sparedTitle = "Vexlor spares this one";
    Browser closed(program, arguments + QStringList{pageUrl(closedTitle)}, userJs);
    Browser spared(program, arguments + QStringList{pageUrl(sparedTitle)}, userJs);

    X11BrowserSource source;
    std::optional<WindowHandle> target;
    QTRY_VERIFY_WITH_TIMEOUT((target = findPage(source, QString::fromUtf8(closedTitle))),
                             startTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(findPage(source, QString::fromUtf8(sparedTitle)).has_value(),
                             startTimeoutMs);

    source.requestClose(*target);
    QTRY_VERIFY_WITH_TIMEOUT(!isListed(source, *target) && !closed.isRunning(), closeTimeoutMs);
    QVERIFY(findPage(source, QString::fromUtf8(sparedTitle)).has_value());
    QVERIFY(spared.isRunning());
}

void TestX11Browsers::chromiumClosesTheRequestedWindowOnly()
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
    closeOneOfTwo(u"/usr/bin/chromium"_qs, arguments, {});
}

void TestX11Browsers::firefoxClosesTheRequestedWindowOnly()
{
    // Keeps first-run and update pages from replacing ours, and lets a data: URL given on the
    // command line open as a page.
    const QByteArray userJs = R"(
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
    closeOneOfTwo(u"/usr/bin/firefox-esr"_qs, {u"--no-remote"_qs, u"--profile"_qs, u"@PROFILE@"_qs},
                  userJs);
}

QTEST_GUILESS_MAIN(TestX11Browsers)
#include "tst_x11browsers.moc"
