#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

// Plays a Chromium's DevTools HTTP endpoints on 127.0.0.1: /json/version, /json/list of the
// tabs the test sets, answered well or badly, and /json/close/<id>. Every request is kept.
class FakeDevTools : public QObject
{
public:
    enum class Answer
    {
        Normal,
        ServerError,
        Huge,            // far more than the client reads, with its length announced
        HugeUnannounced, // the same without a length
        Silence,         // takes the request and never answers
    };
    struct Tab
    {
        QString id;
        QString title;
    };
    static constexpr qint64 hugeSize = 4 * 1024 * 1024;
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
    Answer answer = Answer::Normal;
    bool honoursClose = true;
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
        if (request.startsWith("PUT /json/close/")) {
            const QString id = QString::fromUtf8(QByteArray::fromPercentEncoding(request.mid(16)));
            const auto tab =
                std::find_if(tabs.begin(), tabs.end(), [&](auto &t) { return t.id == id; });
            if (tab == tabs.end())
                return reply("404 Not Found", "No such target id");
            if (honoursClose)
                tabs.erase(tab);
            return reply("200 OK", "Target is closing");
        }
        if (request != "GET /json/list")
            return reply("404 Not Found", {});
        QJsonArray list;
        for (const Tab &tab : tabs)
            list.append(QJsonObject{{u"id"_qs, tab.id},
                                    {u"type"_qs, u"page"_qs},
                                    {u"title"_qs, tab.title},
                                    {u"url"_qs, u"https://"_qs + tab.id + u'/'}});
        switch (answer) {
        case Answer::Normal:
            return reply("200 OK", QJsonDocument(list).toJson());
        case Answer::ServerError:
            return reply("500 Internal Server Error", "[]");
        case Answer::Huge:
            return reply("200 OK", '[' + QByteArray(hugeSize, ' ') + ']');
        case Answer::HugeUnannounced:
            socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n[" +
                          QByteArray(hugeSize, ' '));
            return socket->disconnectFromHost();
        case Answer::Silence:
            return;
        }
    }

    QTcpServer m_server;
};
