#pragma once

#include "platform/SoundPlayer.h"

#include <future>

// Plays through the session's PulseAudio server (or PipeWire's stand-in for it). The caller
// waits at most the sound's length plus a second: a stalled server must never freeze the window,
// so a playback that overruns is left to finish on its own worker thread.
class PulseSoundPlayer : public SoundPlayer
{
public:
    void playSync(const QString &path) override;

private:
    // Becomes ready when the last started playback lets go of the server. While it is not, new
    // sounds are skipped, so a server that stays stalled costs one thread rather than one for
    // every closed page.
    std::future<void> m_lastPlayback;
};
