#pragma once

#include "sources/tabs/ProcessDiscovery.h"
#include "sources/tabs/TabSourceSettings.h"

#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <map>

class TabClient;
class TabSnapshot;

// Lives on a tab-level backend's own thread. Looks through /proc now and then, or when another
// look of the census found new processes, for browsers of its kind, keeps one client per
// browser found, and forgets a browser whose client failed until the next look finds it again.
class TabWatcher : public QObject
{
    Q_OBJECT

public:
    using ClientFactory =
        std::function<TabClient *(const DebugEndpoint &, TabSnapshot &, const TabSourceSettings &)>;

    TabWatcher(DebugEndpoint::Kind kind, TabSnapshot &snapshot, const TabSourceSettings &settings,
               ClientFactory factory);

    void start();
    // The handle id is the snapshot's: "<port>/<tab id>".
    void closeTab(const QByteArray &handleId);
    // Lets every client go, giving each a moment to part politely from its browser.
    void stop();
    ~TabWatcher() override;

private:
    void discover();
    void stopListening();
    void forget(TabClient *client);
    void reportRefusal(const DebugEndpoint &endpoint);

    DebugEndpoint::Kind m_kind;
    TabSnapshot &m_snapshot;
    TabSourceSettings m_settings;
    std::shared_ptr<ProcessIds> m_census;
    ProcessDiscovery m_discovery;
    std::optional<int> m_newsListener;
    bool m_stopped = false;
    ClientFactory m_factory;
    QTimer m_discoveryTimer;
    std::map<quint16, TabClient *> m_clients;
    QSet<QPair<qint64, quint16>> m_reportedRefusals;
};
