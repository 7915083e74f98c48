#include "support/TitledPageServer.h"

#include <QTcpSocket>

TitledPageServer::TitledPageServer()
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

QString TitledPageServer::url(const QString &title, const QString &path) const
{
    return u"http://127.0.0.1:%1/t/"_qs.arg(m_server.serverPort()) +
           QString::fromLatin1(QUrl::toPercentEncoding(title)) + u'/' + path;
}

// One request per connection: the answer closes it.
void TitledPageServer::serve(QTcpSocket *socket)
{
    QByteArray pending = socket->property("pending").toByteArray() + socket->readAll();
    socket->setProperty("pending", pending);
    if (!pending.contains("\r\n\r\n"))
        return;
    const QList<QByteArray> requestLine = pending.left(pending.indexOf("\r\n")).split(' ');
    const QByteArray path = requestLine.value(1);
    QByteArray body;
    QByteArray status = "200 OK";
    if (path.startsWith("/t/")) {
        const QByteArray encoded = path.mid(3, path.indexOf('/', 3) - 3);
        const QString title = QString::fromUtf8(QByteArray::fromPercentEncoding(encoded));
        body = "<!doctype html><html><head><meta charset=\"utf-8\"><title>" +
               title.toHtmlEscaped().toUtf8() + "</title></head><body><p>Vexlor test page</p>" +
               "</body></html>";
    } else {
        status = "404 Not Found";
        body = "<!doctype html><title>Not found</title>";
    }
    socket->write("HTTP/1.1 " + status +
                  "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
                  "Connection: close\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket->disconnectFromHost();
}
