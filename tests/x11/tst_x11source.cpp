#include "sources/x11/X11BrowserSource.h"
#include "support/X11TestDisplay.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

namespace {

QByteArray idOf(xcb_window_t window)
{
    return QByteArray::number(window);
}

// The pages of one walk that belong to the given windows, in the walk's order; other clients
// of the display cannot disturb the test.
QList<BrowserPage> pagesAmong(X11BrowserSource &source, const QList<xcb_window_t> &windows)
{
    QList<BrowserPage> pages = source.walk();
    pages.removeIf(
        [&](const BrowserPage &page) { return !windows.contains(page.handle.id.toUInt()); });
    return pages;
}

// Starts Xvfb on the given display, or on a free one, and returns the display's name once the
// server takes connections; an empty name when it does not come up.
QString startServer(QProcess &server, const QString &display)
{
    QStringList arguments = {u"-displayfd"_qs, u"1"_qs, u"-nolisten"_qs, u"tcp"_qs};
    if (!display.isEmpty())
        arguments.prepend(display);
    server.start(u"Xvfb"_qs, arguments);
    if (!server.waitForStarted(30000))
        return {};
    const QDeadlineTimer deadline(30000);
    while (!server.canReadLine() && server.state() == QProcess::Running && !deadline.hasExpired())
        server.waitForReadyRead(100);
    const QByteArray number = server.readLine().trimmed();
    return number.isEmpty() ? QString() : u":"_qs + QString::fromLatin1(number);
}

QList<QByteArray> idsOf(const QList<BrowserPage> &pages)
{
    QList<QByteArray> ids;
    for (const BrowserPage &page : pages)
        ids.append(page.handle.id);
    return ids;
}

} // namespace

class TestX11Source : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listsOnlyShownBrowserWindows();
    void followsTheWindowManagersClientList();
    void walksAtMostTheWindowLimit();
    void decodesAndStripsTitles_data();
    void decodesAndStripsTitles();
    void requestCloseAsksOnlyThatWindowToClose();
    void closingAGoneWindowIsHarmless();
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

void TestX11Source::listsOnlyShownBrowserWindows()
{
    X11TestDisplay display;
    const xcb_window_t chromium = display.createWindow("chromium (/tmp/profile)", "Chromium");
    const xcb_window_t firefox = display.createWindow("Navigator", "firefox-esr");
    const QList<xcb_window_t> others = {
        display.createWindow("xterm", "XTerm"),
        display.createWindow("Navigator", "Navigator"),
        display.createWindow({}, {}),
        display.createWindow("chromium", "Chromium", {.mapped = false}),
        display.createWindow("chromium", "Chromium", {.overrideRedirect = true}),
    };

    X11BrowserSource source;
    const QList<BrowserPage> pages = pagesAmong(source, others + QList{chromium, firefox});
    QCOMPARE(idsOf(pages), (QList{idOf(chromium), idOf(firefox)}));
    for (const BrowserPage &page : pages) {
        QCOMPARE(page.address, QString());
        QVERIFY(page.handle.isValid());
    }
}

void TestX11Source::followsTheWindowManagersClientList()
{
    X11TestDisplay display;
    const xcb_window_t shown = display.createWindow("google-chrome", "Google-chrome");
    // An iconified window is unmapped, yet its page is open and the window manager lists it.
    const xcb_window_t iconified = display.createWindow("Navigator", "firefox", {.mapped = false});
    const xcb_window_t unmanaged = display.createWindow("chromium", "Chromium");
    const xcb_window_t terminal = display.createWindow("xterm", "XTerm");
    const QList<xcb_window_t> ours = {shown, iconified, unmanaged, terminal};

    X11BrowserSource source;
    display.setClientList({iconified, terminal, shown});
    QCOMPARE(idsOf(pagesAmong(source, ours)), (QList{idOf(iconified), idOf(shown)}));

    display.removeClientList();
    QCOMPARE(idsOf(pagesAmong(source, ours)), (QList{idOf(shown), idOf(unmanaged)}));
}

