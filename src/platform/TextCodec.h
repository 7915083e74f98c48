#pragma once

#include <QByteArray>
#include <QString>

// Text files are written as UTF-8. Files made on Windows are in its 8-bit code page, so a file
// that is not valid UTF-8 is read as Windows-1252 and keeps its accents.
namespace TextCodec {

QString decode(const QByteArray &bytes);
QByteArray encode(const QString &text);
QString decodeWindows1252(const QByteArray &bytes);

} // namespace TextCodec
