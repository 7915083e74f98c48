#pragma once

#include <QString>

// The configuration folders the program writes outside its own folder: the per-user settings
// store and the start-at-log-on entries. An empty folder is one the program must not use;
// tests point both at temporary folders.
struct ConfigFolders
{
    QString system; // for every user of the machine: /etc/xdg
    QString user;   // this user's: $XDG_CONFIG_HOME, ~/.config when unset

    static ConfigFolders standard();
};
