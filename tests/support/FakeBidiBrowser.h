#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QWebSocketServer>

class QWebSocket;

// Plays a Firefox's WebDriver BiDi endpoint on 127.0.0.1 as far as the tab source uses it:
// session.new and session.end, browsingContext.getTree, script.evaluate of the title and
// browsingContext.close. Like Firefox it allows one session at a time, keeps a session whose
// connection went, and ignores a request to close its last tab. Answers come a moment after
// the request, so a client that sends a second request before the first is answered is seen.
class FakeBidiBrowser : public QObject
{
    Q_OBJECT

public:
    enum class Answer
    {
        Normal,
        Garbage, // a text that is not JSON
        Huge,    // a message far beyond what the client reads
        Silence, // nothing, though session.end still ends the session
    };
    struct Tab
    {
        QString context;
        QString url;
        QString title;
        bool titleFails = false; // the page cannot run scripts, or went meanwhile
    };

    // The process id that session.new reports, as Firefox does in moz:processID.
    explicit FakeBidiBrowser(qint64 processId);

    quint16 port() const { return m_server.serverPort(); }
    void setTabs(const QList<Tab> &tabs) { m_tabs = tabs; }
    QStringList contexts() const;
    // How every command but session.new and session.end is answered.
    void setAnswer(Answer answer) { m_answer = answer; }
    // Plays another client that holds the only session.
    void setSessionHeldElsewhere(bool held)
    {
        m_session = held ? Session::Elsewhere : Session::None;
    }
    bool hasSession() const { return m_session != Session::None; }
    void vanish();

    // Every command received, in order, and the Origin header of every connection.
    QList<QJsonObject> commands() const { return m_commands; }
    int count(const QString &method) const;
    QStringList origins() const { return m_origins; }
    // Whether a command ever came while an earlier one on its connection was unanswered.
    bool overlapped() const { return m_overlapped; }

    static constexpr qint64 hugeSize = 4 * 1024 * 1024;

private:
    enum class Session
    {
        None,
        Ours,
        Elsewhere,
    };

    void received(QWebSocket *socket, const QString &text);
    QJsonObject answer(QWebSocket *socket, const QJsonObject &command);
    QJsonObject treeResult() const;

    QWebSocketServer m_server;
    qint64 m_processId;
    QList<Tab> m_tabs;
    Answer m_answer = Answer::Normal;
    Session m_session = Session::None;
    QWebSocket *m_sessionSocket = nullptr;
    QList<QJsonObject> m_commands;
    QStringList m_origins;
    bool m_overlapped = false;
};
