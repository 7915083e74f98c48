#pragma once

#include "platform/BrowserWindowSource.h"
#include "sources/tabs/BidiAnswers.h"
#include "sources/tabs/TabClient.h"

#include <QJsonObject>
#include <QSet>
#include <QTimer>
#include <QWebSocket>

#include <functional>
#include <optional>

// One Firefox through WebDriver BiDi on 127.0.0.1: a session of our own (session.new, which is
// also the check that the endpoint is a live browser), subscribed to the events of browsing
// contexts, then now and then the top-level browsing contexts with their addresses and, one by
// one, their titles, read in a sandbox so that no script of the page sees or changes the
// reading. Between readings, a context that opens or navigates is listed with its address at
// once, and its title is read as soon as its document is parsed and again once it has loaded.
// A browser that refuses the subscription is read again and again instead. One request is in
// flight at a time: a tab to close goes first, then titles that events asked for, then the rest
// of a reading.
class BidiClient : public TabClient
{
    Q_OBJECT

public:
    BidiClient(const DebugEndpoint &endpoint, TabSnapshot &snapshot,
               const TabSourceSettings &settings);
    ~BidiClient() override;

    void start() override;
    void closeTab(const QByteArray &tabId) override;
    // Ends the session, since Firefox keeps a session whose connection went and refuses any
    // other while it lasts.
    void stop() override;

private:
    using Handler = std::function<void(const BidiAnswers::Message &answer)>;
    enum class Reading
    {
        Idle,
        Subscribe,
        Tree,
        Titles,
    };

    void send(const QString &method, const QJsonObject &params, Handler handler);
    void sendNext();
    void received(const QString &text);
    void sessionAnswered(const BidiAnswers::Message &answer);
    void treeAnswered(const BidiAnswers::Message &answer);
    void titleAnswered(const BidiAnswers::Message &answer);
    void readTitle(const QByteArray &context, Handler handler);
    void eventReceived(const BidiAnswers::ContextEvent &event);
    void readingDone();
    void endSessionAndClose();
    void lost();
    void fail();

    QWebSocket m_socket;
    QTimer m_requestTimer;
    QTimer m_refreshTimer;
    qint64 m_nextId = 1;
    std::optional<qint64> m_inFlight;
    Handler m_handler;
    bool m_session = false;
    bool m_sessionAsked = false;
    bool m_stopping = false;
    bool m_sessionEndSent = false;
    bool m_failed = false;
    // Failing, the session is being ended before the connection closes.
    bool m_ending = false;
    QList<QByteArray> m_closing;
    Reading m_reading = Reading::Idle;
    QList<BrowserPage> m_pages;
    qsizetype m_nextTitle = 0;
    bool m_subscribed = false;
    bool m_published = false;
    // The tabs as published last, kept up to date by the events.
    QList<BrowserPage> m_current;
    // The contexts that events changed since the reading under way began: the events know
    // better than the reading.
    QSet<QByteArray> m_touched;
    QList<QByteArray> m_titleReads;
};
