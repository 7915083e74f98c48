#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <optional>

// Replaces the file's content in one step: the bytes go to a new file beside it, which takes
// its place only once every byte is written. Any failure leaves the old file whole; a missing
// folder is never made. QSaveFile alone would take a short write (a full disk, a size limit)
// for success, so every write is checked here.
//
// A path that is a symbolic link is written through only when every link on the way and the
// file they lead to belong to the writing user. Otherwise nothing is written, the error is
// PermissionsError and a line in French on standard error names the link: a program run as
// root must not write wherever a link planted by another user points.
bool writeAtomically(const QString &path, const QByteArray &bytes,
                     std::optional<QFileDevice::Permissions> permissions = std::nullopt,
                     QFileDevice::FileError *error = nullptr);
