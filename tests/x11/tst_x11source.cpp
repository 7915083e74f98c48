#include "sources/x11/X11BrowserSource.h"
#include "support/X11TestDisplay.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

namespace {

// The pages of one walk that belong to the given windows, in the walk's order; other clients
// of the display cannot disturb the test.
QList<BrowserPage> pagesAmong(X11BrowserSource &source, const QList<xcb_window_t> &windows)
{
    QList<BrowserPage> pages = source.walk();
    pages.removeIf(
        [&](const BrowserPage &page) { return !windows.contains(page.handle.id.toUInt()); });
    return pages;
}

QList<xcb_window_t> windowsOf(const QList<BrowserPage> &pages)
{
    QList<xcb_window_t> windows;
    for (const BrowserPage &page : pages)
        windows.append(page.handle.id.toUInt());
    return windows;
}

void setProcess(X11TestDisplay &display, xcb_window_t window, quint32 pid)
{
    xcb_change_property(display.connection(), XCB_PROP_MODE_REPLACE, window,
                        display.atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
}

// Each close request that the windows get next, up to the last one expected: the server
// delivers one client's requests in order, so a request to another window would come first.
void expectCloseRequests(X11TestDisplay &display, const QList<xcb_window_t> &windows)
{
    for (const xcb_window_t window : windows) {
        const auto message = display.waitForClientMessage(10000);
        QVERIFY(message.has_value());
        QCOMPARE(message->window, window);
        QCOMPARE(message->type, display.atom("WM_PROTOCOLS"));
        QCOMPARE(message->data0, display.atom("WM_DELETE_WINDOW"));
    }
}

// Starts Xvfb on the given display, or on a free one, and returns the display's name once the
// server takes connections; an empty name when it does not come up.
QString startServer(QProcess &server, const QString &display)
{
    QStringList arguments{u"-displayfd"_qs, u"1"_qs, u"-nolisten"_qs, u"tcp"_qs};
    if (!display.isEmpty())
        arguments.prepend(display);
    server.start(u"Xvfb"_qs, arguments);
    const QDeadlineTimer deadline(30000);
    while (!server.canReadLine() && server.state() != QProcess::NotRunning &&
           !deadline.hasExpired())
        server.waitForReadyRead(100);
    const QByteArray number = server.readLine().trimmed();
    return number.isEmpty() ? QString() : u":"_qs + QString::fromLatin1(number);
}

} // namespace

class TestX11Source : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listsShownWindowsOfKnownBrowsersOnly();
    void followsTheWindowManagersClientList();
    void walksAtMostTheWindowLimit();
    void decodesTitlesAndStripsTheBrowsersName_data();
    void decodesTitlesAndStripsTheBrowsersName();
    void asksOnlyThatWindowToCloseThoughAnotherIsGone();
    void coveredProcessesAreLeftOutYetClosedTogether();
    void unreachableDisplayYieldsNothing();
    void reconnectsAfterTheServerRestarts();

private:
    std::unique_ptr<X11TestDisplay> m_keepDisplay;
};

void TestX11Source::initTestCase()
{
    m_keepDisplay = X11TestDisplay::connectSteadily(30000);
    QVERIFY2(m_keepDisplay->isConnected(), "these tests need an X display in $DISPLAY");
}

void TestX11Source::listsShownWindowsOfKnownBrowsersOnly()
{
    X11TestDisplay display;
    // WM_CLASS as Debian's browsers and others set it; case does not matter.
    QList<xcb_window_t> browsers;
    for (const auto &[instance, className] :
         QList<std::pair<QByteArray, QByteArray>>{{"chromium (/tmp/profile)", "Chromium"},
                                                  {"Navigator", "firefox-esr"},
                                                  {"google-chrome-beta", "Google-chrome-beta"},
                                                  {"microsoft-edge-dev", "Microsoft-edge-dev"},
                                                  {"Navigator", "LibreWolf"},
                                                  {"org.gnome.Epiphany", "org.gnome.Epiphany"}})
        browsers.append(display.createWindow(instance, className));
    QList<xcb_window_t> all = browsers;
    for (const auto &[instance, className] :
         QList<std::pair<QByteArray, QByteArray>>{{"xterm", "XTerm"},
                                                  {"Navigator", "Navigator"},
                                                  {{}, {}},
                                                  {"chromium-helper", "Helper"},
                                                  {"(chromium)", "Other"},
                                                  {"firefox-esr-like", "Thing"}})
        all.append(display.createWindow(instance, className));
    all.append(display.createWindow("chromium", "Chromium", {.mapped = false}));
    all.append(display.createWindow("chromium", "Chromium", {.overrideRedirect = true}));

    X11BrowserSource source;
    const QList<BrowserPage> pages = pagesAmong(source, all);
    QCOMPARE(windowsOf(pages), browsers);
    QCOMPARE(pages.first().address, QString());
}

