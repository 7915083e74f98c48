#include "app/BrowserBackends.h"
#include "app/DataFolder.h"
#include "app/Program.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "app/UnwatchedBrowsers.h"
#include "app/WindowPlatform.h"
#include "desktop/PulseSoundPlayer.h"
#include "desktop/QtDialogs.h"
#include "desktop/QtTrayIcon.h"
#include "desktop/X11TaskList.h"
#include "desktop/XdgOpener.h"
#include "platform/CompositeBrowserSource.h"
#include "sources/bridge/HostManifests.h"
#include "ui/Form1.h"

#include <QApplication>
#include <QStandardPaths>

#include <vector>

int main(int argc, char *argv[])
{
    // The platform goes as an argument, which a -platform of the user's own given after it
    // overrides, and which the programs the window opens do not inherit, as they would a variable.
    QByteArray platformOption("-platform");
    QByteArray platform = chooseWindowPlatform(qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"),
                                               qgetenv("WAYLAND_DISPLAY"));
    std::vector<char *> arguments(argv, argv + argc);
    if (!platform.isEmpty() && argc > 0)
        arguments.insert(arguments.begin() + 1, {platformOption.data(), platform.data()});
    int count = static_cast<int>(arguments.size());
    arguments.push_back(nullptr);
    QApplication app(count, arguments.data());
    QApplication::setApplicationName(QStringLiteral("Vexlor Popup"));
    // The desktop entry's name, which a Wayland compositor's task list and dash match the window
    // with (its app id): where the window is minimized for want of a notification area, that is
    // where the user finds it again, under the program's own icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("fr.vexlor.popup"));
    // The window hides to the tray; only the quit command ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    const QString programFolder = QCoreApplication::applicationDirPath();
    const QString appFolder = dataFolder(
        programFolder, QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));

    SingleInstance instance(appFolder);
    if (!instance.claim())
        return 0;

    writeHostManifests(HostManifestFolders::standard(), programFolder);
    CompositeBrowserSource source;
    // One census of processes for every part that looks for browsers.
    TabSourceSettings tabSettings;
    tabSettings.processIds = std::make_shared<ProcessIds>(tabSettings.procRoot);
    // The watch for unseen browsers below looks through it every fourth tick, while the filter
    // runs.
    tabSettings.censusLookedElsewhere = true;
    const UnwatchedBrowsers::Sight seen = addBrowserBackends(source, tabSettings);
    PulseSoundPlayer sound;
    QtDialogs dialogs;
    XdgOpener opener;
    QtTrayIcon tray;
    X11TaskList taskList;

    Form1 form(
        {source, sound, dialogs, opener, appFolder, ConfigFolders::standard(), programFolder});
    dialogs.setParent(&form);
    Program program(form, tray, taskList, dialogs, [] { QCoreApplication::exit(0); });

    QObject::connect(&instance, &SingleInstance::showRequested, &program, &Program::showRequested);
    TerminationSignals termination;
    program.followSession(app, termination);
    RunningBrowsers runningBrowsers(tabSettings.processIds);
    UnwatchedBrowsers unwatched(runningBrowsers, seen, tray, form.sb);
    unwatched.follow(form.Timer1);

    return program.run();
}
