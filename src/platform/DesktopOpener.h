#pragma once

#include <QString>

// Opens a web address with the desktop's default handler. Nothing waits for the handler, and
// a failure to start it is silent.
class DesktopOpener
{
public:
    virtual ~DesktopOpener() = default;
    virtual void openAddress(const QString &address) = 0;
};
