#include "sources/tabs/DevToolsAnswers.h"

#include "sources/TabSnapshot.h"
#include "sources/tabs/SocketMessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace {

// The text of a JSON string member; nothing when it is missing or not a string.
std::optional<QString> textOf(const QJsonObject &object, QStringView key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return TabSnapshot::clip(value.toString());
}

// A target as a tab, when it is one: the browser's own views, workers and extensions are
// targets too.
std::optional<BrowserPage> tabOf(const QJsonObject &target, QStringView idKey)
{
    const QString id = target.value(idKey).toString();
    if (target.value(u"type").toString() != u"page" || id.isEmpty())
        return std::nullopt;
    return BrowserPage{textOf(target, u"title"), textOf(target, u"url"),
                       WindowHandle{0, id.toUtf8()}};
}

} // namespace

namespace DevToolsAnswers {

bool isBrowser(const QByteArray &body, const QByteArray &browserTarget)
{
    const QJsonObject version = QJsonDocument::fromJson(body).object();
    if (!version.value(u"Browser").isString())
        return false;
    // A port file left behind by an earlier browser names a target this one does not have.
    const QString target = QString::fromUtf8(browserTarget);
    return target.isEmpty() || version.value(u"webSocketDebuggerUrl").toString().endsWith(target);
}

std::optional<QList<BrowserPage>> pages(const QByteArray &body)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;

    QList<BrowserPage> pages;
    for (const QJsonValue &value : document.array()) {
        if (std::optional<BrowserPage> page = tabOf(value.toObject(), u"id"))
            pages.append(std::move(*page));
    }
    return pages;
}

QByteArray browserSocketPath(const QByteArray &body)
{
    const QUrl url(QJsonDocument::fromJson(body).object().value(u"webSocketDebuggerUrl").toString(),
                   QUrl::StrictMode);
    const QString path = url.path(QUrl::FullyEncoded);
    if (url.scheme() != u"ws" || !path.startsWith(u"/devtools/browser/"))
        return {};
    return path.toUtf8();
}

std::optional<Message> parse(const QString &text)
{
    const std::optional<QJsonObject> parsed = SocketMessages::object(text);
    if (!parsed)
        return std::nullopt;
    const QJsonObject &object = *parsed;
    Message message;
    message.id = SocketMessages::commandId(object);
    message.success = object.contains(u"result") && !object.contains(u"error");
    message.method = object.value(u"method").toString();
    message.body = object.value(message.id ? u"result" : u"params").toObject();
    return message;
}

std::optional<TabChange> tabChange(const Message &event)
{
    if (event.id)
        return std::nullopt;
    if (event.method == u"Target.targetDestroyed") {
        const QString id = event.body.value(u"targetId").toString();
        return id.isEmpty() ? std::nullopt : std::optional(TabChange{id.toUtf8(), std::nullopt});
    }
    if (event.method != u"Target.targetCreated" && event.method != u"Target.targetInfoChanged")
        return std::nullopt;
    const QJsonObject target = event.body.value(u"targetInfo").toObject();
    const QString id = target.value(u"targetId").toString();
    if (id.isEmpty())
        return std::nullopt;
    return TabChange{id.toUtf8(), tabOf(target, u"targetId")};
}

std::optional<QList<BrowserPage>> targets(const Message &answer, qsizetype limit)
{
    if (!answer.id || !answer.success)
        return std::nullopt;
    QList<BrowserPage> pages;
    for (const QJsonValue &value : answer.body.value(u"targetInfos").toArray()) {
        if (pages.size() >= limit)
            break;
        if (std::optional<BrowserPage> page = tabOf(value.toObject(), u"targetId"))
            pages.append(std::move(*page));
    }
    return pages;
}

} // namespace DevToolsAnswers
