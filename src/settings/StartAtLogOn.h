#pragma once

#include "settings/ConfigFolders.h"

#include <QString>

// Starting the program at log-on. The Run key of the program is the folder "autostart" of a
// configuration folder, and each value of it a desktop entry of that folder named after the
// value, whose command is the value's data. The entry for every user of the machine is
// preferred; without the rights to write it, the user's own entry is written instead.

inline constexpr int REG_SZ = 1; // text, the only type of value there is
inline const QString kRunSubKey = QStringLiteral("autostart");
inline const QString kRunValueName = QStringLiteral("Vexlor Popup 2007");
// The program's file name in its folder.
inline const QString kExecutableName = QStringLiteral("vexlor-popup");

// A Run key opened for writing: its folder, made when missing; empty when it cannot be opened.
struct OpenKey
{
    QString folder;
};

OpenKey openRunKey(const QString &configFolder, const QString &subKey);

// The desktop entry that holds the value.
QString runEntryPath(const QString &keyFolder, const QString &valueName);

// Writes the value as a desktop entry whose command starts the program named by data.
// Returns 0 on success, nonzero on failure.
int SetOpenKeyValue(const OpenKey &key, const QString &valueName, int type, const QString &data);

// Writes the value for every user when permitted and when the program that data names, and
// every folder above it, can be changed by root alone; else for this user, removing an entry
// for every user that would start a program others can replace. When the entry for every user
// is written, this user's own entry of the same name, which would hide it, is removed. Returns
// whether an entry was written.
bool SetRegistryValue(const ConfigFolders &root, const QString &subKey, const QString &valueName,
                      const QString &data, int type);

// Removes the value's entry from both folders where it exists. Returns whether none is left.
bool DeleteRegistryValue(const ConfigFolders &root, const QString &subKey,
                         const QString &valueName);
