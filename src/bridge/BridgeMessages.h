#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// The bridge's messages, as the extension, the host and the program exchange them:
//   extension -> program  {"tabs": [{"id": 12, "windowId": 3, "title": "...", "url": "..."}]}
//   program -> extension  {"close": 12}
//   host -> program       {"hello": {"browserPid": 4242, "browser": "firefox-esr"}}
// The hello opens each connection. The program takes the browser from the socket instead (the
// parent of the peer), since any process of the user can connect and name any pid.
namespace BridgeMessages {

// The payload as a JSON object; nothing, with the reason in why, for anything else.
std::optional<QJsonObject> parse(const QByteArray &payload, QString *why = nullptr);

bool isTabs(const QJsonObject &message);
// The tab id of a well-formed close request.
std::optional<qint64> closeTabId(const QJsonObject &message);

// A JSON number that is a whole number a double holds exactly, as browsers' ids are.
std::optional<qint64> integerOf(const QJsonValue &value);

QByteArray close(qint64 tabId);
QByteArray hello(qint64 browserPid, const QString &browser);

} // namespace BridgeMessages
