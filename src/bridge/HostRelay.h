#pragma once

#include "bridge/Framing.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QIODevice>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>

#include <optional>

// The native messaging host's work: relays the extension's tab lists and changes from the
// browser's pipe to the program's socket, and the program's close requests back, each side's
// messages checked on the way. The program may come and go; the host keeps trying it. Each
// connection starts with a hello naming the browser, and none is used before the kernel has said
// that the program runs as this host's user. A program that (re)connects needs the whole list:
// the host gives it the last one while no change has followed it (all an extension of an older
// version sends), and otherwise asks the extension for a fresh one; it asks too after refusing a
// message, since the program then holds no list until the next one comes.
class HostRelay : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        int reconnectIntervalMs = 500;
        // The user the program must run as; nothing means this host's own.
        std::optional<uint> programUserId;
        // The browser that started the host; nothing means the host's parent process.
        std::optional<qint64> browserPid;
    };

    HostRelay(QIODevice *input, QIODevice *output, const QString &socketPath,
              const Settings &settings);
    ~HostRelay() override;

    // Starts reading the input and reaching the program.
    void start();

    bool isConnected() const { return m_ready; }

    // The name of the executable of a process, as the hello gives it.
    static QString processName(qint64 pid);

signals:
    // The browser has closed the input: the host has nothing left to do.
    void finished();

private:
    void readInput();
    void endInput();
    void handleExtensionFrame(const FrameReader::Frame &frame);
    void refuse(quint32 length);
    void askForList();
    void connectToProgram();
    void programConnected();
    void programDisconnected();
    void readProgram();
    void sendToProgram(const QByteArray &payload);

    QIODevice *m_input;
    QIODevice *m_output;
    QString m_socketPath;
    Settings m_settings;
    qint64 m_browserPid = 0;
    QString m_browserName;
    QLocalSocket m_socket;
    QTimer m_retry;
    QDeadlineTimer m_connecting;
    FrameReader m_fromExtension;
    FrameReader m_fromProgram;
    // The last whole list while no change has followed it, or the refusal that came after it.
    QByteArray m_lastList;
    bool m_lastIsWhole = false;
    // A list that is refused in turn is asked for again at most once a second, not in a loop.
    QElapsedTimer m_asked;
    QTimer m_askLater;
    bool m_ready = false;
    bool m_ended = false;
    // Said once per absence rather than every retry.
    bool m_absenceReported = false;
};
