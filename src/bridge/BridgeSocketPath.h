#pragma once

#include <QString>

// The folder of the program's sockets, private to this user: <runtime>/vexlor-popup, the runtime
// folder being $XDG_RUNTIME_DIR when it is this user's own private folder, and
// /tmp/vexlor-popup-<uid> otherwise (unset, missing, or left from another account after su).
QString privateSocketFolder();

// Where the program listens for the browser bridge's hosts: "bridge" in the private folder.
QString bridgeSocketPath();

// Makes the folder of the socket, private to this user (mode 0700), and the runtime folder
// above it when it is missing or is the fallback one in /tmp. A folder that exists owned by
// someone else, open to the group or others, or that is not a real folder is refused, since
// whoever controls it could stand in for the program. On refusal, why says what was wrong.
bool prepareBridgeSocketFolder(const QString &socketPath, QString *why = nullptr);
