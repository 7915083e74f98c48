#pragma once

#include <QByteArray>

// The Qt platform of the program's window, chosen before the application object exists, from
// the environment the desktop gave: the user's own QT_QPA_PLATFORM, its X display, its Wayland
// display.
//
// An X display wins whenever there is one, XWayland's on a Wayland desktop included: there the
// window places itself at the top of the screen, centred, leaves the task list while it is in
// the tray, and finds an XEmbed notification area where no StatusNotifierItem host runs. A
// native Wayland client can do none of the first two, as the compositor alone places windows.
// Qt tries the platforms in turn, so an X display that cannot be reached leaves the window on
// Wayland. With no X display the window is a native Wayland client.
//
// Returns the value for QT_QPA_PLATFORM, or an empty array where the choice is the user's or
// Qt's own.
QByteArray chooseWindowPlatform(const QByteArray &userChoice, const QByteArray &xDisplay,
                                const QByteArray &waylandDisplay);
