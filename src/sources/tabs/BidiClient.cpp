#include "sources/tabs/BidiClient.h"

#include "sources/TabSnapshot.h"

#include <QJsonDocument>
#include <QNetworkProxy>
#include <QNetworkRequest>

namespace {

// The sandbox keeps the page's own scripts from seeing the reading or faking its result, and
// the slice keeps a huge title from making a huge answer.
const QString titleExpression =
    QStringLiteral("String(document.title).slice(0, %1)").arg(kMaxTextLength);
const QString sandboxName = QStringLiteral("vexlor");

} // namespace

BidiClient::BidiClient(const DebugEndpoint &endpoint, TabSnapshot &snapshot,
                       const TabSourceSettings &settings)
    : TabClient(endpoint, snapshot, settings),
      // No origin: Firefox refuses WebSocket upgrades that carry an Origin header.
      m_socket(QString(), QWebSocketProtocol::VersionLatest, this), m_requestTimer(this),
      m_refreshTimer(this)
{
    m_socket.setProxy(QNetworkProxy::NoProxy);
    m_socket.setMaxAllowedIncomingMessageSize(static_cast<quint64>(settings.maxAnswerBytes));
    m_socket.setMaxAllowedIncomingFrameSize(static_cast<quint64>(settings.maxAnswerBytes));
    connect(&m_socket, &QWebSocket::connected, this, [this] {
        m_sessionAsked = true;
        send(u"session.new"_qs, {{u"capabilities"_qs, QJsonObject()}},
             [this](const BidiAnswers::Message &answer) { sessionAnswered(answer); });
        m_requestTimer.start(m_settings.sessionTimeoutMs);
    });
    connect(&m_socket, &QWebSocket::textMessageReceived, this, &BidiClient::received);
    connect(&m_socket, &QWebSocket::disconnected, this, &BidiClient::lost);
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    connect(&m_socket, &QWebSocket::errorOccurred, this, &BidiClient::lost);
#else
    connect(&m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            &BidiClient::lost);
#endif

    m_requestTimer.setSingleShot(true);
    connect(&m_requestTimer, &QTimer::timeout, this, &BidiClient::fail);
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(settings.refreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, [this] {
        m_reading = Reading::Tree;
        sendNext();
    });
}

void BidiClient::start()
{
    QNetworkRequest request(
        QUrl(u"ws://127.0.0.1:%1/session"_qs.arg(static_cast<unsigned>(m_endpoint.port))));
    // The handshake counts as a request too: a port that takes the connection and then says
    // nothing is cut off like a browser that stops answering.
    m_requestTimer.start(m_settings.requestTimeoutMs);
    m_socket.open(request);
}

void BidiClient::closeTab(const QByteArray &tabId)
{
    if (!m_session || m_failed || m_stopping)
        return;
    m_closing.append(tabId);
    sendNext();
}

// A session.new still unanswered is waited for too, so that its session can be ended.
void BidiClient::stop()
{
    m_stopping = true;
    m_refreshTimer.stop();
    if ((!m_session && !m_sessionAsked) || m_failed ||
        m_socket.state() != QAbstractSocket::ConnectedState) {
        m_failed = true;
        m_socket.abort();
        emit stopped();
        return;
    }
    // A reading in flight is given up on, its answer ignored when it comes, so that a slow
    // browser does not hold back the end of the session.
    if (m_session)
        m_inFlight.reset();
    sendNext();
}

// A session.new still unanswered when the program had to go may have made a session.
BidiClient::~BidiClient()
{
    if (!m_failed)
        endSessionAndClose();
}

void BidiClient::send(const QString &method, const QJsonObject &params, Handler handler)
{
    const qint64 id = m_nextId++;
    m_inFlight = id;
    m_handler = std::move(handler);
    const QJsonObject command{{u"id"_qs, id}, {u"method"_qs, method}, {u"params"_qs, params}};
    m_socket.sendTextMessage(
        QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact)));
    m_requestTimer.start(m_settings.requestTimeoutMs);
}

