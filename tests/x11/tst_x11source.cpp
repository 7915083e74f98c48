#include "sources/x11/X11BrowserSource.h"
#include "support/X11TestDisplay.h"

#include <QProcess>
#include <QTest>

#include <sys/prctl.h>

#include <csignal>

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

// An X server of the test's own, on the display given or on the first free one.
struct XServer
{
    explicit XServer(const QString &display = {})
    {
        process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process.start(u"Xvfb"_qs, QStringList{display, u"-displayfd"_qs, u"1"_qs, u"-noreset"_qs,
                                              u"-nolisten"_qs, u"tcp"_qs}
                                      .mid(display.isEmpty() ? 1 : 0));
        // It writes the display's number once it takes connections.
        while (!process.canReadLine() && process.waitForReadyRead(30000)) {
        }
        name = u':' + QString::fromLatin1(process.readLine().trimmed());
    }
    ~XServer()
    {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
    QString name;
};

} // namespace

class TestX11Source : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void followsTheWindowManagersClientList();
    void walksAtMostTheWindowLimit();
    void decodesTitlesAndStripsTheBrowsersName_data();
    void decodesTitlesAndStripsTheBrowsersName();
    void asksOnlyThatWindowToCloseThoughAnotherIsGone();
    void coveredProcessesAreLeftOutYetClosedTogether();
    void readsAgainOnlyWhatChanged_data();
    void readsAgainOnlyWhatChanged();
    void reportsWindowsThatAppearOrChangeAtOnce_data();
    void reportsWindowsThatAppearOrChangeAtOnce();
    void seesTheDisplayAgainAfterItsServerRestarts();

private:
    std::unique_ptr<X11TestDisplay> m_keepDisplay;
};

void TestX11Source::initTestCase()
{
    m_keepDisplay = X11TestDisplay::connectSteadily(30000);
    QVERIFY2(m_keepDisplay->isConnected(), "these tests need an X display in $DISPLAY");
}

void TestX11Source::followsTheWindowManagersClientList()
{
    X11TestDisplay display;
    const xcb_window_t shown = display.createWindow("google-chrome", "Google-chrome");
    // An iconified window is unmapped, yet its page is open and the window manager lists it.
    const xcb_window_t iconified = display.createWindow("Navigator", "firefox", {.mapped = false});
    // WM_CLASS as Debian's chromium sets it for a profile of its own; case does not matter.
    const xcb_window_t unmanaged = display.createWindow("chromium (/tmp/profile)", "CHROMIUM");
    const xcb_window_t terminal = display.createWindow("xterm", "XTerm");
    const xcb_window_t helper = display.createWindow("chromium-helper", "Helper");
    const xcb_window_t popupMenu =
        display.createWindow("chromium", "Chromium", {.overrideRedirect = true});
    // A reparenting window manager keeps each client, which it marks with WM_STATE, in a frame.
    const xcb_window_t client = display.createWindow("chromium", "Chromium");
    display.setText(client, "_NET_WM_NAME", "UTF8_STRING", "Framed - Chromium");
    const quint32 normalState[] = {1, XCB_WINDOW_NONE};
    xcb_change_property(display.connection(), XCB_PROP_MODE_REPLACE, client,
                        display.atom("WM_STATE"), display.atom("WM_STATE"), 32, 2, normalState);
    xcb_reparent_window(display.connection(), client, display.createWindow({}, {}), 0, 0);
    const QList<xcb_window_t> ours = {shown,  iconified, unmanaged, terminal,
                                      helper, popupMenu, client};

    X11BrowserSource source;
    display.setClientList({iconified, terminal, shown});
    QCOMPARE(windowsOf(pagesAmong(source, ours)), (QList{iconified, shown}));
    // Without the list, the clients inside frames, and the windows outside any.
    display.removeClientList();
    const QList<BrowserPage> pages = pagesAmong(source, ours);
    QCOMPARE(windowsOf(pages), (QList{shown, unmanaged, client}));
    QCOMPARE(pages.first().address, QString());
    QCOMPARE(pages.last().pageName, u"Framed"_qs);
    source.requestClose(pages.last().handle);
    expectCloseRequests(display, {client});
}

