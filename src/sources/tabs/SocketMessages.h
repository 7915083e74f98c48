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

// The text of the command with that id, as both protocols take it.
inline QString command(qint64 id, const QString &method, const QJsonObject &params)
{
    const QJsonObject message{{u"id"_qs, id}, {u"method"_qs, method}, {u"params"_qs, params}};
    return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

} // namespace SocketMessages
