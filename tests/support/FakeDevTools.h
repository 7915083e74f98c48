#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

// Plays a Chromium's DevTools HTTP endpoints on 127.0.0.1: /json/version, /json/list of the
// tabs the test sets or any answer. Every request is kept.
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
    }

    quint16 port() const { return m_server.serverPort(); }
    // Stops listening and drops every connection, as a browser that quits.
    void vanish()
    {
        m_server.close();
        qDeleteAll(findChildren<QTcpSocket *>());
    }

    QList<Tab> tabs;
    // A whole answer to /json/list, sent instead of the tabs, after which the connection
    // closes; an empty one is never sent, as by a browser that stalls.
    std::optional<QByteArray> listAnswer;
    QByteArrayList requests;

private:
    // Requests come one after another on a kept-alive connection; none carries a body.
    void serve(QTcpSocket *socket)
    {
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
                                   "\"ws://127.0.0.1/" +
                                       QByteArray(browserTarget) + "\"}");
        if (request != "GET /json/list")
            return reply("404 Not Found", {});
        if (listAnswer) {
            socket->write(*listAnswer);
            return listAnswer->isEmpty() ? void() : socket->disconnectFromHost();
        }
        QJsonArray list;
        for (const Tab &tab : tabs)
            list.append(QJsonObject{{u"id"_qs, tab.id},
                                    {u"type"_qs, u"page"_qs},
                                    {u"title"_qs, tab.title},
                                    {u"url"_qs, u"https://"_qs + tab.id + u'/'}});
        reply("200 OK", QJsonDocument(list).toJson());
    }

    QTcpServer m_server;
};
