#include "app/Program.h"

#include "app/StartUp.h"
#include "app/TerminationSignals.h"
#include "settings/CheckStates.h"
#include "ui/Form1.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QSessionManager>

Program::Program(Form1 &form, TrayIcon &tray, TaskList &taskList, Dialogs &dialogs,
                 QuitCommand::EndProgram endProgram, QObject *parent)
    : QObject(parent), m_form(form), m_trayHandler(form, tray, taskList),
      m_closeHandler(form, tray, taskList, m_trayHandler),
      m_quitCommand(form, dialogs, std::move(endProgram))
{
    connect(m_form.quit, &QAction::triggered, this, [this] { m_quitCommand.quit(); });
}

void Program::startUp()
{
    m_form.QuittingFlag = false;
    m_trayHandler.fillRecord();
    runStartUp(m_form);
    // Start in the tray: the window asks itself to close, which the close handler turns into
    // the move to the tray. Otherwise the window appears.
    if (CheckStates::stored(m_form.Check4) == 1)
        m_form.close();
    else
        m_form.show();
}

int Program::run()
{
    startUp();
    // Start-up lets events through, so a session may already have ended the program; its
    // request to leave the event loop came before there was one, and would be lost.
    return m_form.QuittingFlag ? 0 : QApplication::exec();
}

void Program::showRequested()
{
    m_trayHandler.handleEvent(TrayHandler::kLeftButtonUp);
    QApplication::alert(&m_form);
}

void Program::followSession(QGuiApplication &app, TerminationSignals &termination)
{
    connect(&app, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager &) { m_quitCommand.commitData(); });
    connect(&termination, &TerminationSignals::terminationRequested, this,
            [this] { m_quitCommand.endSession(); });
}
