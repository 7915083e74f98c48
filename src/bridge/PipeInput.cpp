#include "bridge/PipeInput.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

PipeInput::PipeInput(int descriptor, QObject *parent)
    : QIODevice(parent), m_descriptor(descriptor), m_notifier(descriptor, QSocketNotifier::Read)
{
    // Unbuffered: QIODevice's own buffering would ask for more than is there.
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    // The notifier keeps firing while the pipe is readable, so whoever reads must read until
    // read() gives 0; at the end of the pipe it is turned off.
    connect(&m_notifier, &QSocketNotifier::activated, this, &PipeInput::readyRead);
}

qint64 PipeInput::readData(char *data, qint64 maxSize)
{
    if (m_ended)
        return -1;
    pollfd ready{m_descriptor, POLLIN, 0};
    int polled = 0;
    do {
        polled = ::poll(&ready, 1, 0);
    } while (polled < 0 && errno == EINTR);
    if (polled <= 0)
        return 0;
    ssize_t count = 0;
    do {
        count = ::read(m_descriptor, data, static_cast<size_t>(maxSize));
    } while (count < 0 && errno == EINTR);
    if (count > 0)
        return count;
    end();
    return -1;
}

void PipeInput::end()
{
    m_ended = true;
    m_notifier.setEnabled(false);
    emit readChannelFinished();
}