void TestX11Source::followsTheWindowManagersClientList()
{
    X11TestDisplay display;
    const xcb_window_t shown = display.createWindow("google-chrome", "Google-chrome");
    // An iconified window is unmapped, yet its page is open and the window manager lists it.
    const xcb_window_t iconified = display.createWindow("Navigator", "firefox", {.mapped = false});
    const xcb_window_t unmanaged = display.createWindow("chromium", "Chromium");
    const xcb_window_t terminal = display.createWindow("xterm", "XTerm");
    // A reparenting window manager keeps each client, which it marks with WM_STATE, in a frame.
    const xcb_window_t client = display.createWindow("chromium", "Chromium");
    display.setText(client, "_NET_WM_NAME", "UTF8_STRING", "Framed - Chromium");
    const quint32 normalState[] = {1, XCB_WINDOW_NONE};
    xcb_change_property(display.connection(), XCB_PROP_MODE_REPLACE, client,
                        display.atom("WM_STATE"), display.atom("WM_STATE"), 32, 2, normalState);
    xcb_reparent_window(display.connection(), client, display.createWindow({}, {}), 0, 0);
    const QList<xcb_window_t> ours = {shown, iconified, unmanaged, terminal, client};

    X11BrowserSource source;
    display.setClientList({iconified, terminal, shown});
    QCOMPARE(windowsOf(pagesAmong(source, ours)), (QList{iconified, shown}));
    // Without the list, the clients inside frames, and the windows outside any.
    display.removeClientList();
    const QList<BrowserPage> pages = pagesAmong(source, ours);
    QCOMPARE(windowsOf(pages), (QList{shown, unmanaged, client}));
    QCOMPARE(pages.last().pageName, u"Framed"_qs);
    source.requestClose(pages.last().handle);
    expectCloseRequests(display, {client});
}

void TestX11Source::walksAtMostTheWindowLimit()
{
    X11TestDisplay display;
    const xcb_window_t first = display.createWindow("chromium", "Chromium");
    const xcb_window_t beyond = display.createWindow("vivaldi-stable", "Vivaldi-stable");
    X11BrowserSource source;
    QList<xcb_window_t> list(kMaxRows, first);
    display.setClientList(list << beyond);
    const QList<BrowserPage> listed = source.walk();
    QCOMPARE(listed.size(), qsizetype(kMaxRows));
    QVERIFY(!windowsOf(listed).contains(beyond));

    // Without a window manager: new windows go on top, so the last child is past the limit.
    display.removeClientList();
    display.createBareWindows(kMaxRows);
    const xcb_window_t last = display.createWindow("vivaldi-stable", "Vivaldi-stable");
    const QList<xcb_window_t> windows = windowsOf(source.walk());
    QVERIFY(windows.contains(first) && !windows.contains(last));
}

// A UTF8_STRING title goes in _NET_WM_NAME, which wins over the WM_NAME beside it; a title of
// another type goes in WM_NAME alone. Caps, NUL and well-formed text are the x11title fuzzer's.
void TestX11Source::decodesTitlesAndStripsTheBrowsersName_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QString>("pageName");
    const auto row = [](const char *name, const char *type, const QByteArray &title,
                        const QString &pageName) {
        QTest::newRow(name) << QByteArray(type) << title << pageName;
    };
    row("utf-8", "UTF8_STRING", "Caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x98\x80 - Chromium",
        u"Café — 😀"_qs);
    row("latin-1", "STRING", "Gr\xfc\xdf\x65 - Chromium", u"Grüße"_qs);
    // firefox-esr's WM_NAME for "Café – ok — Mozilla Firefox".
    row("compound text with utf-8 runs", "COMPOUND_TEXT",
        "Caf\xe9 \x1b%G\xe2\x80\x93\x1b%@ ok \x1b%G\xe2\x80\x94\x1b%@ Mozilla Firefox",
        u"Café – ok"_qs);
    // As Debian's chromium 156 and firefox-esr 153, and other browsers, write them.
    row("blank tab", "UTF8_STRING", "Chromium", QString());
    row("right-to-left page", "UTF8_STRING",
        u"\u200E\u202Bعربي \u202Eabc - Chromium\u202C\u200E"_qs.toUtf8(), u"عربي \u202Eabc"_qs);
    row("qutebrowser loading", "UTF8_STRING", "[42%] Page - qutebrowser", u"Page"_qs);
    row("edge profile", "UTF8_STRING", "Report - Q3 - Personal - Microsoft\xe2\x80\x8b Edge",
        u"Report - Q3"_qs);
}

void TestX11Source::decodesTitlesAndStripsTheBrowsersName()
{
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, title);
    QFETCH(QString, pageName);
    X11TestDisplay display;
    const xcb_window_t window = display.createWindow("Navigator", "firefox-esr");
    const bool utf8 = type == "UTF8_STRING";
    if (utf8)
        display.setText(window, "_NET_WM_NAME", type, title);
    display.setText(window, "WM_NAME", utf8 ? QByteArray("STRING") : type,
                    utf8 ? QByteArray("Wrong - Chromium") : title);
    X11BrowserSource source;
    const QList<BrowserPage> pages = pagesAmong(source, {window});
    QCOMPARE(pages.size(), 1);
    QCOMPARE(pages[0].pageName, std::optional(pageName));
}