void TestX11Source::walksAtMostTheWindowLimit()
{
    X11TestDisplay display;
    const xcb_window_t first = display.createWindow("chromium", "Chromium");
    const xcb_window_t beyond = display.createWindow("chromium", "Chromium");
    display.setClientList(QList<xcb_window_t>(kMaxRows, first) << beyond);
    const QList<BrowserPage> listed = X11BrowserSource().walk();
    QCOMPARE(listed.size(), qsizetype(kMaxRows));
    QVERIFY(!windowsOf(listed).contains(beyond));
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
    row("utf-8, edge profile", "UTF8_STRING",
        "Q3 - Caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x98\x80 - Personal - Microsoft\xe2\x80\x8b Edge",
        u"Q3 - Café — 😀"_qs);
    row("latin-1, qutebrowser loading", "STRING", "[42%] Gr\xfc\xdf\x65 - qutebrowser",
        u"Grüße"_qs);
    // firefox-esr's WM_NAME for "Café – ok — Mozilla Firefox".
    row("compound text with utf-8 runs", "COMPOUND_TEXT",
        "Caf\xe9 \x1b%G\xe2\x80\x93\x1b%@ ok \x1b%G\xe2\x80\x94\x1b%@ Mozilla Firefox",
        u"Café – ok"_qs);
    // Greek on the right half, then Latin-1 again; a double-byte set on the left, then ASCII.
    row("compound text in sets not decoded", "COMPOUND_TEXT",
        "\x1b-F\xc1\xe8\xde\xed\xe1\x1b-A caf\xe9 \x1b$(B\x30\x21\x1b(B ok - Chromium",
        u"\ufffd café \ufffd ok"_qs);
    // As Debian's chromium 156 and firefox-esr 153, and other browsers, write them.
    row("blank tab", "UTF8_STRING", "Chromium", QString());
    row("right-to-left page", "UTF8_STRING",
        u"\u200E\u202Bعربي \u202Eabc - Chromium\u202C\u200E"_qs.toUtf8(), u"عربي \u202Eabc"_qs);
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
    quint64 version = 0;
    source.setCoverage(
        [&](qint64 pid, const QString &) {
            using Coverage = X11BrowserSource::Coverage;
            return covered.contains(pid) ? Coverage::Window : Coverage::None;
        },
        [&] { return version; });
    QCOMPARE(windowsOf(pagesAmong(source, all)), (QList{other, unknown}));
    // Coverage is asked again once it changed: a browser the other backend dropped shows again.
    covered = {4300};
    QCOMPARE(windowsOf(pagesAmong(source, all)), (QList{other, unknown}));
    ++version;
    QCOMPARE(windowsOf(pagesAmong(source, all)), (QList{first, other, unknown, second}));

    source.requestCloseProcessWindows(4100);
    source.requestCloseProcessWindows(4300);
    expectCloseRequests(display, {first, second, marker});
}

void TestX11Source::readsAgainOnlyWhatChanged_data()
{
    QTest::addColumn<bool>("clientList");
    QTest::newRow("window manager's client list") << true;
    QTest::newRow("no client list") << false;
}

