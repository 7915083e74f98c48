#include "bridge/HostRelay.h"

#include "bridge/BridgeMessages.h"
#include "bridge/PeerCredentials.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

void report(const QString &line)
{
    qWarning("vexlor-popup-bridge : %s", qUtf8Printable(line));
}

} // namespace

HostRelay::HostRelay(QIODevice *input, QIODevice *output, const QString &socketPath,
                     const Settings &settings)
    : m_input(input), m_output(output), m_socketPath(socketPath), m_settings(settings),
      m_browserPid(settings.browserPid.value_or(::getppid())),
      m_browserName(processName(m_browserPid))
{
    // Runs for as long as the host has no program: a connection attempt that hangs or fails
    // without a word is tried again all the same.
    m_retry.setInterval(m_settings.reconnectIntervalMs);
    connect(&m_retry, &QTimer::timeout, this, &HostRelay::connectToProgram);
    connect(&m_socket, &QLocalSocket::connected, this, &HostRelay::programConnected);
    // A connection refused and one lost alike end in the unconnected state.
    connect(&m_socket, &QLocalSocket::stateChanged, this,
            [this](QLocalSocket::LocalSocketState state) {
                if (state == QLocalSocket::UnconnectedState)
                    programDisconnected();
            });
    connect(&m_socket, &QLocalSocket::readyRead, this, &HostRelay::readProgram);
    m_askLater.setSingleShot(true);
    connect(&m_askLater, &QTimer::timeout, this, &HostRelay::askForList);
}

HostRelay::~HostRelay()
{
    // The socket reports its end as it goes, after the timer it would restart has gone.
    QObject::disconnect(&m_socket, nullptr, this, nullptr);
}

void HostRelay::start()
{
    connect(m_input, &QIODevice::readyRead, this, &HostRelay::readInput);
    // Queued, so that the frames read along with the end are handled first.
    connect(m_input, &QIODevice::readChannelFinished, this, &HostRelay::endInput,
            Qt::QueuedConnection);
    m_retry.start();
    connectToProgram();
    readInput();
}

QString HostRelay::processName(qint64 pid)
{
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid))).fileName();
}

void HostRelay::readInput()
{
    char chunk[64 * 1024];
    for (;;) {
        const qint64 count = m_input->read(chunk, sizeof chunk);
        if (count <= 0)
            break;
        m_fromExtension.append(QByteArrayView(chunk, count));
        while (const auto frame = m_fromExtension.next())
            handleExtensionFrame(*frame);
    }
}

void HostRelay::endInput()
{
    if (m_ended)
        return;
    m_ended = true;
    m_retry.stop();
    m_askLater.stop();
    if (m_fromExtension.isMidFrame())
        report(QStringLiteral("le navigateur a fermé l'entrée au milieu d'un message"));
    if (m_ready)
        m_socket.flush();
    emit finished();
}

void HostRelay::handleExtensionFrame(const FrameReader::Frame &frame)
{
    if (frame.oversize) {
        report(QStringLiteral("message de l'extension de %1 octets ignoré : trop long")
                   .arg(frame.length));
        refuse(frame.length);
        return;
    }
    QString why;
    const auto message = BridgeMessages::parse(frame.payload, &why);
    if (!message) {
        report(QStringLiteral("message de l'extension ignoré : %1").arg(why));
        refuse(frame.length);
        return;
    }
    if (BridgeMessages::isTabs(*message)) {
        m_lastList = frame.payload;
        m_lastIsWhole = true;
    } else if (BridgeMessages::isChanges(*message)) {
        // The last list no longer stands alone; a refusal still holds until a list comes.
        if (m_lastIsWhole)
            m_lastList.clear();
        m_lastIsWhole = false;
    } else {
        report(QStringLiteral("commande inconnue de l'extension ignorée"));
        return;
    }
    sendToProgram(frame.payload);
}

// A message that could not be read may have been a list or a change: the program is told, so
// that it stops taking what it holds for the browser's tabs, and the extension is asked for the
// whole list.
void HostRelay::refuse(quint32 length)
{
    m_lastList = BridgeMessages::refused(length);
    m_lastIsWhole = false;
    sendToProgram(m_lastList);
    askForList();
}

void HostRelay::askForList()
{
    constexpr int askIntervalMs = 1000;
    if (m_ended)
        return;
    if (m_asked.isValid() && !m_asked.hasExpired(askIntervalMs)) {
        if (!m_askLater.isActive())
            m_askLater.start(askIntervalMs - static_cast<int>(m_asked.elapsed()));
        return;
    }
    m_asked.start();
    if (m_output->write(frameOf(BridgeMessages::listRequest())) < 0)
        report(QStringLiteral("impossible d'écrire au navigateur"));
}

// What comes while the program is away is dropped: it is given the whole list when it comes.
void HostRelay::sendToProgram(const QByteArray &payload)
{
    if (m_ready)
        m_socket.write(frameOf(payload));
}

void HostRelay::connectToProgram()
{
    if (m_ended || m_ready)
        return;
    // A program that is there answers at once; an attempt still pending is given up.
    if (m_socket.state() == QLocalSocket::ConnectingState && m_connecting.hasExpired())
        m_socket.abort();
    if (m_socket.state() != QLocalSocket::UnconnectedState)
        return;
    m_connecting.setRemainingTime(4 * m_settings.reconnectIntervalMs);
    m_socket.connectToServer(m_socketPath);
}

void HostRelay::programConnected()
{
    const auto peer = peerCredentials(m_socket);
    const uint expected = m_settings.programUserId.value_or(::getuid());
    if (!peer || peer->uid != expected) {
        if (!m_absenceReported)
            report(QStringLiteral("%1 n'appartient pas au programme de cet utilisateur : refusé")
                       .arg(m_socketPath));
        m_absenceReported = true;
        m_socket.abort();
        return;
    }
    m_ready = true;
    m_retry.stop();
    m_absenceReported = false;
    m_fromProgram.clear();
    m_socket.write(frameOf(BridgeMessages::hello(m_browserPid, m_browserName)));
    if (!m_lastList.isEmpty())
        m_socket.write(frameOf(m_lastList));
    if (!m_lastIsWhole)
        askForList();
}

void HostRelay::programDisconnected()
{
    if (m_ready)
        report(QStringLiteral("connexion au programme perdue"));
    m_ready = false;
    if (!m_ended && !m_retry.isActive())
        m_retry.start();
}

void HostRelay::readProgram()
{
    m_fromProgram.append(m_socket.readAll());
    while (const auto frame = m_fromProgram.next()) {
        if (frame->oversize) {
            report(QStringLiteral("message du programme de %1 octets ignoré : trop long")
                       .arg(frame->length));
            continue;
        }
        QString why;
        const auto message = BridgeMessages::parse(frame->payload, &why);
        const auto tabId = message ? BridgeMessages::closeTabId(*message) : std::nullopt;
        if (!tabId) {
            report(message ? QStringLiteral("commande inconnue du programme ignorée")
                           : QStringLiteral("message du programme ignoré : %1").arg(why));
            continue;
        }
        if (m_output->write(frameOf(BridgeMessages::close(*tabId))) < 0)
            report(QStringLiteral("impossible d'écrire au navigateur"));
    }
}
