#pragma once

#include "sources/tabs/TabClient.h"

#include <QNetworkAccessManager>
#include <QTimer>

#include <functional>
#include <optional>

// One Chromium-family browser through its DevTools HTTP endpoints on 127.0.0.1: /json/version
// checks that the endpoint is a live browser, /json/list gives the tabs again and again, and
// /json/close/<id> closes one. Any failure, garbage or answer that is too big ends the client.
class DevToolsClient : public TabClient
{
    Q_OBJECT

public:
    DevToolsClient(const DebugEndpoint &endpoint, TabSnapshot &snapshot,
                   const TabSourceSettings &settings);

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

    void send(Method method, const QByteArray &path, Handler handler);
    void checked(const std::optional<QByteArray> &body);
    void refresh();
    void listed(const std::optional<QByteArray> &body);
    void fail();

    QNetworkAccessManager m_network;
    QTimer m_refreshTimer;
    bool m_failed = false;
};
