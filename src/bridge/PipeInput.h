#pragma once

#include <QIODevice>
#include <QSocketNotifier>

// A read-only device over a pipe's file descriptor, such as the host's standard input, that
// never blocks the event loop: it announces data with readyRead, reads only what is there,
// and emits readChannelFinished once the writer has closed its end.
class PipeInput : public QIODevice
{
    Q_OBJECT

public:
    explicit PipeInput(int descriptor, QObject *parent = nullptr);

    bool isSequential() const override { return true; }
    bool atEnd() const override { return m_ended; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    void end();

    int m_descriptor;
    QSocketNotifier m_notifier;
    bool m_ended = false;
};
