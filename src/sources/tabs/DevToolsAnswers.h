#pragma once

#include "platform/BrowserWindowSource.h"
#include "platform/Limits.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>

#include <optional>

// Reading the answers of a Chromium-family browser's DevTools HTTP endpoints and the messages of
// its browser WebSocket. Nothing here talks to a browser, so every function can be fed whatever
// a port answered.
namespace DevToolsAnswers {

// Whether a /json/version answer comes from a live browser, and, when browserTarget is not
// empty, from the one whose browser target it is.
bool isBrowser(const QByteArray &body, const QByteArray &browserTarget);

// The tabs that a /json/list answer lists, in its order: the targets of type "page" with an
// id, their titles and addresses clipped. Nothing when the answer is not a JSON array. A
// handle carries the browser's own tab id.
std::optional<QList<BrowserPage>> pages(const QByteArray &body);

// The path of the browser's own WebSocket that a /json/version answer names, as
// "/devtools/browser/<id>"; empty when it names none. Only the path is taken: the socket is
// always the port's own, on 127.0.0.1.
QByteArray browserSocketPath(const QByteArray &body);

// One message of the browser WebSocket: an answer carries the id of the command it answers and
// its result, an event its method and parameters.
struct Message
{
    std::optional<qint64> id;
    bool success = false;
    QString method;
    QJsonObject body;
};
// Nothing when the text is not a JSON object, which no browser sends.
std::optional<Message> parse(const QString &text);

// What a Target event tells of one target: a tab as it is now, or, with no page, a target
// that went or is no tab. Nothing for the other events.
struct TabChange
{
    QByteArray id;
    std::optional<BrowserPage> page;
};
std::optional<TabChange> tabChange(const Message &event);

// The tabs of a Target.getTargets answer, at most `limit` of them; nothing when it failed.
std::optional<QList<BrowserPage>> targets(const Message &answer, qsizetype limit = kMaxRows);

} // namespace DevToolsAnswers
