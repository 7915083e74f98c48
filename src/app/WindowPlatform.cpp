#include "app/WindowPlatform.h"

QByteArray chooseWindowPlatform(const QByteArray &userChoice, const QByteArray &xDisplay,
                                const QByteArray &waylandDisplay)
{
    if (!userChoice.isEmpty())
        return {};
    if (!xDisplay.isEmpty())
        return waylandDisplay.isEmpty() ? QByteArray("xcb") : QByteArray("xcb;wayland");
    return waylandDisplay.isEmpty() ? QByteArray() : QByteArray("wayland");
}
