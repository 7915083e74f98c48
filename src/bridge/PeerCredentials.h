#pragma once

#include <QtGlobal>

#include <optional>

class QLocalSocket;

// Who is at the other end of a connected local socket, as the kernel recorded it when the
// connection was made (SO_PEERCRED): nothing the peer says about itself.
struct PeerCredentials
{
    qint64 pid = 0;
    uint uid = 0;
};

std::optional<PeerCredentials> peerCredentials(qintptr descriptor);
std::optional<PeerCredentials> peerCredentials(const QLocalSocket &socket);
