#include "app/BrowserBackends.h"

#include "platform/CompositeBrowserSource.h"
#include "sources/bridge/BridgeSource.h"
#include "sources/tabs/BidiSource.h"
#include "sources/tabs/DevToolsSource.h"
#include "sources/x11/X11BrowserSource.h"

std::function<bool(qint64 pid)> addBrowserBackends(CompositeBrowserSource &source,
                                                   const TabSourceSettings &settings)
{
    auto bridge = std::make_unique<BridgeSource>();
    auto windows = std::make_unique<X11BrowserSource>();
    auto devTools = std::make_unique<DevToolsSource>(settings);
    X11BrowserSource *windowsView = windows.get();
    auto bidi = std::make_unique<BidiSource>(
        [windowsView](qint64 pid) { windowsView->requestCloseProcessWindows(pid); }, settings);
    // Remote debugging lists every page of its browser, private ones included; the bridge
    // lists those of the windows its extension runs in.
    windows->setCoverage(
        [bridge = bridge.get(), devTools = devTools.get(),
         bidi = bidi.get()](qint64 pid, const QString &pageName) {
            using Coverage = X11BrowserSource::Coverage;
            if (devTools->covers(pid) || bidi->covers(pid) || bridge->accountsFor(pid, pageName))
                return Coverage::Window;
            return bridge->covers(pid) ? Coverage::OtherWindows : Coverage::None;
        },
        // Each version only grows, so their sum changes whenever one of them does.
        [bridge = bridge.get(), devTools = devTools.get(), bidi = bidi.get()] {
            return bridge->coverageVersion() + devTools->coverageVersion() +
                   bidi->coverageVersion();
        });
    std::function<bool(qint64 pid)> seen = [bridge = bridge.get(), devTools = devTools.get(),
                                            bidi = bidi.get(), windowsView](qint64 pid) {
        return bridge->covers(pid) || devTools->covers(pid) || bidi->covers(pid) ||
               windowsView->windowProcesses().contains(pid);
    };
    // The composite destroys its backends in this order, so the windows backend outlives the
    // BiDi one that closes windows through it.
    source.addBackend(std::move(bridge));
    source.addBackend(std::move(devTools));
    source.addBackend(std::move(bidi));
    source.addBackend(std::move(windows));
    return seen;
}
