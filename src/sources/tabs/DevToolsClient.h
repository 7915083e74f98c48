#pragma once

#include "sources/tabs/DevToolsAnswers.h"
#include "sources/tabs/TabClient.h"

#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QTimer>
#include <QWebSocket>

#include <functional>
#include <optional>

// One Chromium-family browser on 127.0.0.1. /json/version checks that the endpoint is a live
// browser and names its browser WebSocket, where the browser is asked to tell of its targets as
// they come, change and go, and is read whole now and then, and often for a moment after a tab
// changed, since the browser does not tell of titles; /json/close/<id> closes a tab. A
// browser that refuses to tell, or whose socket cannot be opened, has /json/list read again and
// again instead. Any failure, garbage or answer that is too big ends the client.
class DevToolsClient : public TabClient
{
    Q_OBJECT

public:
    DevToolsClient(const DebugEndpoint &endpoint, TabSnapshot &snapshot,
                   const TabSourceSettings &settings);
    ~DevToolsClient() override;

    void start() override;
    void closeTab(const QByteArray &tabId) override;

private:
    enum class Method
    {
        Get,
        Put,
    };
    // The body of a 200 answer, or nothing for anything else.
    using Handler = std::function<void(const std::optional<QByteArray> &body)>;
    using CommandHandler = std::function<void(const DevToolsAnswers::Message &answer)>;

    void send(Method method, const QByteArray &path, Handler handler);
    void checked(const std::optional<QByteArray> &body);
    void refresh();
    void listed(const std::optional<QByteArray> &body);

    void command(const QString &method, const QJsonObject &params, CommandHandler handler);
    void received(const QString &text);
    void subscribed(const DevToolsAnswers::Message &answer);
    void resync();
    void apply(const DevToolsAnswers::TabChange &change);
    void settle();
    void socketLost();
    void poll();
    void fail();

    QNetworkAccessManager m_network;
    QTimer m_refreshTimer;
    QWebSocket m_socket;
    QTimer m_requestTimer;
    qint64 m_nextId = 1;
    std::optional<qint64> m_inFlight;
    CommandHandler m_handler;
    QDeadlineTimer m_settling;
    bool m_subscribed = false;
    bool m_polling = false;
    bool m_failed = false;
    // The tabs as the events left them, in the order they came.
    QList<BrowserPage> m_tabs;
};
