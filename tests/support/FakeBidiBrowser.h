#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

// Plays a Firefox's WebDriver BiDi endpoint on 127.0.0.1 as far as the tab source uses it: one
// session at a time, kept when its connection goes, and ended by session.end only once the answer
// went out on a connection still open. Answers come a moment after the request, so a second
// request sent before the first is answered is seen.
class FakeBidiBrowser : public QObject
{
public:
    enum class Answer
    {
        Normal,
        Huge,    // a message far beyond what the client reads
        Silence, // nothing but to session commands, as of a page that hangs
    };
    struct Tab
    {
        QString context;
        QString title;
        bool titleFails = false; // the page cannot run scripts, or went meanwhile
        bool unlisted = false;   // not in the tree yet, as of a browser whose lists lag its events
    };

    // The server is a child so that it moves with the browser to another thread.
    FakeBidiBrowser() : m_server(u"firefox"_qs, QWebSocketServer::NonSecureMode, this)
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QWebSocket::textMessageReceived, this,
                        [this, socket](const QString &text) { received(socket, text); });
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    // Runs what blocks this thread, such as the end of a source that waits for its sessions to
    // end, while the browser answers from a thread of its own, as a real one would.
    template <typename Blocking>
    void answerAside(Blocking blocking)
    {
        QThread aside;
        QThread *home = thread();
        moveToThread(&aside);
        aside.start();
        blocking();
        QMetaObject::invokeMethod(
            this, [this, home] { moveToThread(home); }, Qt::BlockingQueuedConnection);
        aside.quit();
        aside.wait();
    }
    // A tab that opens and loads, told to the session when it subscribed, and not yet listed.
    void announce(Tab tab)
    {
        tab.unlisted = true;
        tabs.append(tab);
        if (!subscribed)
            return;
        const QJsonObject params{{u"context"_qs, tab.context},
                                 {u"url"_qs, u"https://"_qs + tab.context}};
        for (const QString &event : {u"contextCreated"_qs, u"load"_qs})
            subscribed->sendTextMessage(
                QString::fromUtf8(QJsonDocument({{u"type"_qs, u"event"_qs},
                                                 {u"method"_qs, u"browsingContext."_qs + event},
                                                 {u"params"_qs, params}})
                                      .toJson()));
    }

    std::optional<qint64> processId; // as session.new reports it in moz:processID, if at all
    QList<Tab> tabs;
    Answer answer = Answer::Normal;
    QStringList methods; // of every command received
    QStringList closes;  // the parameters of every browsingContext.close, as compact JSON
    // The connection that holds the only session, compared only: any other pointer plays another
    // client that holds it.
    const QWebSocket *session = nullptr;
    bool overlapped = false; // a command came while an earlier one was unanswered
    bool refusesEvents = false;
    QWebSocket *subscribed = nullptr;

private:
    void received(QWebSocket *socket, const QString &text)
    {
        const QJsonObject command = QJsonDocument::fromJson(text.toUtf8()).object();
        const QString method = command.value(u"method").toString();
        methods.append(method);
        overlapped = overlapped || socket->property("busy").toBool();
        socket->setProperty("busy", true);
        QJsonObject message = respond(socket, method, command.value(u"params").toObject());
        const bool sessionCommand = method.startsWith(u"session.");
        if (answer == Answer::Silence && !sessionCommand)
            return;
        if (answer == Answer::Huge && !sessionCommand)
            message = {{u"result"_qs, QJsonObject{{u"padding"_qs, QString(4'000'000, u'x')}}}};
        message.insert(u"id"_qs, command.value(u"id"));
        message.insert(u"type"_qs, message.contains(u"error") ? u"error"_qs : u"success"_qs);
        QTimer::singleShot(2, socket, [this, socket, message, method] {
            socket->setProperty("busy", false);
            if (socket->state() != QAbstractSocket::ConnectedState)
                return;
            socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson()));
            if (method == u"session.end" && session == socket)
                session = nullptr;
        });
    }

    QJsonObject respond(QWebSocket *socket, const QString &method, const QJsonObject &params)
    {
        if (method == u"session.new") {
            if (session)
                return failure(u"session not created"_qs);
            session = socket;
            QJsonObject capabilities{{u"browserName"_qs, u"firefox"_qs}};
            if (processId)
                capabilities.insert(u"moz:processID"_qs, *processId);
            return success({{u"capabilities"_qs, capabilities}});
        }
        if (session != socket)
            return failure(u"invalid session id"_qs);
        if (method == u"browsingContext.close")
            closes.append(QString::fromUtf8(QJsonDocument(params).toJson(QJsonDocument::Compact)));
        if (method == u"session.subscribe") {
            if (refusesEvents)
                return failure(u"unknown command"_qs);
            subscribed = socket;
        }
        if (method == u"browsingContext.getTree") {
            QJsonArray contexts;
            for (const Tab &tab : tabs)
                if (!tab.unlisted)
                    contexts.append(QJsonObject{{u"context"_qs, tab.context},
                                                {u"url"_qs, u"https://"_qs + tab.context + u'/'}});
            return success({{u"contexts"_qs, contexts}});
        }
        if (method == u"script.evaluate") {
            const QJsonObject target = params.value(u"target").toObject();
            const auto tab = std::find_if(tabs.begin(), tabs.end(), [&](const Tab &t) {
                return t.context == target.value(u"context").toString();
            });
            // Only a sandboxed script is out of the page's reach.
            if (tab == tabs.end() || tab->titleFails ||
                target.value(u"sandbox").toString().isEmpty())
                return failure(u"unknown error"_qs);
            return success({{u"type"_qs, u"success"_qs},
                            {u"result"_qs,
                             QJsonObject{{u"type"_qs, u"string"_qs}, {u"value"_qs, tab->title}}}});
        }
        return success({});
    }

    static QJsonObject failure(const QString &error) { return {{u"error"_qs, error}}; }
    static QJsonObject success(const QJsonObject &result) { return {{u"result"_qs, result}}; }

    QWebSocketServer m_server;
};
