#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <optional>

// What the DevTools and WebDriver BiDi protocols share: each message is one JSON object, and an
// answer names the command it answers by id.
namespace SocketMessages {

inline std::optional<QJsonObject> object(const QString &text)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

// The ids we send are positive integers; any other id can answer none of them.
inline std::optional<qint64> commandId(const QJsonObject &message)
{
    const qint64 id = message.value(u"id").toInteger(-1);
    return id >= 0 ? std::optional<qint64>(id) : std::nullopt;
}

} // namespace SocketMessages
