#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// The bridge's messages, as the extension, the host and the program exchange them:
//   extension -> program  {"tabs": [{"id": 12, "windowId": 3, "active": true, "title": "...",
//                                    "url": "..."}]}
//   extension -> program  {"changed": [{"id": 12, ...as above}], "removed": [7]}
//   program -> extension  {"close": 12}
//   host -> extension     {"list": true}
//   host -> program       {"hello": {"browserPid": 4242, "browser": "firefox-esr"}}
//   host -> program       {"refused": 1258310}
// The hello opens each connection. The program takes the browser from the socket instead (the
// parent of the peer), since any process of the user can connect and name any pid. A tab is
// active when its window shows it. A "tabs" message is the browser's whole list; "changed" and
// "removed" tell what changed since (tabs added or changed, tabs closed), and stand for the
// browser's tabs only on top of the list before them. The extension sends the whole list on
// connecting and whenever the host asks with "list"; an extension of an older version sends
// nothing but whole lists. The extension keeps every message within a frame by clipping each
// title and address to kClippedLength UTF-16 units, the shown tabs listed first; a message of the
// extension that the host drops all the same (too long, not JSON) is replaced by a refusal that
// gives its length, since what the program holds then no longer stands for the browser's tabs
// until the next whole list.
namespace BridgeMessages {

inline constexpr qsizetype kClippedLength = 4096;

// The payload as a JSON object; nothing, with the reason in why, for anything else.
std::optional<QJsonObject> parse(const QByteArray &payload, QString *why = nullptr);

bool isTabs(const QJsonObject &message);
// Whether the message tells what changed since the last list.
bool isChanges(const QJsonObject &message);
// The tab id of a well-formed close request.
std::optional<qint64> closeTabId(const QJsonObject &message);

// A JSON number that is a whole number a double holds exactly, as browsers' ids are.
std::optional<qint64> integerOf(const QJsonValue &value);

QByteArray close(qint64 tabId);
QByteArray hello(qint64 browserPid, const QString &browser);
QByteArray refused(quint32 length);
QByteArray listRequest();

} // namespace BridgeMessages
