#include "support/FakeBidiBrowser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QWebSocket>

namespace {

QJsonObject success(const QJsonValue &id, const QJsonObject &result)
{
    return {{u"type"_qs, u"success"_qs}, {u"id"_qs, id}, {u"result"_qs, result}};
}

QJsonObject failure(const QJsonValue &id, const QString &error, const QString &message)
{
    return {{u"type"_qs, u"error"_qs},
            {u"id"_qs, id},
            {u"error"_qs, error},
            {u"message"_qs, message},
            {u"stacktrace"_qs, QString()}};
}

constexpr int answerDelayMs = 2;

} // namespace

FakeBidiBrowser::FakeBidiBrowser(qint64 processId)
    : m_server(u"fake firefox"_qs, QWebSocketServer::NonSecureMode), m_processId(processId)
{
    m_server.listen(QHostAddress::LocalHost);
    connect(&m_server, &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            m_origins.append(socket->origin());
            connect(socket, &QWebSocket::textMessageReceived, this,
                    [this, socket](const QString &text) { received(socket, text); });
            connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QStringList FakeBidiBrowser::contexts() const
{
    QStringList contexts;
    for (const Tab &tab : m_tabs)
        contexts.append(tab.context);
    return contexts;
}

void FakeBidiBrowser::vanish()
{
    m_server.close();
    for (QWebSocket *socket : findChildren<QWebSocket *>())
        socket->abort();
}

int FakeBidiBrowser::count(const QString &method) const
{
    return static_cast<int>(
        std::count_if(m_commands.cbegin(), m_commands.cend(),
                      [&](const auto &c) { return c.value(u"method").toString() == method; }));
}

void FakeBidiBrowser::received(QWebSocket *socket, const QString &text)
{
    const QJsonObject command = QJsonDocument::fromJson(text.toUtf8()).object();
    m_commands.append(command);
    if (socket->property("busy").toBool())
        m_overlapped = true;
    const QString method = command.value(u"method").toString();
    const bool sessionCommand = method == u"session.new" || method == u"session.end";
    if (m_answer == Answer::Silence && !sessionCommand) {
        socket->setProperty("busy", true);
        return;
    }
    QByteArray message;
    if (m_answer == Answer::Garbage && !sessionCommand)
        message = "<html>this is no WebDriver</html>";
    else if (m_answer == Answer::Huge && !sessionCommand)
        message =
            QJsonDocument(success(command.value(u"id"), {{u"padding"_qs, QString(hugeSize, u'x')}}))
                .toJson(QJsonDocument::Compact);
    else
        message = QJsonDocument(answer(socket, command)).toJson(QJsonDocument::Compact);
    if (m_answer == Answer::Silence)
        return;
    socket->setProperty("busy", true);
    QTimer::singleShot(answerDelayMs, socket, [socket, message] {
        socket->setProperty("busy", false);
        socket->sendTextMessage(QString::fromUtf8(message));
    });
}

QJsonObject FakeBidiBrowser::answer(QWebSocket *socket, const QJsonObject &command)
{
    const QJsonValue id = command.value(u"id");
    const QString method = command.value(u"method").toString();
    const QJsonObject params = command.value(u"params").toObject();

    if (method == u"session.new") {
        if (m_session != Session::None)
            return failure(id, u"session not created"_qs, u"Maximum number of active sessions"_qs);
        m_session = Session::Ours;
        m_sessionSocket = socket;
        const QJsonObject capabilities{{u"browserName"_qs, u"firefox"_qs},
                                       {u"moz:processID"_qs, m_processId}};
        return success(id,
                       {{u"sessionId"_qs, u"fake-session"_qs}, {u"capabilities"_qs, capabilities}});
    }
    if (m_session != Session::Ours || m_sessionSocket != socket)
        return failure(id, u"invalid session id"_qs, u"WebDriver session does not exist"_qs);
    if (method == u"session.end") {
        m_session = Session::None;
        m_sessionSocket = nullptr;
        return success(id, {});
    }
    if (method == u"browsingContext.getTree")
        return success(id, treeResult());

    const QString context =
        params.value(u"context")
            .toString(params.value(u"target").toObject().value(u"context").toString());
    const auto tab = std::find_if(m_tabs.begin(), m_tabs.end(),
                                  [&](const Tab &t) { return t.context == context; });
    if (tab == m_tabs.end())
        return failure(id, u"no such frame"_qs, u"Browsing context not found"_qs);
    if (method == u"script.evaluate") {
        const bool sandboxed =
            !params.value(u"target").toObject().value(u"sandbox").toString().isEmpty();
        if (tab->titleFails || !sandboxed ||
            !params.value(u"expression").toString().contains(u"document.title"))
            return failure(id, u"unknown error"_qs, u"cannot evaluate here"_qs);
        const QJsonObject value{{u"type"_qs, u"string"_qs}, {u"value"_qs, tab->title}};
        return success(
            id, {{u"realm"_qs, u"realm-1"_qs}, {u"type"_qs, u"success"_qs}, {u"result"_qs, value}});
    }
    if (method == u"browsingContext.close") {
        if (m_tabs.size() > 1 && params.value(u"promptUnload").isBool() &&
            !params.value(u"promptUnload").toBool())
            m_tabs.erase(tab);
        return success(id, {});
    }
    return failure(id, u"unknown command"_qs, method);
}

QJsonObject FakeBidiBrowser::treeResult() const
{
    QJsonArray contexts;
    for (const Tab &tab : m_tabs) {
        contexts.append(QJsonObject{{u"context"_qs, tab.context},
                                    {u"url"_qs, tab.url},
                                    {u"children"_qs, QJsonValue::Null},
                                    {u"parent"_qs, QJsonValue::Null},
                                    {u"userContext"_qs, u"default"_qs},
                                    {u"clientWindow"_qs, u"window-1"_qs}});
    }
    return {{u"contexts"_qs, contexts}};
}
