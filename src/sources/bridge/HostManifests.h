#pragma once

#include <QString>
#include <QStringList>

// Where the browsers look for this user's native messaging hosts; tests use folders of their
// own.
struct HostManifestFolders
{
    QString home;   // ~, where Firefox keeps .mozilla
    QString config; // $XDG_CONFIG_HOME, ~/.config when unset
    QString system; // prefixed to the browsers' folders for every user: empty but in tests

    static HostManifestFolders standard();
};

// Tells the browsers of this user where the bridge's host is, the one beside the program in
// appFolder: for Firefox, and for each Chromium-family browser whose configuration folder
// exists (Chromium's always) once the build has left the extension's id in the bridge folder.
// A browser that has the host's manifest for every user (the installed package's) gets none of
// its own, which would come first and shadow it. A manifest that already says the same is left
// alone. Returns the manifests written.
QStringList writeHostManifests(const HostManifestFolders &folders, const QString &appFolder);
