#pragma once

#include <QString>

// Where the program keeps the files it writes (keywords, statistics, options, languages): its
// own folder when a file can be made there, as it always has; otherwise, installed where users
// may not write, a folder of the user's own laid out the same, made when missing. Whether the
// folder can be written is found by making a file there: root's rights ignore the modes.
QString dataFolder(const QString &programFolder, const QString &userDataHome);

bool canCreateFileIn(const QString &folder);
