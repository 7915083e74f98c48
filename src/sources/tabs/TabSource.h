#pragma once

#include "platform/BrowserWindowSource.h"
#include "sources/TabSnapshot.h"
#include "sources/tabs/ProcessDiscovery.h"
#include "sources/tabs/TabSourceSettings.h"
#include "sources/tabs/TabWatcher.h"

#include <QThread>

// A backend that lists every tab of the browsers started with remote debugging, each tab with
// its title and address, and closes one tab on request. The browsers are found and read on a
// thread of the backend's own; a walk copies what was read last and never waits on a browser.
// Tabs that opened or changed are reported on the thread that made the source, as soon as they
// are read.
class TabSource : public BrowserWindowSource
{
public:
    TabSource(DebugEndpoint::Kind kind, TabWatcher::ClientFactory factory,
              const TabSourceSettings &settings);
    ~TabSource() override;

    TabSource(const TabSource &) = delete;
    TabSource &operator=(const TabSource &) = delete;

    QList<BrowserPage> walk() override;
    void requestClose(const WindowHandle &handle) override;

    // Whether this backend lists the tabs of the process, whose windows then need no other
    // view.
    bool covers(qint64 pid) const;
    // A number that changes whenever covers() may answer otherwise.
    quint64 coverageVersion() const { return m_snapshot.version(); }
    // How many readings of a browser's tabs have been published so far.
    quint64 readings() const { return m_snapshot.readings(); }

protected:
    TabSnapshot &snapshot() { return m_snapshot; }
    // Hides the tab and has the browser close it.
    void closeTab(const QByteArray &handleId);

private:
    TabSnapshot m_snapshot;
    // Lives on the thread that made the source, where reports are made.
    QObject m_reports;
    QThread m_thread;
    TabWatcher *m_watcher = nullptr;
};
