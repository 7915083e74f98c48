#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// A browser process that listens for remote debugging on a loopback port.
struct DebugEndpoint
{
    enum class Kind
    {
        Chromium, // the DevTools HTTP endpoints
        Firefox,  // WebDriver BiDi over a WebSocket
    };

    Kind kind = Kind::Chromium;
    qint64 pid = 0;
    quint16 port = 0;
    // Chromium's port file names the browser's own DevTools target too, which tells a fresh
    // file from one left behind by an earlier run. Empty when the port came from the command
    // line.
    QByteArray browserTarget;

    friend bool operator==(const DebugEndpoint &, const DebugEndpoint &) = default;
};

// Finds browsers started with --remote-debugging-port among the processes of one user, by
// reading a /proc-like folder tree. Helper processes are left out: Chromium's carry --type=,
// Firefox's -contentproc. For port 0 the browser writes the port it got into its profile, and
// that file is read. Nothing here talks to the browsers; the endpoints still have to be checked.
class ProcessDiscovery
{
public:
    explicit ProcessDiscovery(QString procRoot = QStringLiteral("/proc"),
                              std::optional<uint> userId = std::nullopt);

    QList<DebugEndpoint> find(DebugEndpoint::Kind kind) const;

    // Firefox's port when the option is given without one.
    static constexpr quint16 firefoxDefaultPort = 9222;

private:
    std::optional<DebugEndpoint> inspect(const QString &processFolder, qint64 pid,
                                         DebugEndpoint::Kind kind) const;
    std::optional<DebugEndpoint> chromiumEndpoint(const QString &processFolder,
                                                  const QList<QByteArray> &arguments) const;
    std::optional<DebugEndpoint> firefoxEndpoint(const QString &processFolder,
                                                 const QList<QByteArray> &arguments) const;
    QString firefoxProfile(const QString &processFolder, const QList<QByteArray> &arguments) const;

    QString m_procRoot;
    uint m_userId = 0;
};
