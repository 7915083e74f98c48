#include "support/FakeDevTools.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

namespace {

QByteArray response(const QByteArray &status, const QByteArray &body)
{
    return "HTTP/1.1 " + status +
           "\r\nContent-Type: application/json; charset=UTF-8\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

} // namespace

FakeDevTools::FakeDevTools()
{
    m_server.listen(QHostAddress::LocalHost);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QJsonObject FakeDevTools::page(const QString &id, const QString &title, const QString &url)
{
    return {{u"description"_qs, QString()},
            {u"id"_qs, id},
            {u"title"_qs, title},
            {u"type"_qs, u"page"_qs},
            {u"url"_qs, url},
            {u"webSocketDebuggerUrl"_qs, u"ws://127.0.0.1/devtools/page/"_qs + id}};
}

void FakeDevTools::vanish()
{
    m_server.close();
    for (QTcpSocket *socket : findChildren<QTcpSocket *>())
        socket->abort();
}

int FakeDevTools::count(const QByteArray &requestLine) const
{
    return static_cast<int>(m_requests.count(requestLine));
}

// Requests come one after another on a kept-alive connection; none carries a body.
void FakeDevTools::serve(QTcpSocket *socket)
{
    QByteArray pending = socket->property("pending").toByteArray() + socket->readAll();
    for (qsizetype end = pending.indexOf("\r\n\r\n"); end >= 0; end = pending.indexOf("\r\n\r\n")) {
        const QByteArray head = pending.left(end);
        pending.remove(0, end + 4);
        const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
        if (requestLine.size() < 2)
            continue;
        m_requests.append(requestLine[0] + ' ' + requestLine[1]);
        answer(socket, requestLine[0], requestLine[1]);
    }
    socket->setProperty("pending", pending);
}

void FakeDevTools::answer(QTcpSocket *socket, const QByteArray &method, const QByteArray &path)
{
    if (method == "GET" && path == "/json/version") {
        const QJsonObject version{
            {u"Browser"_qs, u"Chrome/156.0.0.0"_qs},
            {u"Protocol-Version"_qs, u"1.3"_qs},
            {u"webSocketDebuggerUrl"_qs,
             u"ws://127.0.0.1:%1"_qs.arg(port()) + QString::fromLatin1(browserTarget)},
        };
        socket->write(response("200 OK", QJsonDocument(version).toJson()));
        return;
    }
    if (method == "PUT" && path.startsWith("/json/close/")) {
        const QString id = QString::fromUtf8(QByteArray::fromPercentEncoding(path.mid(12)));
        qsizetype found = -1;
        for (qsizetype i = 0; i < m_targets.size(); ++i) {
            if (m_targets[i].toObject().value(u"id").toString() == id)
                found = i;
        }
        if (found < 0) {
            socket->write(response("404 Not Found", "No such target id: " + id.toUtf8()));
            return;
        }
        if (m_honoursClose)
            m_targets.removeAt(found);
        socket->write(response("200 OK", "Target is closing"));
        return;
    }
    if (method != "GET" || path != "/json/list") {
        socket->write(response("404 Not Found", "Unknown command"));
        return;
    }
    switch (m_answer) {
    case Answer::Normal:
        socket->write(response("200 OK", QJsonDocument(m_targets).toJson()));
        return;
    case Answer::Garbage:
        socket->write(response("200 OK", "<html>Not JSON at all</html>"));
        return;
    case Answer::NotAList:
        socket->write(response("200 OK", R"({"targets": []})"));
        return;
    case Answer::ServerError:
        socket->write(response("500 Internal Server Error", "[]"));
        return;
    case Answer::Huge:
        socket->write(response("200 OK", "[" + QByteArray(hugeSize, ' ') + "]"));
        return;
    case Answer::HugeUnannounced:
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: "
                      "close\r\n\r\n[");
        socket->write(QByteArray(hugeSize, ' '));
        socket->disconnectFromHost();
        return;
    case Answer::Silence:
        return;
    }
}
