#pragma once

#include "platform/DesktopOpener.h"

// Opens addresses with xdg-open, started directly (never through a shell) with the address as
// its one argument, so no character of the address can become a command.
class XdgOpener : public DesktopOpener
{
public:
    explicit XdgOpener(QString program = QStringLiteral("xdg-open"));
    void openAddress(const QString &address) override;

private:
    QString m_program;
};
