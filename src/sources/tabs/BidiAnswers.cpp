#include "sources/tabs/BidiAnswers.h"

#include "sources/TabSnapshot.h"
#include "sources/tabs/SocketMessages.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

namespace BidiAnswers {

std::optional<Message> parse(const QString &text)
{
    const std::optional<QJsonObject> parsed = SocketMessages::object(text);
    if (!parsed)
        return std::nullopt;
    const QJsonObject &object = *parsed;
    Message message;
    message.id = SocketMessages::commandId(object);
    message.success = object.value(u"type").toString() == u"success";
    message.error = object.value(u"error").toString();
    message.result = object.value(u"result").toObject();
    if (!message.id && object.value(u"type").toString() == u"event") {
        message.method = object.value(u"method").toString();
        message.params = object.value(u"params").toObject();
    }
    return message;
}

bool answers(const Message &message, qint64 awaitedId)
{
    return message.id == awaitedId;
}

Session session(const Message &answer)
{
    if (!answer.success) {
        return Session{answer.error == u"session not created" ? SessionOutcome::Refused
                                                              : SessionOutcome::Failed,
                       std::nullopt};
    }
    Session session{SessionOutcome::Accepted, std::nullopt};
    const QJsonValue process =
        answer.result.value(u"capabilities").toObject().value(u"moz:processID");
    if (process.isDouble())
        session.processId = process.toInteger();
    return session;
}

std::optional<QList<BrowserPage>> contexts(const Message &answer, qsizetype limit)
{
    if (!answer.success)
        return std::nullopt;
    QList<BrowserPage> pages;
    for (const QJsonValue &value : answer.result.value(u"contexts").toArray()) {
        if (pages.size() >= limit)
            break;
        const QJsonObject context = value.toObject();
        const QString id = context.value(u"context").toString();
        if (id.isEmpty())
            continue;
        const QJsonValue url = context.value(u"url");
        pages.append(BrowserPage{std::nullopt,
                                 url.isString() ? std::optional(TabSnapshot::clip(url.toString()))
                                                : std::nullopt,
                                 WindowHandle{0, id.toUtf8()}});
    }
    return pages;
}

// A tab that went meanwhile, or whose page cannot run scripts, gives no text.
std::optional<QString> evaluatedText(const Message &answer)
{
    const QJsonObject value = answer.result.value(u"result").toObject();
    if (!answer.success || answer.result.value(u"type").toString() != u"success" ||
        value.value(u"type").toString() != u"string")
        return std::nullopt;
    return TabSnapshot::clip(value.value(u"value").toString());
}

QStringList contextEvents()
{
    return {u"browsingContext.contextCreated"_qs, u"browsingContext.contextDestroyed"_qs,
            u"browsingContext.navigationStarted"_qs, u"browsingContext.domContentLoaded"_qs,
            u"browsingContext.load"_qs};
}

std::optional<ContextEvent> contextEvent(const Message &event)
{
    using Kind = ContextEvent::Kind;
    static const QHash<QString, Kind> kinds{
        {u"browsingContext.contextCreated"_qs, Kind::Created},
        {u"browsingContext.navigationStarted"_qs, Kind::Navigating},
        {u"browsingContext.domContentLoaded"_qs, Kind::Loaded},
        {u"browsingContext.load"_qs, Kind::Loaded},
        {u"browsingContext.contextDestroyed"_qs, Kind::Destroyed},
    };
    const auto kind = kinds.constFind(event.method);
    const QString context = event.params.value(u"context").toString();
    if (kind == kinds.cend() || context.isEmpty())
        return std::nullopt;
    // A frame is no tab.
    if (*kind == Kind::Created && !event.params.value(u"parent").isNull() &&
        !event.params.value(u"parent").isUndefined())
        return std::nullopt;
    const QJsonValue url = event.params.value(u"url");
    return ContextEvent{*kind, context.toUtf8(),
                        url.isString() ? std::optional(TabSnapshot::clip(url.toString()))
                                       : std::nullopt};
}

} // namespace BidiAnswers
