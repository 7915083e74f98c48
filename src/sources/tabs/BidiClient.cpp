#include "sources/tabs/BidiClient.h"

#include "sources/TabSnapshot.h"
#include "sources/tabs/SocketMessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkProxy>
#include <QNetworkRequest>

#include <algorithm>

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
    onSocketLoss(m_socket, &BidiClient::lost);

    m_requestTimer.setSingleShot(true);
    connect(&m_requestTimer, &QTimer::timeout, this, &BidiClient::fail);
    m_refreshTimer.setSingleShot(true);
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
    if (m_ending)
        return;
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
    // The socket says it disconnected as it is destroyed, after the timers a loss would stop.
    m_socket.disconnect(this);
}

void BidiClient::send(const QString &method, const QJsonObject &params, Handler handler)
{
    const qint64 id = m_nextId++;
    m_inFlight = id;
    m_handler = std::move(handler);
    m_socket.sendTextMessage(SocketMessages::command(id, method, params));
    m_requestTimer.start(m_settings.requestTimeoutMs);
}

// Sends what comes next once the browser answered the request in flight: ending the session
// when stopping, then tabs to close, then the next step of the reading under way.
void BidiClient::sendNext()
{
    if (m_inFlight || m_failed || m_ending || !m_session)
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
    if (!m_titleReads.isEmpty()) {
        const QByteArray context = m_titleReads.takeFirst();
        readTitle(context, [this, context](const BidiAnswers::Message &answer) {
            const std::optional<QString> title = BidiAnswers::evaluatedText(answer);
            const auto tab =
                std::find_if(m_current.begin(), m_current.end(),
                             [&](const BrowserPage &page) { return page.handle.id == context; });
            if (!title || tab == m_current.end() || tab->pageName == title)
                return;
            tab->pageName = *title;
            m_touched.insert(context);
            if (m_published)
                m_snapshot.publish(m_endpoint.port, m_endpoint.pid, m_current);
        });
        return;
    }
    switch (m_reading) {
    case Reading::Idle:
        return;
    case Reading::Subscribe:
        send(u"session.subscribe"_qs,
             {{u"events"_qs, QJsonArray::fromStringList(BidiAnswers::contextEvents())}},
             [this](const BidiAnswers::Message &answer) {
                 m_subscribed = answer.success;
                 m_reading = Reading::Tree;
             });
        return;
    case Reading::Tree:
        m_touched.clear();
        send(u"browsingContext.getTree"_qs, {{u"maxDepth"_qs, 0}},
             [this](const BidiAnswers::Message &answer) { treeAnswered(answer); });
        return;
    case Reading::Titles:
        if (m_nextTitle < m_pages.size()) {
            readTitle(m_pages[m_nextTitle].handle.id,
                      [this](const BidiAnswers::Message &answer) { titleAnswered(answer); });
            return;
        }
        readingDone();
        return;
    }
}

void BidiClient::readTitle(const QByteArray &context, Handler handler)
{
    const QJsonObject target{{u"context"_qs, QString::fromUtf8(context)},
                             {u"sandbox"_qs, sandboxName}};
    send(u"script.evaluate"_qs,
         {{u"expression"_qs, titleExpression}, {u"target"_qs, target}, {u"awaitPromise"_qs, false}},
         std::move(handler));
}

// What events told during the reading wins over what the reading found.
void BidiClient::readingDone()
{
    QList<BrowserPage> tabs;
    const auto current = [this](const QByteArray &id) {
        return std::find_if(m_current.cbegin(), m_current.cend(),
                            [&](const BrowserPage &page) { return page.handle.id == id; });
    };
    for (const BrowserPage &page : std::exchange(m_pages, {})) {
        if (!m_touched.remove(page.handle.id))
            tabs.append(page);
        else if (const auto told = current(page.handle.id); told != m_current.cend())
            tabs.append(*told);
    }
    for (const QByteArray &id : std::as_const(m_touched)) {
        if (const auto told = current(id); told != m_current.cend() && tabs.size() < kMaxRows)
            tabs.append(*told);
    }
    m_touched.clear();
    m_current = tabs;
    m_published = true;
    m_snapshot.publish(m_endpoint.port, m_endpoint.pid, std::move(tabs));
    m_reading = Reading::Idle;
    m_refreshTimer.start(m_subscribed ? m_settings.resyncIntervalMs : m_settings.refreshIntervalMs);
}

void BidiClient::eventReceived(const BidiAnswers::ContextEvent &event)
{
    using Kind = BidiAnswers::ContextEvent::Kind;
    const auto tab = std::find_if(m_current.begin(), m_current.end(), [&](const BrowserPage &page) {
        return page.handle.id == event.context;
    });
    if (event.kind == Kind::Created) {
        if (tab != m_current.end() || m_current.size() >= kMaxRows)
            return;
        m_current.append(BrowserPage{std::nullopt, event.url, WindowHandle{0, event.context}});
    } else if (tab == m_current.end()) {
        // A frame, or a tab that went.
        return;
    } else if (event.kind == Kind::Destroyed) {
        m_current.erase(tab);
    } else {
        // The title read before a navigation is the page's that is leaving.
        if (event.kind == Kind::Navigating)
            tab->pageName.reset();
        if (event.url)
            tab->address = event.url;
        if (event.kind == Kind::Loaded && !m_titleReads.contains(event.context))
            m_titleReads.append(event.context);
    }
    m_touched.insert(event.context);
    if (m_published)
        m_snapshot.publish(m_endpoint.port, m_endpoint.pid, m_current);
}

void BidiClient::received(const QString &text)
{
    if (m_failed)
        return;
    const std::optional<BidiAnswers::Message> message = BidiAnswers::parse(text);
    if (!message)
        return fail();
    if (const std::optional<BidiAnswers::ContextEvent> event =
            BidiAnswers::contextEvent(*message)) {
        if (m_session && !m_ending)
            eventReceived(*event);
        return sendNext();
    }
    // Answers to requests given up on are not for the request in flight.
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
    m_reading = Reading::Subscribe;
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

// Asks for the session's end without waiting, where there is no time left to wait: Firefox
// ends it if it can still answer. A session.new left unanswered may have made a session too.
void BidiClient::endSessionAndClose()
{
    if ((m_session || m_sessionAsked) && !m_sessionEndSent &&
        m_socket.state() == QAbstractSocket::ConnectedState) {
        m_socket.sendTextMessage(SocketMessages::command(m_nextId++, u"session.end"_qs, {}));
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

// Firefox ends a session only once its answer to session.end went out: a connection closed
// before that leaves the session behind, and every later one is refused while Firefox runs. So
// the connection stays open until that answer, for a request's time at most; the request given
// up on is answered to nobody.
void BidiClient::fail()
{
    if (m_failed)
        return;
    m_refreshTimer.stop();
    if (!m_ending && (m_session || m_sessionAsked) && !m_sessionEndSent &&
        m_socket.state() == QAbstractSocket::ConnectedState) {
        m_ending = true;
        m_inFlight.reset();
        m_sessionEndSent = true;
        send(u"session.end"_qs, {}, [this](const BidiAnswers::Message &) {
            m_session = m_sessionAsked = false;
            fail();
        });
        return;
    }
    m_failed = true;
    m_requestTimer.stop();
    endSessionAndClose();
    if (m_stopping)
        emit stopped();
    else
        emit failed();
}