void TestX11Source::walksAtMostTheWindowLimit()
{
    X11TestDisplay display;
    const xcb_window_t first = display.createWindow("chromium", "Chromium");
    const xcb_window_t beyond = display.createWindow("vivaldi-stable", "Vivaldi-stable");
    X11BrowserSource source;

    QList<xcb_window_t> list(X11BrowserSource::maxWindows, first);
    list.append(beyond);
    display.setClientList(list);
    const QList<BrowserPage> listed = source.walk();
    QCOMPARE(listed.size(), qsizetype(X11BrowserSource::maxWindows));
    QVERIFY(!idsOf(listed).contains(idOf(beyond)));

    // Without a window manager: new windows go on top, so the last child is past the limit.
    display.removeClientList();
    display.createBareWindows(X11BrowserSource::maxWindows);
    const xcb_window_t last = display.createWindow("vivaldi-stable", "Vivaldi-stable");
    const QList<QByteArray> ids = idsOf(source.walk());
    QVERIFY(ids.contains(idOf(first)));
    QVERIFY(!ids.contains(idOf(last)));
}

void TestX11Source::decodesAndStripsTitles_data()
{
    QTest::addColumn<QByteArray>("netWmNameType");
    QTest::addColumn<QByteArray>("netWmName");
    QTest::addColumn<QByteArray>("wmNameType");
    QTest::addColumn<QByteArray>("wmName");
    QTest::addColumn<QString>("expected");

    QTest::newRow("utf-8 _NET_WM_NAME")
        << QByteArray("UTF8_STRING") << QByteArray("Café Ünïcode – ok - Chromium") << QByteArray()
        << QByteArray() << u"Café Ünïcode – ok"_qs;
    QTest::newRow("_NET_WM_NAME wins over WM_NAME")
        << QByteArray("UTF8_STRING") << QByteArray("Right — Mozilla Firefox")
        << QByteArray("STRING") << QByteArray("Wrong — Mozilla Firefox") << u"Right"_qs;
    QTest::newRow("latin-1 WM_NAME") << QByteArray() << QByteArray() << QByteArray("STRING")
                                     << QByteArray("Gr\xfc\xdf"
                                                   "e - Chromium")
                                     << u"Grüße"_qs;
    // What firefox-esr puts in WM_NAME for "Café – ok".
    QTest::newRow("compound text WM_NAME")
        << QByteArray() << QByteArray() << QByteArray("COMPOUND_TEXT")
        << QByteArray(
               "Caf\xe9 \x1b%G\xe2\x80\x93\x1b%@ ok \x1b%G\xe2\x80\x94\x1b%@ Mozilla Firefox")
        << u"Café – ok"_qs;
    QTest::newRow("blank tab") << QByteArray("UTF8_STRING") << QByteArray("Chromium")
                               << QByteArray() << QByteArray() << QString();
    QTest::newRow("no title at all")
        << QByteArray() << QByteArray() << QByteArray() << QByteArray() << QString();
}

void TestX11Source::decodesAndStripsTitles()
{
    X11TestDisplay display;
    QFETCH(QByteArray, netWmNameType);
    QFETCH(QByteArray, netWmName);
    QFETCH(QByteArray, wmNameType);
    QFETCH(QByteArray, wmName);
    QFETCH(QString, expected);

    const xcb_window_t window = display.createWindow("Navigator", "firefox-esr");
    if (!netWmNameType.isEmpty())
        display.setText(window, "_NET_WM_NAME", netWmNameType, netWmName);
    if (!wmNameType.isEmpty())
        display.setText(window, "WM_NAME", wmNameType, wmName);

    X11BrowserSource source;
    const QList<BrowserPage> pages = pagesAmong(source, {window});
    QCOMPARE(pages.size(), 1);
    QVERIFY(pages[0].pageName.has_value());
    QCOMPARE(*pages[0].pageName, expected);
}

void TestX11Source::requestCloseAsksOnlyThatWindowToClose()
{
    X11TestDisplay display;
    const xcb_window_t closed = display.createWindow("brave-browser", "Brave-browser");
    const xcb_window_t spared = display.createWindow("brave-browser", "Brave-browser");
    const xcb_window_t marker = display.createWindow("brave-browser", "Brave-browser");
    const xcb_atom_t protocols = display.atom("WM_PROTOCOLS");
    const xcb_atom_t deleteWindow = display.atom("WM_DELETE_WINDOW");

    X11BrowserSource source;
    const QList<BrowserPage> pages = pagesAmong(source, {closed, spared, marker});
    QCOMPARE(pages.size(), 3);
    source.requestClose(pages[0].handle);
    const auto first = display.waitForClientMessage(10000);
    QVERIFY(first.has_value());
    QCOMPARE(first->window, closed);
    QCOMPARE(first->type, protocols);
    QCOMPARE(first->data0, deleteWindow);

    // The server delivers one client's requests in order, so a message to the spared window
    // would have come before the one to the marker.
    source.requestClose(pages[2].handle);
    const auto second = display.waitForClientMessage(10000);
    QVERIFY(second.has_value());
    QCOMPARE(second->window, marker);
}

