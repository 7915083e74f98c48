#pragma once

#include "platform/BrowserWindowSource.h"
#include "platform/Limits.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// Reading the messages that Firefox sends over a WebDriver BiDi connection. Nothing here talks
// to a browser, so every function can be fed whatever came over the socket.
namespace BidiAnswers {

// One message: an answer carries the id of the command it answers, an event none but its
// method and parameters.
struct Message
{
    std::optional<qint64> id;
    bool success = false;
    QString error;
    QJsonObject result;
    QString method;
    QJsonObject params;
};

// Nothing when the text is not a JSON object, which no browser sends.
std::optional<Message> parse(const QString &text);

// Whether the message is the answer to the command sent with that id; events, and answers to
// commands given up on, are not.
bool answers(const Message &message, qint64 awaitedId);

enum class SessionOutcome
{
    Accepted,
    // The browser already has a session and makes no other.
    Refused,
    Failed,
};

// What the answer to session.new says, and the process of the browser when it tells.
struct Session
{
    SessionOutcome outcome = SessionOutcome::Failed;
    std::optional<qint64> processId;
};
Session session(const Message &answer);

// The browsing contexts of a browsingContext.getTree answer as tabs with their clipped
// addresses and no titles yet, at most `limit` of them. Nothing when the command failed. A
// handle carries the context's id.
std::optional<QList<BrowserPage>> contexts(const Message &answer, qsizetype limit = kMaxRows);

// The clipped string that a script.evaluate answer gives; nothing when the command failed, the
// script threw or its result is no string.
std::optional<QString> evaluatedText(const Message &answer);

// The browsingContext events a session subscribes to.
QStringList contextEvents();

// What a browsingContext event tells of a context: it opened (top-level ones only), started a
// navigation, has its document parsed or loaded, or went. An address comes clipped. Nothing for
// any other message.
struct ContextEvent
{
    enum class Kind
    {
        Created,
        Navigating,
        Loaded,
        Destroyed,
    };
    Kind kind = Kind::Created;
    QByteArray context;
    std::optional<QString> url;
};
std::optional<ContextEvent> contextEvent(const Message &event);

} // namespace BidiAnswers
