#pragma once

#include "app/CloseHandler.h"
#include "app/QuitCommand.h"
#include "app/TrayHandler.h"

#include <QObject>

class Dialogs;
class Form1;
class QGuiApplication;
class TaskList;
class TerminationSignals;
class TrayIcon;

// The program's life around its window: the tray icon and its menu, every close request
// turned into a move to the tray, and the quit command that saves and ends.
class Program : public QObject
{
    Q_OBJECT
public:
    Program(Form1 &form, TrayIcon &tray, TaskList &taskList, Dialogs &dialogs,
            QuitCommand::EndProgram endProgram, QObject *parent = nullptr);

    // The whole start-up sequence, from the reset of QuittingFlag to the window shown, or sent
    // to the tray when the program starts there.
    void startUp();

    // Start-up, then the event loop until the quit command or the session ends the program.
    // Returns the program's exit status.
    int run();

    // The desktop session's requests: saving its state (a checkpoint, or a log-out that may
    // still be cancelled) saves both files and the filter goes on; a termination signal (the
    // session's real end, kill) saves and ends.
    void followSession(QGuiApplication &app, TerminationSignals &termination);

    // A second start asks for the window: it comes back as from the tray icon, raised, and asks
    // for the user's attention where the desktop will not give it the focus (a Wayland compositor
    // gives the focus only to the window the user acts on).
    void showRequested();

    TrayHandler &trayHandler() { return m_trayHandler; }
    QuitCommand &quitCommand() { return m_quitCommand; }

private:
    Form1 &m_form;
    TrayHandler m_trayHandler;
    CloseHandler m_closeHandler;
    QuitCommand m_quitCommand;
};
