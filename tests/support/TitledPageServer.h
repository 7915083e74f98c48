#pragma once

#include <QObject>
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

private:
    void serve(QTcpSocket *socket);

    QTcpServer m_server;
};
