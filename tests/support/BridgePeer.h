#pragma once

#include "bridge/Framing.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLocalSocket>
#include <QObject>

// One end of the bridge's socket as a test drives it: it sends framed messages and keeps every
// frame it receives. Stands for the host in front of the program's source.
class BridgePeer : public QObject
{
    Q_OBJECT

public:
    explicit BridgePeer(const QString &socketPath);

    bool waitForConnected() { return m_socket.waitForConnected(5000); }
    bool isConnected() const { return m_socket.state() == QLocalSocket::ConnectedState; }
    void disconnectFromServer() { m_socket.abort(); }

    void send(const QByteArray &payload) { sendRaw(frameOf(payload)); }
    void sendRaw(const QByteArray &bytes);
    void sendHello(qint64 browserPid, const QString &browser = QStringLiteral("firefox-esr"));
    void sendTabs(const QJsonArray &tabs);

    static QJsonObject tab(qint64 id, const QString &title, const QString &url);

    // Every frame received so far, oldest first.
    const QList<QByteArray> &received() const { return m_received; }

private:
    QLocalSocket m_socket;
    FrameReader m_reader;
    QList<QByteArray> m_received;
};
