#include "sources/tabs/DevToolsAnswers.h"

#include "sources/TabSnapshot.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The text of a JSON string member; nothing when it is missing or not a string.
std::optional<QString> textOf(const QJsonObject &object, QStringView key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return TabSnapshot::clip(value.toString());
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

    // Only tabs: the browser's own views, workers and extensions are targets too.
    QList<BrowserPage> pages;
    for (const QJsonValue &value : document.array()) {
        const QJsonObject target = value.toObject();
        const QString id = target.value(u"id").toString();
        if (target.value(u"type").toString() != u"page" || id.isEmpty())
            continue;
        pages.append(BrowserPage{textOf(target, u"title"), textOf(target, u"url"),
                                 WindowHandle{0, id.toUtf8()}});
    }
    return pages;
}

} // namespace DevToolsAnswers
