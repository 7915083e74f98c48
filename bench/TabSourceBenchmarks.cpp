// The cost of one walk of each browser backend with 10 pages, as the scan tick pays it, and the
// time one background reading of 10 tabs takes against the real browsers.
#include "sources/RunningBrowsers.h"
#include "sources/tabs/BidiSource.h"
#include "sources/tabs/DevToolsSource.h"
#include "sources/x11/X11BrowserSource.h"
#include "support/BrowserProcess.h"
#include "support/X11TestDisplay.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr int tabCount = 10;
constexpr int startTimeoutMs = 90000;

// Pages of their own, each titled "Vexlor bench page <n>", that need no server.
QStringList pageAddresses()
{
    QStringList addresses;
    for (int i = 1; i <= tabCount; ++i)
        addresses.append(
            u"data:text/html;charset=utf-8,<title>Vexlor bench page %1</title>"_qs.arg(i));
    return addresses;
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

// Opens a tab in a Chromium through its DevTools endpoint; false when it does not answer.
bool openChromiumTab(quint16 port, const QString &address)
{
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(u"http://127.0.0.1:%1/json/new?"_qs.arg(port) + address));
    request.setTransferTimeout(startTimeoutMs);
    std::unique_ptr<QNetworkReply> reply(network.put(request, QByteArray()));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return reply->error() == QNetworkReply::NoError;
}

// Headless Chromium started with remote debugging, with 10 tabs. It opens one address of its
// command line; the others come through DevTools.
BrowserProcess *chromium()
{
    if (!BrowserProcess::isInstalled(u"chromium"_qs))
        return nullptr;
    static const QStringList addresses = pageAddresses();
    static BrowserProcess browser(u"chromium"_qs,
                                  BrowserProcess::Headless | BrowserProcess::RemoteDebugging,
                                  {addresses.first()});
    static const bool opened = [] {
        QFile portFile(browser.profile() + u"/DevToolsActivePort"_qs);
        if (!waitFor([&] { return portFile.size() > 0; }, startTimeoutMs) ||
            !portFile.open(QIODevice::ReadOnly))
            return false;
        const quint16 port = portFile.readLine().trimmed().toUShort();
        return std::all_of(addresses.cbegin() + 1, addresses.cend(),
                           [&](const QString &address) { return openChromiumTab(port, address); });
    }();
    return opened ? &browser : nullptr;
}

// Headless Firefox started with remote debugging, with 10 tabs.
BrowserProcess *firefox()
{
    if (!BrowserProcess::isInstalled(u"firefox"_qs))
        return nullptr;
    static BrowserProcess browser(
        u"firefox"_qs, BrowserProcess::Headless | BrowserProcess::RemoteDebugging, pageAddresses());
    return &browser;
}

template <typename Source>
bool listsAllTabs(Source &source)
{
    return waitFor(
        [&] {
            const QList<BrowserPage> pages = source.walk();
            return pages.size() == tabCount &&
                   std::all_of(pages.cbegin(), pages.cend(), [](const BrowserPage &page) {
                       return page.pageName.value_or(QString()).startsWith(u"Vexlor bench");
                   });
        },
        startTimeoutMs);
}

