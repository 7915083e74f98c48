#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

// Plays a Chromium's DevTools HTTP endpoints on 127.0.0.1: /json/version, /json/list of the
// tabs the test sets or any answer, and the browser WebSocket, which tells of targets when asked
// to. Every HTTP request is kept.
class FakeDevTools : public QObject
{
public:
    struct Tab
    {
        QString id;
        QString title;
    };
    // The browser's own target, named in /json/version.
    static constexpr const char *browserTarget = "/devtools/browser/fake";

    FakeDevTools()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            }
        });
        connect(&m_sockets, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket *socket = m_sockets.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QWebSocket::textMessageReceived, this,
                        [this, socket](const QString &text) { command(socket, text); });
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    // Stops listening and drops every connection, as a browser that quits.
    void vanish()
    {
        m_server.close();
        qDeleteAll(findChildren<QWebSocket *>());
        qDeleteAll(findChildren<QTcpSocket *>());
    }
    // Tells of a tab that opened without listing it, as a browser whose lists lag its events.
    void announce(const Tab &tab)
    {
        const QJsonObject event{{u"method"_qs, u"Target.targetCreated"_qs},
                                {u"params"_qs, QJsonObject{{u"targetInfo"_qs, target(tab)}}}};
        for (QWebSocket *socket : findChildren<QWebSocket *>())
            if (socket->property("discovers").toBool())
                socket->sendTextMessage(QString::fromUtf8(QJsonDocument(event).toJson()));
    }

    QList<Tab> tabs;
    // A whole answer to /json/list, sent instead of the tabs, after which the connection
    // closes; an empty one is never sent, as by a browser that stalls.
    // On the WebSocket, it stands for the answer to every command.
    std::optional<QByteArray> listAnswer;
    bool refusesEvents = false;
    QByteArrayList requests;

private:
    // Requests come one after another on a kept-alive connection; none carries a body.
    void serve(QTcpSocket *socket)
    {
        if (socket->peek(64).startsWith("GET /devtools/browser/")) {
            socket->disconnect(this);
            return m_sockets.handleConnection(socket);
        }
        QByteArray pending = socket->property("pending").toByteArray() + socket->readAll();
        for (qsizetype end = pending.indexOf("\r\n\r\n"); end >= 0;
             end = pending.indexOf("\r\n\r\n")) {
            const QByteArrayList words = pending.left(pending.indexOf("\r\n")).split(' ');
            pending.remove(0, end + 4);
            requests.append(words.value(0) + ' ' + words.value(1));
            respond(socket, requests.last());
        }
        socket->setProperty("pending", pending);
    }

    void respond(QTcpSocket *socket, const QByteArray &request)
    {
        const auto reply = [socket](const QByteArray &status, const QByteArray &body) {
            socket->write("HTTP/1.1 " + status + "\r\nContent-Length: " +
                          QByteArray::number(body.size()) + "\r\n\r\n" + body);
        };
        if (request == "GET /json/version")
            return reply("200 OK", R"({"Browser": "Chrome/156.0.0.0", "webSocketDebuggerUrl": )"
                                   "\"ws://127.0.0.1:9222" +
                                       QByteArray(browserTarget) + "\"}");
        if (request != "GET /json/list")
            return reply("404 Not Found", {});
        if (listAnswer) {
            socket->write(*listAnswer);
            return listAnswer->isEmpty() ? void() : socket->disconnectFromHost();
        }
        QJsonArray list;
        for (const Tab &tab : tabs)
            list.append(target(tab));
        reply("200 OK", QJsonDocument(list).toJson());
    }

    // Chromium tells of every target it has before it answers the subscription.
    void command(QWebSocket *socket, const QString &text)
    {
        const QJsonObject command = QJsonDocument::fromJson(text.toUtf8()).object();
        const QString method = command.value(u"method").toString();
        if (listAnswer)
            return listAnswer->isEmpty()
                       ? void()
                       : void(socket->sendTextMessage(QString::fromLatin1(*listAnswer)));
        QJsonObject answer{{u"id"_qs, command.value(u"id")}, {u"result"_qs, QJsonObject()}};
        QJsonArray infos;
        for (const Tab &tab : tabs)
            infos.append(target(tab));
        if (method != u"Target.setDiscoverTargets")
            answer.insert(u"result"_qs, QJsonObject{{u"targetInfos"_qs, infos}});
        else if (refusesEvents)
            answer = {{u"id"_qs, command.value(u"id")}, {u"error"_qs, QJsonObject()}};
        else if (socket->setProperty("discovers", true))
            for (const Tab &tab : tabs)
                announce(tab);
        socket->sendTextMessage(QString::fromUtf8(QJsonDocument(answer).toJson()));
    }
    static QJsonObject target(const Tab &tab)
    {
        return {{u"id"_qs, tab.id},
                {u"targetId"_qs, tab.id},
                {u"type"_qs, u"page"_qs},
                {u"title"_qs, tab.title},
                {u"url"_qs, u"https://"_qs + tab.id + u'/'}};
    }

    QTcpServer m_server;
    QWebSocketServer m_sockets{u"chromium"_qs, QWebSocketServer::NonSecureMode};
};
