#include "bridge/Framing.h"

#include <QtEndian>

#include <algorithm>

QByteArray frameOf(const QByteArray &payload)
{
    QByteArray framed(4, Qt::Uninitialized);
    qToLittleEndian(static_cast<quint32>(payload.size()), framed.data());
    framed.append(payload);
    return framed;
}

void FrameReader::append(QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        if (m_skipping > 0) {
            const auto skipped = std::min<qsizetype>(m_skipping, bytes.size());
            m_skipping -= static_cast<quint32>(skipped);
            bytes = bytes.sliced(skipped);
            continue;
        }
        if (m_pending.size() < 4) {
            const auto taken = std::min<qsizetype>(4 - m_pending.size(), bytes.size());
            m_pending.append(bytes.first(taken));
            bytes = bytes.sliced(taken);
            if (m_pending.size() < 4)
                return;
            const auto length = qFromLittleEndian<quint32>(m_pending.constData());
            if (length > maxFrameBytes) {
                m_ready.append(Frame{{}, length, true});
                m_pending.clear();
                m_skipping = length;
                continue;
            }
        }
        const auto length = qFromLittleEndian<quint32>(m_pending.constData());
        const auto missing = static_cast<qsizetype>(length) - (m_pending.size() - 4);
        const auto taken = std::min<qsizetype>(missing, bytes.size());
        m_pending.append(bytes.first(taken));
        bytes = bytes.sliced(taken);
        if (taken < missing)
            return;
        m_ready.append(Frame{m_pending.sliced(4), length, false});
        m_pending.clear();
    }
}

std::optional<FrameReader::Frame> FrameReader::next()
{
    if (m_ready.isEmpty())
        return std::nullopt;
    return m_ready.takeFirst();
}

void FrameReader::clear()
{
    m_pending.clear();
    m_skipping = 0;
    m_ready.clear();
}
