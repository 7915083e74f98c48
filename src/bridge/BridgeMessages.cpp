#include "bridge/BridgeMessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace BridgeMessages {

std::optional<QJsonObject> parse(const QByteArray &payload, QString *why)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError) {
        if (why)
            *why = QStringLiteral("JSON invalide (%1)").arg(error.errorString());
        return std::nullopt;
    }
    if (!document.isObject()) {
        if (why)
            *why = QStringLiteral("le message n'est pas un objet JSON");
        return std::nullopt;
    }
    return document.object();
}

bool isTabs(const QJsonObject &message)
{
    return message.value(u"tabs").isArray();
}

bool isChanges(const QJsonObject &message)
{
    return !isTabs(message) &&
           (message.value(u"changed").isArray() || message.value(u"removed").isArray());
}

std::optional<qint64> closeTabId(const QJsonObject &message)
{
    return integerOf(message.value(u"close"));
}

std::optional<qint64> integerOf(const QJsonValue &value)
{
    // Beyond 2^53 a double no longer tells neighbouring integers apart.
    constexpr double exactLimit = 9007199254740992.0;
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (std::trunc(number) != number || std::fabs(number) > exactLimit)
        return std::nullopt;
    return static_cast<qint64>(number);
}

QByteArray close(qint64 tabId)
{
    return QJsonDocument(QJsonObject{{u"close"_qs, tabId}}).toJson(QJsonDocument::Compact);
}

QByteArray hello(qint64 browserPid, const QString &browser)
{
    const QJsonObject about{{u"browserPid"_qs, browserPid}, {u"browser"_qs, browser}};
    return QJsonDocument(QJsonObject{{u"hello"_qs, about}}).toJson(QJsonDocument::Compact);
}

QByteArray refused(quint32 length)
{
    return QJsonDocument(QJsonObject{{u"refused"_qs, qint64(length)}})
        .toJson(QJsonDocument::Compact);
}

QByteArray listRequest()
{
    return QJsonDocument(QJsonObject{{u"list"_qs, true}}).toJson(QJsonDocument::Compact);
}

} // namespace BridgeMessages