void TestX11Source::asksOnlyThatWindowToCloseThoughAnotherIsGone()
{
    X11TestDisplay display;
    const xcb_window_t gone = display.createWindow("falkon", "falkon");
    const xcb_window_t closed = display.createWindow("brave-browser", "Brave-browser");
    const xcb_window_t spared = display.createWindow("brave-browser", "Brave-browser");
    const xcb_window_t marker = display.createWindow("brave-browser", "Brave-browser");
    const QList<xcb_window_t> ours = {gone, closed, spared, marker};
    X11BrowserSource source;
    const QList<BrowserPage> pages = pagesAmong(source, ours);
    QCOMPARE(pages.size(), 4);

    display.destroyWindow(gone);
    for (int i = 0; i < 50; ++i)
        source.requestClose(pages[0].handle);
    for (const char *id : {"", "0", "not a window", "99999999999", "-1"})
        source.requestClose(WindowHandle{0, id});
    QCOMPARE(windowsOf(pagesAmong(source, ours)), (QList{closed, spared, marker}));
    source.requestClose(pages[1].handle);
    source.requestClose(pages[3].handle);
    expectCloseRequests(display, {closed, marker});
}

// The windows of a browser process whose tabs another backend lists are left out of walks, and
// are still closed together when that backend needs it.
void TestX11Source::coveredProcessesAreLeftOutYetClosedTogether()
{
    X11TestDisplay display;
    const xcb_window_t first = display.createWindow("Navigator", "firefox-esr");
    const xcb_window_t other = display.createWindow("Navigator", "firefox-esr");
    const xcb_window_t terminal = display.createWindow("xterm", "XTerm");
    const xcb_window_t unknown = display.createWindow("chromium", "Chromium");
    const xcb_window_t second = display.createWindow("Navigator", "firefox-esr");
    const xcb_window_t marker = display.createWindow("Navigator", "firefox-esr");
    for (const xcb_window_t window : {first, terminal, second})
        setProcess(display, window, 4100);
    setProcess(display, other, 4200);
    setProcess(display, marker, 4300);
    // A _NET_WM_PID of the wrong type says nothing about the process.
    display.setText(unknown, "_NET_WM_PID", "STRING", "4100");
    display.sync();
    const QList<xcb_window_t> all = {first, other, terminal, unknown, second, marker};

    X11BrowserSource source;
    QList<qint64> covered = {4100, 4300};
    source.setCoveredProcesses([&](qint64 pid) { return covered.contains(pid); });
    QCOMPARE(windowsOf(pagesAmong(source, all)), (QList{other, unknown}));
    // Coverage is asked at every walk: a browser the other backend dropped shows again.
    covered = {4300};
    QCOMPARE(windowsOf(pagesAmong(source, all)), (QList{first, other, unknown, second}));

    source.requestCloseProcessWindows(4100);
    source.requestCloseProcessWindows(4300);
    expectCloseRequests(display, {first, second, marker});
}

void TestX11Source::unreachableDisplayYieldsNothing()
{
    QVERIFY(!QFile::exists(u"/tmp/.X11-unix/X4093"_qs));
    // A screen the display does not have is as unreachable as a display that is not there.
    const QString screenless =
        qEnvironmentVariable("DISPLAY").remove(QRegularExpression(uR"(\.\d+$)"_qs)) + u".7"_qs;
    for (const QString &name : {u":4093"_qs, u"no display name"_qs, screenless}) {
        X11BrowserSource source(name);
        source.requestClose(WindowHandle{0, "4194305"});
        QVERIFY(source.walk().isEmpty());
    }
}

// A server of our own, which the test takes away from under the source: the first one picks a
// free display number, the second takes over that number.
void TestX11Source::reconnectsAfterTheServerRestarts()
{
    QProcess server;
    const auto stopServer = qScopeGuard([&] { server.kill(), server.waitForFinished(); });
    const QString display = startServer(server, {});
    if (display.isEmpty())
        QSKIP("Xvfb cannot start a server here");
    X11BrowserSource source(display);
    const auto pageNameOfNewWindow = [&](const QByteArray &title) {
        X11TestDisplay client(display.toLatin1());
        const xcb_window_t window = client.createWindow("qutebrowser", "qutebrowser");
        client.setText(window, "_NET_WM_NAME", "UTF8_STRING", title);
        const QList<BrowserPage> pages = pagesAmong(source, {window});
        return pages.size() == 1 ? pages[0].pageName.value_or(u"?"_qs) : u"none"_qs;
    };
    QCOMPARE(pageNameOfNewWindow("[50%] Before - qutebrowser"), u"Before"_qs);

    server.terminate();
    QVERIFY(server.waitForFinished(30000));
    source.requestClose(WindowHandle{0, "4194305"});
    QVERIFY(source.walk().isEmpty());
    QCOMPARE(startServer(server, display), display);
    QCOMPARE(pageNameOfNewWindow("After - qutebrowser"), u"After"_qs);
}

QTEST_GUILESS_MAIN(TestX11Source)
#include "tst_x11source.moc"
