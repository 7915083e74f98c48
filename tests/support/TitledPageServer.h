#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

// Serves web pages on 127.0.0.1 whose titles the test chooses: the address made by url()
// carries the title, and the page served there has it as its <title>.
class TitledPageServer : public QObject
{
    Q_OBJECT

public:
    TitledPageServer();

    // A page titled so, at an address that ends with the given path.
    QString url(const QString &title, const QString &path) const;

    // The same page, which also tells the server when it has loaded and when it goes away, so
    // that the test learns when a browser really closed it.
    QString reportingUrl(const QString &title, const QString &path) const;
    // When the server first served the page at the address, when the page said it had loaded,
    // and when it said it was going away, in milliseconds of the server's clock; -1 until then.
    qint64 requestedAt(const QString &address) const;
    qint64 loadedAt(const QString &address) const;
    qint64 goneAt(const QString &address) const;
    // The server's clock, for the test to time its own events alike.
    qint64 now() const { return m_clock.elapsed(); }

    // A page titled so that opens, with window.open, every address handed to openFromPage(),
    // as a page would open popups. It asks the server for them every 100 ms.
    QString openerUrl(const QString &title) const;
    void openFromPage(const QStringList &addresses);

private:
    void serve(QTcpSocket *socket);
    QString address(const QString &prefix, const QString &title, const QString &path) const;

    QTcpServer m_server;
    QElapsedTimer m_clock;
    // Decoded path -> time, for each kind of event.
    QHash<QString, qint64> m_requested;
    QHash<QString, qint64> m_loaded;
    QHash<QString, qint64> m_gone;
    QStringList m_toOpen;
};
