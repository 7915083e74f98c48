#pragma once

#include "bridge/BridgeSocketPath.h"
#include "bridge/Framing.h"
#include "platform/BrowserWindowSource.h"
#include "platform/Limits.h"
#include "sources/TabSnapshot.h"

#include <QFileSystemWatcher>
#include <QHash>
#include <QLocalServer>

#include <memory>
#include <vector>

class QJsonArray;
class QLocalSocket;

// Every tab of the browsers that run the bridge extension, as their native messaging hosts
// report them on the program's socket: one connection per browser profile, each sending the
// whole list of its tabs, then the tabs that opened, changed or closed since. A message is read
// when it arrives, on the thread that made the source, and the tabs it opened or changed are
// reported at once; a walk copies the tabs read last. A tab's handle id is
// "<connection serial>/<the browser's tab id>". Once listening, the source keeps listening: a
// server that stopped, or whose socket file went, is started again at the next walk. A browser
// counts as covered from its hello until a message of it is lost on the way, refused by the host
// or here; changes are then passed over until its next whole list, which covers it again.
class BridgeSource : public BrowserWindowSource
{
public:
    explicit BridgeSource(const QString &socketPath = bridgeSocketPath());
    ~BridgeSource() override;

    BridgeSource(const BridgeSource &) = delete;
    BridgeSource &operator=(const BridgeSource &) = delete;

    QList<BrowserPage> walk() override;
    void requestClose(const WindowHandle &handle) override;

    bool isListening() const { return m_server.isListening(); }
    // Whether this process started a connected host that said hello: the browser it runs for.
    bool covers(qint64 pid) const { return pid > 0 && m_snapshot.covers(pid); }
    // Whether a window of the browser, by the page name its title gives, shows a tab the browser
    // listed: one of the active tabs, whose title the browser puts in the window's.
    bool accountsFor(qint64 pid, const QString &pageName) const;
    // A number that changes whenever covers() or accountsFor() may answer otherwise: each
    // message that changes a browser's tabs changes its snapshot.
    quint64 coverageVersion() const { return m_snapshot.version(); }
    int connectionCount() const { return static_cast<int>(m_connections.size()); }

    // Far more browser profiles than anyone runs at once; a connection beyond is closed at once,
    // so that no process can take every descriptor of the program.
    static constexpr int maxConnections = 32;

private:
    struct Tab
    {
        std::optional<QString> title;
        std::optional<QString> address;
        bool shown = false;
    };

    struct Connection
    {
        quint16 serial = 0;
        QLocalSocket *socket = nullptr;
        FrameReader reader;
        qint64 browserPid = 0;
        QHash<qint64, Tab> tabs;
        // How many shown tabs have each title.
        QHash<QString, int> shownTitles;
        // A message was lost since the last whole list.
        bool lost = false;
    };

    bool listen();
    void keepListening();
    bool socketIsOurs() const;
    void report(const QString &line);
    void accept();
    void read(Connection &connection);
    void apply(Connection &connection, const QJsonArray &records, const QJsonArray &closed,
               bool whole);
    static void setTab(Connection &connection, qint64 id, const Tab *tab);
    void forget(QLocalSocket *socket);
    quint16 freeSerial();

    QString m_socketPath;
    QLocalServer m_server;
    bool m_keepsListening = false;
    // The socket's folder, watched so that a walk looks at the socket file only once it may
    // have changed; without a watch, every walk looks.
    QFileSystemWatcher m_folderWatch;
    bool m_folderChanged = true;
    quint64 m_socketInode = 0;
    QString m_lastReport;
    TabSnapshot m_snapshot;
    std::vector<std::unique_ptr<Connection>> m_connections;
    quint16 m_lastSerial = 0;
};
