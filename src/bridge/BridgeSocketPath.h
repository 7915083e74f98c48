#pragma once

#include <QString>

// Where the program listens for the browser bridge's hosts: <runtime>/vexlor-popup/bridge, the
// runtime folder being $XDG_RUNTIME_DIR, or /tmp/vexlor-popup-<uid> when that is unset.
QString bridgeSocketPath();

// Makes the folder of the socket, private to this user (mode 0700), and the runtime folder
// above it when it is missing or is the fallback one in /tmp. A folder that exists owned by
// someone else, open to the group or others, or that is not a real folder is refused, since
// whoever controls it could stand in for the program. On refusal, why says what was wrong.
bool prepareBridgeSocketFolder(const QString &socketPath, QString *why = nullptr);
