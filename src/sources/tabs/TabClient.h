#pragma once

#include "sources/tabs/ProcessDiscovery.h"
#include "sources/tabs/TabSourceSettings.h"

#include <QObject>
#include <QWebSocket>

class TabSnapshot;

// Talks to one browser of a tab-level backend, on the backend's own thread: checks that the
// endpoint is a live browser, then keeps its tabs in the snapshot until it fails.
class TabClient : public QObject
{
    Q_OBJECT

public:
    TabClient(const DebugEndpoint &endpoint, TabSnapshot &snapshot,
              const TabSourceSettings &settings, QObject *parent = nullptr)
        : QObject(parent), m_endpoint(endpoint), m_snapshot(snapshot), m_settings(settings)
    {}

    const DebugEndpoint &endpoint() const { return m_endpoint; }

    virtual void start() = 0;
    // Asks the browser to close one of its tabs, by the browser's own id; nothing waits.
    virtual void closeTab(const QByteArray &tabId) = 0;
    // Lets go of the browser politely; stopped() follows, at once or once the browser answered.
    virtual void stop() { emit stopped(); }

signals:
    // The endpoint is not a live browser, stopped answering, or answered garbage.
    void failed();
    // The browser refused us a session because another client holds the only one.
    void refused();
    void stopped();

protected:
    // Calls lost() when the socket closes or fails, whichever way it went.
    template <typename Client>
    void onSocketLoss(QWebSocket &socket, void (Client::*lost)())
    {
        connect(&socket, &QWebSocket::disconnected, static_cast<Client *>(this), lost);
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
        connect(&socket, &QWebSocket::errorOccurred, static_cast<Client *>(this), lost);
#else
        connect(&socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error),
                static_cast<Client *>(this), lost);
#endif
    }

    DebugEndpoint m_endpoint;
    TabSnapshot &m_snapshot;
    TabSourceSettings m_settings;
};
