#pragma once

#include <QString>

// The INI routines of the program. Reads return at most kMaxValueLength characters; nothing is
// cached, so every read and every write goes to the file. No routine reports an error: a failed
// read gives the default and a failed write leaves the file as it was.

inline constexpr qsizetype kMaxValueLength = 254;

// The value of the key, or defaultValue when the file, the section or the key is missing.
QString ReadIniFrom(const QString &file, const QString &section, const QString &key,
                    const QString &defaultValue);

// Writes the key into the file, making the file and the section when missing (never a folder).
// Returns whether the file was written.
bool WriteIniTo(const QString &file, const QString &section, const QString &key,
                const QString &value);

// The settings file of the program, config.ini in its folder.
QString configIniPath(const QString &appFolder);

// As ReadIniFrom and WriteIniTo, on config.ini of appFolder when file is empty; a missing
// value reads as empty text.
QString ReadIni(const QString &appFolder, const QString &section, const QString &key,
                const QString &file = {});
void WriteIni(const QString &appFolder, const QString &section, const QString &key,
              const QString &value, const QString &file = {});
