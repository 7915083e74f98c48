#include "support/BridgePeer.h"

#include "bridge/BridgeMessages.h"

#include <QJsonDocument>

BridgePeer::BridgePeer(const QString &socketPath)
{
    connect(&m_socket, &QLocalSocket::readyRead, this, [this] {
        m_reader.append(m_socket.readAll());
        while (const auto frame = m_reader.next())
            m_received.append(frame->payload);
    });
    m_socket.connectToServer(socketPath);
}

void BridgePeer::sendRaw(const QByteArray &bytes)
{
    m_socket.write(bytes);
    m_socket.flush();
}

void BridgePeer::sendHello(qint64 browserPid, const QString &browser)
{
    send(BridgeMessages::hello(browserPid, browser));
}

void BridgePeer::sendTabs(const QJsonArray &tabs)
{
    send(QJsonDocument(QJsonObject{{u"tabs"_qs, tabs}}).toJson(QJsonDocument::Compact));
}

QJsonObject BridgePeer::tab(qint64 id, const QString &title, const QString &url)
{
    return {{u"id"_qs, id}, {u"windowId"_qs, 1}, {u"title"_qs, title}, {u"url"_qs, url}};
}
