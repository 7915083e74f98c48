#include "sources/tabs/DevToolsClient.h"

#include "sources/TabSnapshot.h"
#include "sources/tabs/SocketMessages.h"

#include <QJsonDocument>
#include <QNetworkProxy>
#include <QNetworkReply>

#include <algorithm>

namespace {

// How long after a tab changed its tabs are read at the polling pace: long enough for the page
// to set its title, short enough that an idle browser is only read now and then.
constexpr int settleMs = 3000;

} // namespace

DevToolsClient::DevToolsClient(const DebugEndpoint &endpoint, TabSnapshot &snapshot,
                               const TabSourceSettings &settings)
    : TabClient(endpoint, snapshot, settings), m_network(this), m_refreshTimer(this),
      // No origin: Chromium refuses WebSocket upgrades from origins it was not told to allow.
      m_socket(QString(), QWebSocketProtocol::VersionLatest, this), m_requestTimer(this)
{
    // Loopback only: no proxy, and no redirect is ever followed.
    m_network.setProxy(QNetworkProxy::NoProxy);
    m_network.setAutoDeleteReplies(true);
    m_refreshTimer.setSingleShot(true);
    connect(&m_refreshTimer, &QTimer::timeout, this,
            [this] { m_subscribed ? resync() : refresh(); });

    m_socket.setProxy(QNetworkProxy::NoProxy);
    m_socket.setMaxAllowedIncomingMessageSize(static_cast<quint64>(settings.maxAnswerBytes));
    m_socket.setMaxAllowedIncomingFrameSize(static_cast<quint64>(settings.maxAnswerBytes));
    connect(&m_socket, &QWebSocket::connected, this, [this] {
        command(u"Target.setDiscoverTargets"_qs, {{u"discover"_qs, true}},
                [this](const DevToolsAnswers::Message &answer) { subscribed(answer); });
    });
    connect(&m_socket, &QWebSocket::textMessageReceived, this, &DevToolsClient::received);
    onSocketLoss(m_socket, &DevToolsClient::socketLost);
    m_requestTimer.setSingleShot(true);
    connect(&m_requestTimer, &QTimer::timeout, this, &DevToolsClient::fail);
}

// The socket says it disconnected as it is destroyed, after the timers a loss would stop.
DevToolsClient::~DevToolsClient()
{
    m_socket.disconnect(this);
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
    const QByteArray path = DevToolsAnswers::browserSocketPath(*body);
    if (path.isEmpty())
        return poll();
    // The handshake counts as a request: a port that takes the connection and then says nothing
    // is cut off like a browser that stops answering.
    m_requestTimer.start(m_settings.requestTimeoutMs);
    m_socket.open(QUrl::fromEncoded("ws://127.0.0.1:" + QByteArray::number(m_endpoint.port) + path,
                                    QUrl::StrictMode));
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
    m_refreshTimer.start(m_settings.refreshIntervalMs);
}

void DevToolsClient::command(const QString &method, const QJsonObject &params,
                             CommandHandler handler)
{
    const qint64 id = m_nextId++;
    m_inFlight = id;
    m_handler = std::move(handler);
    m_socket.sendTextMessage(SocketMessages::command(id, method, params));
    m_requestTimer.start(m_settings.requestTimeoutMs);
}

void DevToolsClient::received(const QString &text)
{
    if (m_failed || m_polling)
        return;
    const std::optional<DevToolsAnswers::Message> message = DevToolsAnswers::parse(text);
    if (!message)
        return fail();
    if (const std::optional<DevToolsAnswers::TabChange> change =
            DevToolsAnswers::tabChange(*message))
        return apply(*change);
    // Answers to commands given up on are not for the one in flight.
    if (!message->id || message->id != m_inFlight)
        return;
    m_requestTimer.stop();
    m_inFlight.reset();
    std::exchange(m_handler, {})(*message);
}

// The browser tells of every target it has before it answers, so the tabs are all known now.
void DevToolsClient::subscribed(const DevToolsAnswers::Message &answer)
{
    if (!answer.success)
        return poll();
    m_subscribed = true;
    m_snapshot.publish(m_endpoint.port, m_endpoint.pid, m_tabs);
    m_refreshTimer.start(m_settings.resyncIntervalMs);
}

// Events and answers come in the order the browser made them, so the answer is the whole truth
// at its place among the events.
void DevToolsClient::resync()
{
    command(u"Target.getTargets"_qs, {}, [this](const DevToolsAnswers::Message &answer) {
        std::optional<QList<BrowserPage>> tabs = DevToolsAnswers::targets(answer);
        if (!tabs)
            return fail();
        m_tabs = std::move(*tabs);
        m_snapshot.publish(m_endpoint.port, m_endpoint.pid, m_tabs);
        m_refreshTimer.start(m_settling.hasExpired() ? m_settings.resyncIntervalMs
                                                     : m_settings.refreshIntervalMs);
    });
}

// Chromium tells of a tab's address as it navigates, but not of the title its page sets then.
void DevToolsClient::settle()
{
    m_settling.setRemainingTime(settleMs);
    if (m_refreshTimer.remainingTime() > m_settings.refreshIntervalMs)
        m_refreshTimer.start(m_settings.refreshIntervalMs);
}

void DevToolsClient::apply(const DevToolsAnswers::TabChange &change)
{
    const auto tab = std::find_if(m_tabs.begin(), m_tabs.end(), [&](const BrowserPage &page) {
        return page.handle.id == change.id;
    });
    if (!change.page && tab == m_tabs.end())
        return;
    if (!change.page)
        m_tabs.erase(tab);
    else if (tab != m_tabs.end())
        *tab = *change.page;
    else if (m_tabs.size() < kMaxRows)
        m_tabs.append(*change.page);
    else
        return;
    if (!m_subscribed)
        return;
    m_snapshot.publish(m_endpoint.port, m_endpoint.pid, m_tabs);
    settle();
}

// A socket lost before the browser agreed to tell of its targets leaves the HTTP endpoints; one
// lost afterwards is a browser that went or sent too much.
void DevToolsClient::socketLost()
{
    if (m_failed || m_polling)
        return;
    if (m_subscribed)
        return fail();
    poll();
}

void DevToolsClient::poll()
{
    m_polling = true;
    m_requestTimer.stop();
    m_inFlight.reset();
    m_tabs.clear();
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    refresh();
}

void DevToolsClient::fail()
{
    if (m_failed)
        return;
    m_failed = true;
    m_refreshTimer.stop();
    m_requestTimer.stop();
    m_socket.abort();
    emit failed();
}
