#pragma once

#include <QString>

// Plays a wave file to its end before returning. Any failure (no sound server, a missing or
// unreadable file, an empty path) is silent and returns at once.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    virtual void playSync(const QString &path) = 0;
};
