#include "bridge/PeerCredentials.h"

#include <QLocalSocket>

#include <sys/socket.h>

std::optional<PeerCredentials> peerCredentials(qintptr descriptor)
{
    if (descriptor < 0)
        return std::nullopt;
    ucred credentials = {};
    socklen_t size = sizeof credentials;
    if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) !=
            0 ||
        size != sizeof credentials)
        return std::nullopt;
    return PeerCredentials{credentials.pid, credentials.uid};
}

std::optional<PeerCredentials> peerCredentials(const QLocalSocket &socket)
{
    if (socket.state() != QLocalSocket::ConnectedState)
        return std::nullopt;
    return peerCredentials(socket.socketDescriptor());
}
