#include "support/TitledPageServer.h"

#include <QTcpSocket>

namespace {

QString decodedPath(const QByteArray &path)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(path));
}

QString decodedPath(const QString &address)
{
    return decodedPath(QUrl(address).path(QUrl::FullyEncoded).toUtf8());
}

qint64 timeOf(const QHash<QString, qint64> &times, const QString &address)
{
    return times.value(decodedPath(address), -1);
}

// sendBeacon still reaches the server from a page that is being closed.
constexpr const char *reportScript =
    "<script>"
    "addEventListener('load', () => navigator.sendBeacon('/report/load' + location.pathname));"
    "addEventListener('pagehide', () => navigator.sendBeacon('/report/gone' + location.pathname));"
    "</script>";

// Asks for the next addresses once the previous answer came, so none is opened twice.
constexpr const char *openerScript =
    "<script>"
    "async function poll() {"
    "  try {"
    "    const answer = await fetch('/to-open', {cache: 'no-store'});"
    "    for (const address of (await answer.text()).split('\\n').filter(a => a))"
    "      window.open(address);"
    "  } catch (error) {}"
    "  setTimeout(poll, 100);"
    "}"
    "poll();"
    "</script>";

} // namespace

TitledPageServer::TitledPageServer()
{
    m_clock.start();
    m_server.listen(QHostAddress::LocalHost);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QString TitledPageServer::address(const QString &prefix, const QString &title,
                                  const QString &path) const
{
    return u"http://127.0.0.1:%1/%2/"_qs.arg(m_server.serverPort()).arg(prefix) +
           QString::fromLatin1(QUrl::toPercentEncoding(title)) + u'/' + path;
}

QString TitledPageServer::url(const QString &title, const QString &path) const
{
    return address(u"t"_qs, title, path);
}

QString TitledPageServer::reportingUrl(const QString &title, const QString &path) const
{
    return address(u"r"_qs, title, path);
}

QString TitledPageServer::openerUrl(const QString &title) const
{
    return address(u"o"_qs, title, {});
}

qint64 TitledPageServer::requestedAt(const QString &address) const
{
    return timeOf(m_requested, address);
}

qint64 TitledPageServer::loadedAt(const QString &address) const
{
    return timeOf(m_loaded, address);
}

qint64 TitledPageServer::goneAt(const QString &address) const
{
    return timeOf(m_gone, address);
}

void TitledPageServer::openFromPage(const QStringList &addresses)
{
    m_toOpen += addresses;
}

// One request per connection: the answer closes it.
void TitledPageServer::serve(QTcpSocket *socket)
{
    QByteArray pending = socket->property("pending").toByteArray() + socket->readAll();
    socket->setProperty("pending", pending);
    if (!pending.contains("\r\n\r\n") || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);
    const QList<QByteArray> requestLine = pending.left(pending.indexOf("\r\n")).split(' ');
    const QByteArray path = requestLine.value(1);
    const qint64 now = m_clock.elapsed();
    const QString requested = decodedPath(path.split('?').constFirst());
    if (!m_requested.contains(requested))
        m_requested.insert(requested, now);
    QByteArray body;
    QByteArray status = "200 OK";
    QByteArray type = "text/html; charset=utf-8";
    const QByteArray kind = path.mid(1, 2);
    if (kind == "t/" || kind == "r/" || kind == "o/") {
        const QByteArray encoded = path.mid(3, path.indexOf('/', 3) - 3);
        const QString title = QString::fromUtf8(QByteArray::fromPercentEncoding(encoded));
        body = "<!doctype html><html><head><meta charset=\"utf-8\"><title>" +
               title.toHtmlEscaped().toUtf8() + "</title>" +
               (kind == "r/"   ? reportScript
                : kind == "o/" ? openerScript
                               : "") +
               "</head><body><p>Vexlor test page</p></body></html>";
    } else if (path.startsWith("/report/load/")) {
        m_loaded.insert(decodedPath(path.mid(12)), now);
        status = "204 No Content";
    } else if (path.startsWith("/report/gone/")) {
        m_gone.insert(decodedPath(path.mid(12)), now);
        status = "204 No Content";
    } else if (path == "/to-open") {
        body = m_toOpen.join(u'\n').toUtf8();
        type = "text/plain; charset=utf-8";
        m_toOpen.clear();
    } else {
        status = "404 Not Found";
        body = "<!doctype html><title>Not found</title>";
    }
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: " + type +
                  "\r\nCache-Control: no-store\r\nConnection: close\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket->disconnectFromHost();
}