// Sends what comes next once the browser answered the request in flight: ending the session
// when stopping, then tabs to close, then the next step of the reading under way.
void BidiClient::sendNext()
{
    if (m_inFlight || m_failed || !m_session)
        return;
    if (m_stopping) {
        m_sessionEndSent = true;
        send(u"session.end"_qs, {}, [this](const BidiAnswers::Message &) {
            m_failed = true;
            m_session = false;
            m_socket.close();
            emit stopped();
        });
        return;
    }
    if (!m_closing.isEmpty()) {
        const QString context = QString::fromUtf8(m_closing.takeFirst());
        send(u"browsingContext.close"_qs, {{u"context"_qs, context}, {u"promptUnload"_qs, false}},
             [](const BidiAnswers::Message &) {});
        return;
    }
    switch (m_reading) {
    case Reading::Idle:
        return;
    case Reading::Tree:
        send(u"browsingContext.getTree"_qs, {{u"maxDepth"_qs, 0}},
             [this](const BidiAnswers::Message &answer) { treeAnswered(answer); });
        return;
    case Reading::Titles:
        if (m_nextTitle < m_pages.size()) {
            const QJsonObject target{
                {u"context"_qs, QString::fromUtf8(m_pages[m_nextTitle].handle.id)},
                {u"sandbox"_qs, sandboxName},
            };
            send(u"script.evaluate"_qs,
                 {{u"expression"_qs, titleExpression},
                  {u"target"_qs, target},
                  {u"awaitPromise"_qs, false}},
                 [this](const BidiAnswers::Message &answer) { titleAnswered(answer); });
            return;
        }
        m_snapshot.publish(m_endpoint.port, m_endpoint.pid, std::exchange(m_pages, {}));
        m_reading = Reading::Idle;
        m_refreshTimer.start();
        return;
    }
}

void BidiClient::received(const QString &text)
{
    if (m_failed)
        return;
    const std::optional<BidiAnswers::Message> message = BidiAnswers::parse(text);
    if (!message)
        return fail();
    // Events, and answers to requests given up on, are not for the request in flight.
    if (!m_inFlight || !BidiAnswers::answers(*message, *m_inFlight))
        return;
    m_requestTimer.stop();
    m_inFlight.reset();
    std::exchange(m_handler, {})(*message);
    sendNext();
}

void BidiClient::sessionAnswered(const BidiAnswers::Message &answer)
{
    m_sessionAsked = false;
    const BidiAnswers::Session session = BidiAnswers::session(answer);
    if (session.outcome != BidiAnswers::SessionOutcome::Accepted) {
        if (session.outcome == BidiAnswers::SessionOutcome::Refused)
            emit refused();
        return fail();
    }
    m_session = true;
    // A port file left behind by an earlier Firefox can name a port another one took since,
    // and whatever answers there must say it is the Firefox found: its word decides which
    // windows are closed.
    if (!session.processId || *session.processId != m_endpoint.pid)
        return fail();
    m_reading = Reading::Tree;
}

void BidiClient::treeAnswered(const BidiAnswers::Message &answer)
{
    std::optional<QList<BrowserPage>> pages = BidiAnswers::contexts(answer);
    if (!pages)
        return fail();
    m_pages = std::move(*pages);
    m_nextTitle = 0;
    m_reading = Reading::Titles;
}

// A tab that went meanwhile, or whose page cannot run scripts, keeps an unread title.
void BidiClient::titleAnswered(const BidiAnswers::Message &answer)
{
    if (const std::optional<QString> title = BidiAnswers::evaluatedText(answer))
        m_pages[m_nextTitle].pageName = *title;
    ++m_nextTitle;
}

// Ends the session without waiting for the answer: Firefox still reads what was sent before
// the connection closed. A session.new left unanswered may have made a session too.
void BidiClient::endSessionAndClose()
{
    if ((m_session || m_sessionAsked) && !m_sessionEndSent &&
        m_socket.state() == QAbstractSocket::ConnectedState) {
        const QJsonObject command{{u"id"_qs, m_nextId++},
                                  {u"method"_qs, u"session.end"_qs},
                                  {u"params"_qs, QJsonObject()}};
        m_socket.sendTextMessage(
            QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact)));
        m_socket.flush();
    }
    m_session = false;
    if (m_socket.state() == QAbstractSocket::ConnectedState)
        m_socket.close();
    else
        m_socket.abort();
}

void BidiClient::lost()
{
    if (m_failed)
        return;
    if (m_stopping) {
        m_failed = true;
        emit stopped();
        return;
    }
    fail();
}

void BidiClient::fail()
{
    if (m_failed)
        return;
    m_failed = true;
    m_requestTimer.stop();
    m_refreshTimer.stop();
    endSessionAndClose();
    if (m_stopping)
        emit stopped();
    else
        emit failed();
}