template <typename Source>
void walkTabs(benchmark::State &state, BrowserProcess *browser, Source &source)
{
    if (!browser || !browser->isRunning() || !listsAllTabs(source)) {
        state.SkipWithError("the browser is not installed or did not list its tabs in time");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(source.walk());
    state.SetLabel("walk of the X11 backend, 10 browser windows");
}

// The time from one published reading of the browser's 10 tabs to the next.
template <typename Source>
void readTabs(benchmark::State &state, BrowserProcess *browser, Source &source)
{
    if (!browser || !browser->isRunning() || !listsAllTabs(source)) {
        state.SkipWithError("the browser is not installed or did not list its tabs in time");
        return;
    }
    for (auto _ : state) {
        const quint64 before = source.readings();
        while (source.readings() == before)
            QThread::usleep(50);
        const auto start = std::chrono::steady_clock::now();
        while (source.readings() == before + 1)
            QThread::usleep(50);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

// The backends look for browsers in a /proc of their own that shows only the benchmark's
// browser, so that no other browser on the machine is touched.
struct OwnProc
{
    QTemporaryDir folder;
    TabSourceSettings settings;

    OwnProc(const BrowserProcess *browser, int refreshIntervalMs)
    {
        if (browser) {
            const QString pid = QString::number(browser->pid());
            QFile::link(u"/proc/"_qs + pid, folder.filePath(pid));
        }
        // The sockets tables, where a browser's debugging port is checked to be its own.
        QFile::link(u"/proc/net"_qs, folder.filePath(u"net"_qs));
        settings.procRoot = folder.path();
        settings.refreshIntervalMs = refreshIntervalMs;
        settings.resyncIntervalMs = refreshIntervalMs;
    }
};

// With no pause between readings, the time from one published reading to the next is what one
// reading takes.
constexpr int continuousReading = 0;

void BM_WalkDevTools(benchmark::State &state)
{
    BrowserProcess *browser = chromium();
    const OwnProc proc(browser, TabSourceSettings().refreshIntervalMs);
    DevToolsSource source(proc.settings);
    walkTabs(state, browser, source);
    state.SetLabel("walk of the DevTools backend, 10 tabs of a real Chromium");
}

void BM_WalkBidi(benchmark::State &state)
{
    BrowserProcess *browser = firefox();
    const OwnProc proc(browser, TabSourceSettings().refreshIntervalMs);
    BidiSource source([](qint64) {}, proc.settings);
    walkTabs(state, browser, source);
    state.SetLabel("walk of the BiDi backend, 10 tabs of a real Firefox");
}

void BM_ReadDevTools(benchmark::State &state)
{
    BrowserProcess *browser = chromium();
    const OwnProc proc(browser, continuousReading);
    DevToolsSource source(proc.settings);
    readTabs(state, browser, source);
    state.SetLabel("one background reading of 10 Chromium tabs (DevTools)");
}

void BM_ReadBidi(benchmark::State &state)
{
    BrowserProcess *browser = firefox();
    const OwnProc proc(browser, continuousReading);
    BidiSource source([](qint64) {}, proc.settings);
    readTabs(state, browser, source);
    state.SetLabel("one background reading of 10 Firefox tabs (BiDi)");
}

// Ten browser windows of another client on the X display, each with a title.
void BM_WalkX11(benchmark::State &state)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        state.SkipWithError("no X display in $DISPLAY");
        return;
    }
    X11TestDisplay display;
    for (int i = 1; i <= tabCount; ++i) {
        const xcb_window_t window = display.createWindow("chromium", "Chromium");
        display.setText(window, "_NET_WM_NAME", "UTF8_STRING",
                        "Vexlor bench page " + QByteArray::number(i) + " - Chromium");
    }
    display.sync();
    X11BrowserSource source;
    for (auto _ : state)
        benchmark::DoNotOptimize(source.walk());
    state.SetLabel("walk of the X11 backend, 10 browser windows");
}

// 100 browser windows of another client, listed by it as a window manager would, as walks find
// them when nothing changed (range 0), when every title changed since the last walk (1), and at
// the first walk of a new connection, which reads everything as every walk did before walks
// kept what they read (2; the time counts the connection's set-up); and with no list, when
// nothing changed (3).
void BM_WalkX11Windows(benchmark::State &state)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        state.SkipWithError("no X display in $DISPLAY");
        return;
    }
    constexpr int windowCount = 100;
    X11TestDisplay display;
    QList<xcb_window_t> windows;
    const auto rename = [&](int round) {
        for (int i = 0; i < windowCount; ++i)
            display.setText(windows[i], "_NET_WM_NAME", "UTF8_STRING",
                            "Vexlor bench page " + QByteArray::number(i) + " round " +
                                QByteArray::number(round) + " - Chromium");
    };
    for (int i = 0; i < windowCount; ++i)
        windows.append(display.createWindow("chromium", "Chromium"));
    rename(0);
    state.range(0) == 3 ? display.removeClientList() : display.setClientList(windows);
    auto source = std::make_unique<X11BrowserSource>();
    source->walk();
    int round = 0;
    for (auto _ : state) {
        if (state.range(0) == 1 || state.range(0) == 2) {
            state.PauseTiming();
            if (state.range(0) == 1)
                rename(++round);
            else
                source = std::make_unique<X11BrowserSource>();
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(source->walk());
    }
    static const char *const labels[] = {
        "walk of the X11 backend, 100 browser windows, nothing changed",
        "walk of the X11 backend, 100 browser windows, every title changed",
        "walk of the X11 backend, 100 browser windows, first walk of a new connection",
        "walk of the X11 backend, 100 browser windows, no client list, nothing changed"};
    state.SetLabel(labels[state.range(0)]);
}

