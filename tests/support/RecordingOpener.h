#pragma once

#include "platform/DesktopOpener.h"

#include <QStringList>

// Records the addresses it was asked to open instead of opening them.
class RecordingOpener : public DesktopOpener
{
public:
    void openAddress(const QString &address) override { m_opened.append(address); }
    QStringList m_opened;
};