// Walks keep what they read, and the display's events tell what to read again.
void TestX11Source::readsAgainOnlyWhatChanged()
{
    QFETCH(bool, clientList);
    X11TestDisplay display;
    const xcb_window_t first = display.createWindow("chromium", "Chromium");
    const xcb_window_t terminal = display.createWindow("xterm", "XTerm");
    QList<xcb_window_t> ours = {first, terminal};
    const auto list = [&] {
        if (clientList)
            display.setClientList(ours);
    };
    list();
    X11BrowserSource source;
    QCOMPARE(windowsOf(pagesAmong(source, ours)), QList{first});
    const quint64 reads = source.windowReads();
    QCOMPARE(windowsOf(pagesAmong(source, ours)), QList{first});
    QCOMPARE(source.windowReads(), reads);
    // The walks of the program's idle ticks give one list, shared, which tells them apart.
    const QList<BrowserPage> idle = source.walk();
    QVERIFY(source.walk().isSharedWith(idle));

    // A page that renames itself many times between two walks is read once.
    for (int i = 0; i < 50; ++i)
        display.setText(first, "_NET_WM_NAME", "UTF8_STRING",
                        "Page " + QByteArray::number(i) + " - Chromium");
    display.setText(terminal, "_NET_WM_USER_TIME", "STRING", "1");
    QCOMPARE(pagesAmong(source, ours).value(0).pageName, u"Page 49"_qs);
    QCOMPARE(source.windowReads(), reads + 1);

    const xcb_window_t second = display.createWindow("Navigator", "firefox");
    ours.append(second);
    list();
    QCOMPARE(windowsOf(pagesAmong(source, ours)), (QList{first, second}));
    // Without the list, windows are walked as stacked, and while shown.
    const quint32 above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(display.connection(), first, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    display.sync();
    QCOMPARE(windowsOf(pagesAmong(source, ours)),
             (clientList ? QList{first, second} : QList{second, first}));
    display.destroyWindow(first);
    ours.removeFirst();
    list();
    QCOMPARE(windowsOf(pagesAmong(source, ours)), QList{second});
    xcb_unmap_window(display.connection(), second);
    display.sync();
    QCOMPARE(pagesAmong(source, ours).size(), clientList ? 1 : 0);
}

void TestX11Source::reportsWindowsThatAppearOrChangeAtOnce_data()
{
    QTest::addColumn<bool>("clientList");
    QTest::addColumn<QByteArray>("change");
    QTest::addColumn<bool>("reported");
    const std::pair<const char *, bool> changes[] = {
        {"new browser window", true},  {"rename", true},
        {"same title", false},         {"new terminal", false},
        {"new covered window", false}, {"new window of a covered browser", false}};
    for (const bool clientList : {true, false}) {
        for (const auto &[change, reported] : changes)
            QTest::addRow("%s, %s", clientList ? "client list" : "no client list", change)
                << clientList << QByteArray(change) << reported;
    }
}

// No walk runs between the change and its report; the walk after lists the same and reads nothing.
void TestX11Source::reportsWindowsThatAppearOrChangeAtOnce()
{
    QFETCH(bool, clientList);
    QFETCH(QByteArray, change);
    QFETCH(bool, reported);
    X11TestDisplay display;
    xcb_window_t changed = display.createWindow("chromium", "Chromium");
    const xcb_window_t marker = display.createWindow("Navigator", "firefox");
    display.setText(changed, "_NET_WM_NAME", "UTF8_STRING", "Old - Chromium");
    QList<xcb_window_t> ours = {changed, marker};
    const auto list = [&] {
        clientList ? display.setClientList(ours) : display.removeClientList();
    };
    list();
    X11BrowserSource source;
    source.setCoverage(
        [](qint64 pid, const QString &) {
            using Coverage = X11BrowserSource::Coverage;
            return pid == 4100   ? Coverage::Window
                   : pid == 4200 ? Coverage::OtherWindows
                                 : Coverage::None;
        },
        [] { return quint64(0); });
    QList<BrowserPage> pages;
    source.setPagesReported([&](const QList<BrowserPage> &some) { pages += some; });
    QCOMPARE(windowsOf(pagesAmong(source, ours)), (QList{changed, marker}));

    if (change == "rename" || change == "same title") {
        display.setText(changed, "_NET_WM_NAME", "UTF8_STRING",
                        change == "rename" ? "New - Chromium" : "Old - Chromium");
    } else {
        // As programs do, a window has its properties before it is shown.
        changed = change == "new terminal"
                      ? display.createWindow("xterm", "XTerm", {.mapped = false})
                      : display.createWindow("chromium", "Chromium", {.mapped = false});
        if (change.contains("covered"))
            setProcess(display, changed, change == "new covered window" ? 4100 : 4200);
        xcb_map_window(display.connection(), changed);
        ours.append(changed);
        list();
    }
    // The server sends one client's events in order: the marker's report comes after the rest.
    display.setText(marker, "_NET_WM_NAME", "UTF8_STRING", "Marker - Firefox");
    QTRY_VERIFY_WITH_TIMEOUT(windowsOf(pages).contains(marker), 10000);
    pages.removeIf(
        [&](const BrowserPage &page) { return !ours.contains(page.handle.id.toUInt()); });
    QCOMPARE(windowsOf(pages).contains(changed), reported);
    QCOMPARE(pages.size(), reported ? 2 : 1);

    const quint64 reads = source.windowReads();
    const QList<BrowserPage> walked = pagesAmong(source, ours);
    QCOMPARE(source.windowReads(), reads);
    for (const BrowserPage &page : pages) {
        const auto same = std::find_if(walked.cbegin(), walked.cend(), [&](const BrowserPage &w) {
            return w.handle == page.handle;
        });
        QVERIFY(same != walked.cend());
        QCOMPARE(same->pageName, page.pageName);
    }
}

// While the display is gone walks find nothing; once a server is back on it, they find its
// windows, and its events report their changes.
void TestX11Source::seesTheDisplayAgainAfterItsServerRestarts()
{
    auto server = std::make_unique<XServer>();
    const QString name = server->name;
    QVERIFY2(name.size() > 1, "Xvfb starts");
    X11BrowserSource source(name);
    QList<BrowserPage> reported;
    source.setPagesReported([&](const QList<BrowserPage> &pages) { reported += pages; });
    {
        X11TestDisplay display(name.toLatin1());
        const xcb_window_t before = display.createWindow("chromium", "Chromium");
        QCOMPARE(windowsOf(source.walk()), QList{before});
        server.reset();
        QVERIFY(source.walk().isEmpty());
        QVERIFY(source.walk().isEmpty());
    }
    server = std::make_unique<XServer>(name);
    QCOMPARE(server->name, name);
    X11TestDisplay display(name.toLatin1());
    const xcb_window_t after = display.createWindow("chromium", "Chromium");
    QCOMPARE(windowsOf(source.walk()), QList{after});
    display.setText(after, "_NET_WM_NAME", "UTF8_STRING", "After - Chromium");
    QTRY_COMPARE_WITH_TIMEOUT(reported.value(0).pageName, u"After"_qs, 10000);
}

QTEST_GUILESS_MAIN(TestX11Source)
#include "tst_x11source.moc"
