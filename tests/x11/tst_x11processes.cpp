#include "sources/x11/X11BrowserSource.h"
#include "support/X11TestDisplay.h"

#include <QTest>

namespace {

void setProcess(X11TestDisplay &display, xcb_window_t window, quint32 pid)
{
    xcb_change_property(display.connection(), XCB_PROP_MODE_REPLACE, window,
                        display.atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
}

// The windows among the given ones that one walk lists, in the walk's order.
QList<xcb_window_t> listedAmong(X11BrowserSource &source, const QList<xcb_window_t> &windows)
{
    QList<xcb_window_t> listed;
    for (const BrowserPage &page : source.walk()) {
        const xcb_window_t window = page.handle.id.toUInt();
        if (windows.contains(window))
            listed.append(window);
    }
    return listed;
}

} // namespace

// The windows of a browser process whose tabs another backend lists are left out of walks, and
// can still be closed together when that backend needs it.
class TestX11Processes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void windowsOfCoveredProcessesAreLeftOut();
    void closesEveryBrowserWindowOfOneProcess();

private:
    std::unique_ptr<X11TestDisplay> m_keepDisplay;
};

void TestX11Processes::initTestCase()
{
    m_keepDisplay = X11TestDisplay::connectSteadily(30000);
    QVERIFY2(m_keepDisplay->isConnected(), "these tests need an X display in $DISPLAY");
}

void TestX11Processes::windowsOfCoveredProcessesAreLeftOut()
{
    X11TestDisplay display;
    const xcb_window_t covered = display.createWindow("Navigator", "firefox-esr");
    const xcb_window_t otherProcess = display.createWindow("Navigator", "firefox-esr");
    const xcb_window_t noProcess = display.createWindow("chromium", "Chromium");
    const xcb_window_t alsoCovered = display.createWindow("chromium", "Chromium");
    setProcess(display, covered, 4100);
    setProcess(display, otherProcess, 4200);
    setProcess(display, alsoCovered, 4300);
    // A _NET_WM_PID of the wrong type says nothing about the process.
    display.setText(noProcess, "_NET_WM_PID", "STRING", "4100");
    display.sync();
    const QList<xcb_window_t> all = {covered, otherProcess, noProcess, alsoCovered};

    X11BrowserSource source;
    QCOMPARE(listedAmong(source, all), all);

    QList<qint64> coveredPids = {4100, 4300};
    source.setCoveredProcesses([&](qint64 pid) { return coveredPids.contains(pid); });
    QCOMPARE(listedAmong(source, all), (QList<xcb_window_t>{otherProcess, noProcess}));

    // Coverage is asked at every walk: a browser the other backend dropped shows again.
    coveredPids = {4300};
    QCOMPARE(listedAmong(source, all), (QList<xcb_window_t>{covered, otherProcess, noProcess}));
}

void TestX11Processes::closesEveryBrowserWindowOfOneProcess()
{
    X11TestDisplay display;
    const xcb_window_t first = display.createWindow("Navigator", "firefox-esr");
    const xcb_window_t other = display.createWindow("Navigator", "firefox-esr");
    const xcb_window_t notABrowser = display.createWindow("xterm", "XTerm");
    const xcb_window_t second = display.createWindow("Navigator", "firefox-esr");
    const xcb_window_t marker = display.createWindow("Navigator", "firefox-esr");
    setProcess(display, first, 5100);
    setProcess(display, other, 5200);
    setProcess(display, notABrowser, 5100);
    setProcess(display, second, 5100);
    setProcess(display, marker, 5300);
    display.sync();
    const xcb_atom_t protocols = display.atom("WM_PROTOCOLS");
    const xcb_atom_t deleteWindow = display.atom("WM_DELETE_WINDOW");

    X11BrowserSource source;
    // Closing goes to the process's windows whether walks list them or not.
    source.setCoveredProcesses([](qint64 pid) { return pid == 5100; });
    source.requestCloseProcessWindows(5100);
    source.requestCloseProcessWindows(5300);

    QList<xcb_window_t> asked;
    while (!asked.contains(marker)) {
        const auto message = display.waitForClientMessage(10000);
        QVERIFY(message.has_value());
        QCOMPARE(message->type, protocols);
        QCOMPARE(message->data0, deleteWindow);
        asked.append(message->window);
    }
    // The server delivers one client's requests in order: all that was sent before the marker
    // has arrived.
    QCOMPARE(asked, (QList<xcb_window_t>{first, second, marker}));
}

QTEST_GUILESS_MAIN(TestX11Processes)
#include "tst_x11processes.moc"