// The time from a new browser window's mapping to the X11 backend's report of its page, among
// 100 browser windows: a window manager's list updated with the mapping (range 0), or no list
// (1). Before windows were reported, the page waited for the next tick's walk: 250 ms at the
// mean, up to 500 ms.
void BM_ReportX11Window(benchmark::State &state)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        state.SkipWithError("no X display in $DISPLAY");
        return;
    }
    const bool clientList = state.range(0) == 0;
    X11TestDisplay display;
    QList<xcb_window_t> windows;
    for (int i = 0; i < 100; ++i)
        windows.append(display.createWindow("chromium", "Chromium"));
    const auto list = [&] {
        clientList ? display.setClientList(windows) : display.removeClientList();
    };
    list();
    X11BrowserSource source;
    QByteArray awaited;
    std::optional<std::chrono::steady_clock::time_point> reportedAt;
    source.setPagesReported([&](const QList<BrowserPage> &pages) {
        for (const BrowserPage &page : pages)
            if (page.handle.id == awaited)
                reportedAt = std::chrono::steady_clock::now();
    });
    source.walk();
    std::vector<double> times;
    for (auto _ : state) {
        const xcb_window_t window = display.createWindow("chromium", "Chromium", {.mapped = false});
        display.setText(window, "_NET_WM_NAME", "UTF8_STRING", "Vexlor bench popup - Chromium");
        awaited = QByteArray::number(window);
        reportedAt.reset();
        const auto mappedAt = std::chrono::steady_clock::now();
        xcb_map_window(display.connection(), window);
        windows.append(window);
        list();
        const QDeadlineTimer deadline(5000);
        while (!reportedAt && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        if (!reportedAt) {
            state.SkipWithError("the new window was not reported");
            break;
        }
        times.push_back(std::chrono::duration<double>(*reportedAt - mappedAt).count());
        state.SetIterationTime(times.back());
        display.destroyWindow(window);
        windows.removeLast();
        list();
        source.walk();
    }
    if (!times.empty()) {
        std::sort(times.begin(), times.end());
        state.counters["median_ms"] = times[times.size() / 2] * 1000;
        state.counters["p95_ms"] = times[times.size() * 95 / 100] * 1000;
    }
    state.SetLabel(clientList ? "new X11 browser window, mapped to reported, client list"
                              : "new X11 browser window, mapped to reported, no client list");
}

// One look through the whole /proc of this machine for running browsers, as each check for
// browsers that nobody watches makes it once the processes that are no browser have settled.
void BM_LookForBrowsers(benchmark::State &state)
{
    RunningBrowsers running(u"/proc"_qs, std::nullopt, 0);
    running.look();
    for (auto _ : state)
        benchmark::DoNotOptimize(running.look());
    state.SetLabel("look through /proc for running browsers, every 2 s");
}

} // namespace

BENCHMARK(BM_WalkDevTools)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WalkBidi)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WalkX11)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WalkX11Windows)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReportX11Window)
    ->DenseRange(0, 1)
    ->UseManualTime()
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookForBrowsers)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadDevTools)->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBidi)->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
