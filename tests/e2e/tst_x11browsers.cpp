#include "sources/x11/X11BrowserSource.h"
#include "support/BrowserProcess.h"
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
    BrowserProcess closed(program, arguments + QStringList{titledPage(closedTitle)}, userJs);
    BrowserProcess spared(program, arguments + QStringList{titledPage(sparedTitle)}, userJs);

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
    closeOneOfTwo(BrowserProcess::kChromium, BrowserProcess::chromiumArguments(), {});
}

void TestX11Browsers::firefoxClosesTheRequestedWindowOnly()
{
    closeOneOfTwo(BrowserProcess::kFirefox, BrowserProcess::firefoxArguments(),
                  BrowserProcess::firefoxUserJs());
}

QTEST_GUILESS_MAIN(TestX11Browsers)
#include "tst_x11browsers.moc"
