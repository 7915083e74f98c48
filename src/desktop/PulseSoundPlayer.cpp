#include "desktop/PulseSoundPlayer.h"

#include <QFile>
#include <QFileInfo>

#include <pulse/simple.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Far longer than any notification sound; a stray long file would otherwise hold the window.
constexpr sf_count_t maxSeconds = 30;
// Decoding in chunks keeps memory flat whatever the file's format.
constexpr sf_count_t chunkFrames = 4096;
// How long past the sound's own length the caller waits for a slow server.
constexpr std::chrono::seconds grace{1};
// Servers buffer two seconds by default, and draining would wait that out after every sound.
constexpr pa_usec_t bufferUsec = 100'000;

struct SndFileCloser
{
    void operator()(SNDFILE *file) const { sf_close(file); }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileCloser>;

struct StreamFreer
{
    void operator()(pa_simple *stream) const { pa_simple_free(stream); }
};
using StreamPtr = std::unique_ptr<pa_simple, StreamFreer>;

// Runs on the worker: everything it touches is its own, so it may outlive the player.
void play(SNDFILE *file, const pa_sample_spec &sampleFormat, const QByteArray &streamName)
{
    const auto unset = static_cast<uint32_t>(-1);
    const pa_buffer_attr buffer{unset,
                                static_cast<uint32_t>(pa_usec_to_bytes(bufferUsec, &sampleFormat)),
                                unset, unset, unset};
    const StreamPtr stream(pa_simple_new(nullptr, "Vexlor Popup", PA_STREAM_PLAYBACK, nullptr,
                                         streamName.constData(), &sampleFormat, nullptr, &buffer,
                                         nullptr));
    if (!stream)
        return;
    // libsndfile hands out float files unscaled when asked for shorts, so every format is
    // decoded as float in [-1, 1] and converted here.
    std::vector<float> decoded(static_cast<size_t>(chunkFrames) * sampleFormat.channels);
    std::vector<int16_t> samples(decoded.size());
    sf_count_t frames = 0;
    while ((frames = sf_readf_float(file, decoded.data(), chunkFrames)) > 0) {
        const auto count = static_cast<std::ptrdiff_t>(frames) * sampleFormat.channels;
        std::transform(decoded.begin(), decoded.begin() + count, samples.begin(), [](float x) {
            return static_cast<int16_t>(std::lrint(std::clamp(x, -1.0F, 1.0F) * 32767.0F));
        });
        if (pa_simple_write(stream.get(), samples.data(), count * sizeof(int16_t), nullptr) < 0)
            return;
    }
    pa_simple_drain(stream.get(), nullptr);
}

} // namespace

void PulseSoundPlayer::playSync(const QString &path)
{
    using namespace std::chrono_literals;
    if (m_lastPlayback.valid() && m_lastPlayback.wait_for(0s) != std::future_status::ready)
        return;

    // The file is opened here rather than on the worker so that a bad path costs no thread.
    // Only regular files: sf_open would block on a FIFO.
    const QFileInfo fileInfo(path);
    if (path.isEmpty() || !fileInfo.isFile())
        return;
    SF_INFO info{};
    SndFilePtr file(sf_open(QFile::encodeName(path).constData(), SFM_READ, &info));
    if (!file || info.frames <= 0 || info.samplerate <= 0 || info.channels <= 0 ||
        info.channels > static_cast<int>(PA_CHANNELS_MAX) ||
        info.frames / info.samplerate >= maxSeconds)
        return;
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16NE, static_cast<uint32_t>(info.samplerate),
                                      static_cast<uint8_t>(info.channels)};
    if (!pa_sample_spec_valid(&sampleFormat))
        return;
    const std::chrono::milliseconds length{info.frames * 1000 / info.samplerate};

    std::promise<void> finished;
    std::future<void> done = finished.get_future();
    try {
        std::thread([file = std::move(file), sampleFormat, name = fileInfo.fileName().toUtf8(),
                     finished = std::move(finished)]() mutable {
            play(file.get(), sampleFormat, name);
            file.reset();
            finished.set_value();
        }).detach();
    } catch (const std::system_error &) {
        return;
    }
    done.wait_for(length + grace);
    m_lastPlayback = std::move(done);
}
