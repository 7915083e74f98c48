#pragma once

#include <QByteArrayList>
#include <QJsonArray>
#include <QObject>
#include <QTcpServer>

// Plays a Chromium's DevTools HTTP endpoints on 127.0.0.1: /json/version, /json/list and
// /json/close/<id>, answered from the targets the test sets, or badly on purpose. Every
// request line it receives is kept.
class FakeDevTools : public QObject
{
    Q_OBJECT

public:
    enum class Answer
    {
        Normal,
        Garbage,         // a body that is not JSON
        NotAList,        // JSON, but an object where a list belongs
        ServerError,     // status 500
        Huge,            // far more than the client reads, with its length announced
        HugeUnannounced, // far more than the client reads, without a length
        Silence,         // takes the request and never answers
    };

    FakeDevTools();

    quint16 port() const { return m_server.serverPort(); }
    // The path of the browser's own target in /json/version's webSocketDebuggerUrl.
    static constexpr const char *browserTarget = "/devtools/browser/fake-browser";

    // Each target is an object as /json/list gives it.
    void setTargets(const QJsonArray &targets) { m_targets = targets; }
    static QJsonObject page(const QString &id, const QString &title, const QString &url);
    // How /json/list is answered; /json/version is always answered normally.
    void setAnswer(Answer answer) { m_answer = answer; }
    // Whether a close request removes the tab, as a browser does, or is ignored.
    void setHonoursClose(bool honours) { m_honoursClose = honours; }
    // Stops listening and drops every connection, as a browser that quits.
    void vanish();

    QByteArrayList requests() const { return m_requests; }
    int count(const QByteArray &requestLine) const;

    static constexpr qint64 hugeSize = 4 * 1024 * 1024;

private:
    void serve(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QByteArray &method, const QByteArray &path);

    QTcpServer m_server;
    QJsonArray m_targets;
    Answer m_answer = Answer::Normal;
    bool m_honoursClose = true;
    QByteArrayList m_requests;
};
