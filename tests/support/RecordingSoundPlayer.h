#pragma once

#include "platform/SoundPlayer.h"

#include <QStringList>

// Records the paths it was asked to play instead of playing them.
class RecordingSoundPlayer : public SoundPlayer
{
public:
    void playSync(const QString &path) override { m_played.append(path); }
    QStringList m_played;
};
