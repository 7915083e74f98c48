#include "bridge/BridgeSocketPath.h"
#include "bridge/HostRelay.h"
#include "bridge/PipeInput.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <unistd.h>

// Started by the browser with the extension's origin (Chromium) or the manifest's path and the
// add-on's id (Firefox) as arguments; neither changes anything here. Standard output is the
// browser's pipe and carries nothing but frames; diagnostics go to standard error.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // A browser that has gone shows as a failed write, not as a signal that kills the host.
    std::signal(SIGPIPE, SIG_IGN);

    PipeInput input(STDIN_FILENO);
    QFile output;
    if (!output.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered))
        return 1;
    HostRelay relay(&input, &output, bridgeSocketPath(), HostRelay::Settings{});
    QObject::connect(&relay, &HostRelay::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    relay.start();
    return QCoreApplication::exec();
}
