#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

// Native messaging's framing, used on the browser's pipes and on the program's socket alike:
// each message is a 4-byte little-endian length followed by that many bytes of JSON.
QByteArray frameOf(const QByteArray &payload);

// Cuts a byte stream into frames, whatever the pieces it arrives in. A frame longer than the
// limit is skipped as its bytes come, never held whole, and reported once.
class FrameReader
{
public:
    static constexpr quint32 maxFrameBytes = 1024 * 1024;

    struct Frame
    {
        QByteArray payload;
        // The length the prefix announced; for an oversize frame the payload stays empty.
        quint32 length = 0;
        bool oversize = false;
    };

    void append(QByteArrayView bytes);
    // The next frame whose bytes have all come, oversize ones included, in stream order.
    std::optional<Frame> next();
    // Whether a frame (or its length prefix) has begun and not yet ended.
    bool isMidFrame() const { return !m_pending.isEmpty() || m_skipping > 0; }
    void clear();

private:
    QByteArray m_pending;
    quint32 m_skipping = 0;
    QList<Frame> m_ready;
};