void TestX11Source::closingAGoneWindowIsHarmless()
{
    X11TestDisplay display;
    const xcb_window_t gone = display.createWindow("falkon", "falkon");
    const xcb_window_t staying = display.createWindow("falkon", "falkon");

    X11BrowserSource source;
    const QList<BrowserPage> before = pagesAmong(source, {gone, staying});
    QCOMPARE(before.size(), 2);
    display.destroyWindow(gone);
    for (int i = 0; i < 50; ++i)
        source.requestClose(before[0].handle);
    for (const QByteArray &id : {QByteArray(), QByteArray("0"), QByteArray("not a window"),
                                 QByteArray("99999999999"), QByteArray("-1")})
        source.requestClose(WindowHandle{0, id});

    const QList<BrowserPage> after = pagesAmong(source, {gone, staying});
    QCOMPARE(idsOf(after), QList{idOf(staying)});
    source.requestClose(after[0].handle);
    const auto message = display.waitForClientMessage(10000);
    QVERIFY(message.has_value());
    QCOMPARE(message->window, staying);
}

void TestX11Source::unreachableDisplayYieldsNothing()
{
    QVERIFY(!QFile::exists(u"/tmp/.X11-unix/X4093"_qs));
    // A screen the display does not have is as unreachable as a display that is not there.
    QString screenless = qEnvironmentVariable("DISPLAY");
    screenless.remove(QRegularExpression(uR"(\.\d+$)"_qs));
    screenless += u".7"_qs;
    for (const QString &name : {u":4093"_qs, u"no display name"_qs, screenless}) {
        X11BrowserSource source(name);
        QVERIFY(source.walk().isEmpty());
        source.requestClose(WindowHandle{0, "4194305"});
        QVERIFY(source.walk().isEmpty());
    }
}

void TestX11Source::reconnectsAfterTheServerRestarts()
{
    // A server of our own, which the test can take away from under the source. The first one
    // picks a free display number; the second takes over that number.
    QProcess server;
    auto stopServer = qScopeGuard([&] {
        server.terminate();
        if (!server.waitForFinished(10000))
            server.kill();
        server.waitForFinished();
    });
    QString display = startServer(server, {});
    if (display.isEmpty())
        QSKIP("Xvfb cannot start a server here");

    X11BrowserSource source(display);
    {
        X11TestDisplay client(display.toLatin1());
        QVERIFY(client.isConnected());
        const xcb_window_t window = client.createWindow("qutebrowser", "qutebrowser");
        client.setText(window, "_NET_WM_NAME", "UTF8_STRING", "[50%] Before - qutebrowser");
        const QList<BrowserPage> pages = pagesAmong(source, {window});
        QCOMPARE(pages.size(), 1);
        QCOMPARE(pages[0].pageName, std::optional(u"Before"_qs));
    }

    server.terminate();
    QVERIFY(server.waitForFinished(30000));
    QVERIFY(source.walk().isEmpty());
    source.requestClose(WindowHandle{0, "4194305"});
    QVERIFY(source.walk().isEmpty());

    QCOMPARE(startServer(server, display), display);
    X11TestDisplay client(display.toLatin1());
    QVERIFY(client.isConnected());
    const xcb_window_t window = client.createWindow("qutebrowser", "qutebrowser");
    client.setText(window, "_NET_WM_NAME", "UTF8_STRING", "After - qutebrowser");
    const QList<BrowserPage> pages = pagesAmong(source, {window});
    QCOMPARE(pages.size(), 1);
    QCOMPARE(pages[0].pageName, std::optional(u"After"_qs));
}

QTEST_GUILESS_MAIN(TestX11Source)
#include "tst_x11source.moc"
