#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <optional>

// Replaces the file's content in one step: the bytes go to a new file beside it, which takes
// its place only once every byte is written. Any failure leaves the old file whole; a missing
// folder is never made. QSaveFile alone would take a short write (a full disk, a size limit)
// for success, so every write is checked here.
bool writeAtomically(const QString &path, const QByteArray &bytes,
                     std::optional<QFileDevice::Permissions> permissions = std::nullopt,
                     QFileDevice::FileError *error = nullptr);
