#include "sources/tabs/DevToolsClient.h"

#include "sources/TabSnapshot.h"
#include "sources/tabs/DevToolsAnswers.h"

#include <QNetworkProxy>
#include <QNetworkReply>

DevToolsClient::DevToolsClient(const DebugEndpoint &endpoint, TabSnapshot &snapshot,
                               const TabSourceSettings &settings)
    : TabClient(endpoint, snapshot, settings), m_network(this), m_refreshTimer(this)
{
    // Loopback only: no proxy, and no redirect is ever followed.
    m_network.setProxy(QNetworkProxy::NoProxy);
    m_network.setAutoDeleteReplies(true);
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(settings.refreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &DevToolsClient::refresh);
}

void DevToolsClient::start()
{
    send(Method::Get, "/json/version", [this](const auto &body) { checked(body); });
}

void DevToolsClient::closeTab(const QByteArray &tabId)
{
    // The answer does not matter: a tab that stays is simply listed again.
    send(Method::Put, "/json/close/" + tabId.toPercentEncoding(), [](const auto &) {});
}

void DevToolsClient::send(Method method, const QByteArray &path, Handler handler)
{
    if (m_failed)
        return;
    QNetworkRequest request(QUrl::fromEncoded(
        "http://127.0.0.1:" + QByteArray::number(m_endpoint.port) + path, QUrl::StrictMode));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(m_settings.requestTimeoutMs);
    QNetworkReply *reply =
        method == Method::Get ? m_network.get(request) : m_network.put(request, QByteArray());

    // The transfer timeout restarts with every byte; a browser that trickles is cut off too.
    QTimer::singleShot(m_settings.requestTimeoutMs, reply, &QNetworkReply::abort);
    const qint64 cap = m_settings.maxAnswerBytes;
    connect(reply, &QNetworkReply::downloadProgress, reply,
            [reply, cap](qint64 received, qint64 total) {
                if (received > cap || total > cap)
                    reply->abort();
            });
    connect(reply, &QNetworkReply::finished, this, [this, reply, handler = std::move(handler)] {
        if (m_failed)
            return;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() != QNetworkReply::NoError || status != 200)
            handler(std::nullopt);
        else
            handler(reply->read(m_settings.maxAnswerBytes));
    });
}

void DevToolsClient::checked(const std::optional<QByteArray> &body)
{
    if (!body || !DevToolsAnswers::isBrowser(*body, m_endpoint.browserTarget))
        return fail();
    refresh();
}

void DevToolsClient::refresh()
{
    send(Method::Get, "/json/list", [this](const auto &body) { listed(body); });
}

void DevToolsClient::listed(const std::optional<QByteArray> &body)
{
    if (!body)
        return fail();
    std::optional<QList<BrowserPage>> pages = DevToolsAnswers::pages(*body);
    if (!pages)
        return fail();
    m_snapshot.publish(m_endpoint.port, m_endpoint.pid, std::move(*pages));
    m_refreshTimer.start();
}

void DevToolsClient::fail()
{
    if (m_failed)
        return;
    m_failed = true;
    m_refreshTimer.stop();
    emit failed();
}
