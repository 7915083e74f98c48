#include "sources/tabs/TabWatcher.h"

#include "sources/TabSnapshot.h"
#include "sources/tabs/TabClient.h"

#include <QEventLoop>
#include <QFileInfo>

#include <algorithm>

namespace {

// The longest a closing program waits for its browsers to end their sessions.
constexpr int maxStopMs = 1000;

} // namespace

TabWatcher::TabWatcher(DebugEndpoint::Kind kind, TabSnapshot &snapshot,
                       const TabSourceSettings &settings, ClientFactory factory)
    : m_kind(kind), m_snapshot(snapshot), m_settings(settings),
      m_census(settings.processIds ? settings.processIds
                                   : std::make_shared<ProcessIds>(settings.procRoot)),
      m_discovery(m_census, settings.userId), m_factory(std::move(factory)), m_discoveryTimer(this)
{
    m_discoveryTimer.setInterval(settings.discoveryIntervalMs);
    connect(&m_discoveryTimer, &QTimer::timeout, this, &TabWatcher::discover);
}

TabWatcher::~TabWatcher()
{
    stopListening();
}

void TabWatcher::stopListening()
{
    if (m_newsListener)
        m_census->removeNewsListener(*std::exchange(m_newsListener, std::nullopt));
}

void TabWatcher::start()
{
    if (m_settings.censusLookedElsewhere)
        m_newsListener = m_census->addNewsListener([this] {
            QMetaObject::invokeMethod(this, &TabWatcher::discover, Qt::QueuedConnection);
        });
    m_discoveryTimer.start();
    discover();
}

void TabWatcher::discover()
{
    // News told just before the stop comes after it.
    if (m_stopped)
        return;
    const QList<DebugEndpoint> endpoints = m_discovery.find(m_kind);

    // A port file caught half-written must not cut off a client in the middle of its work,
    // so a client goes only with its process, or when that process now listens elsewhere.
    QList<TabClient *> gone;
    for (const auto &[port, client] : m_clients) {
        const DebugEndpoint &endpoint = client->endpoint();
        if (endpoints.contains(endpoint))
            continue;
        const bool moved =
            std::any_of(endpoints.cbegin(), endpoints.cend(),
                        [&](const DebugEndpoint &e) { return e.pid == endpoint.pid; });
        if (moved || !QFileInfo::exists(m_settings.procRoot + u'/' + QString::number(endpoint.pid)))
            gone.append(client);
    }
    for (TabClient *client : gone)
        forget(client);

    for (const DebugEndpoint &endpoint : endpoints) {
        if (m_clients.count(endpoint.port) != 0)
            continue;
        TabClient *client = m_factory(endpoint, m_snapshot, m_settings);
        client->setParent(this);
        m_clients[endpoint.port] = client;
        connect(client, &TabClient::failed, this, [this, client] { forget(client); });
        connect(client, &TabClient::refused, this,
                [this, client] { reportRefusal(client->endpoint()); });
        client->start();
    }
    if (m_settings.censusLookedElsewhere && !m_discovery.settling(m_kind))
        m_discoveryTimer.stop();
    else if (!m_discoveryTimer.isActive() && m_newsListener)
        m_discoveryTimer.start();
}

void TabWatcher::forget(TabClient *client)
{
    const auto entry = m_clients.find(client->endpoint().port);
    if (entry == m_clients.end() || entry->second != client)
        return;
    m_clients.erase(entry);
    m_snapshot.drop(client->endpoint().port);
    client->disconnect(this);
    client->deleteLater();
}

void TabWatcher::reportRefusal(const DebugEndpoint &endpoint)
{
    const QPair<qint64, quint16> key{endpoint.pid, endpoint.port};
    if (m_reportedRefusals.contains(key))
        return;
    m_reportedRefusals.insert(key);
    qWarning("Vexlor Popup : le Firefox du processus %lld (port %u) refuse une session "
             "WebDriver BiDi, un autre client tient déjà la seule qu'il accepte ; ses onglets "
             "ne sont pas listés un par un.",
             static_cast<long long>(endpoint.pid), static_cast<unsigned>(endpoint.port));
}

void TabWatcher::closeTab(const QByteArray &handleId)
{
    const auto parts = TabSnapshot::splitHandleId(handleId);
    if (!parts)
        return;
    const auto entry = m_clients.find(parts->first);
    if (entry != m_clients.end())
        entry->second->closeTab(parts->second);
}

void TabWatcher::stop()
{
    m_stopped = true;
    stopListening();
    m_discoveryTimer.stop();
    QEventLoop loop;
    QList<TabClient *> clients;
    for (const auto &[port, client] : m_clients)
        clients.append(client);
    int running = static_cast<int>(clients.size());
    for (TabClient *client : clients) {
        client->disconnect(this);
        connect(client, &TabClient::stopped, &loop, [&running, &loop] {
            if (--running == 0)
                loop.quit();
        });
        client->stop();
    }
    if (running > 0) {
        QTimer::singleShot(std::min(m_settings.requestTimeoutMs, maxStopMs), &loop,
                           &QEventLoop::quit);
        loop.exec();
    }
    for (TabClient *client : clients) {
        m_snapshot.drop(client->endpoint().port);
        delete client;
    }
    m_clients.clear();
}
