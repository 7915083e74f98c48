#pragma once

#include <QObject>

class Form1;
class TaskList;
class TrayHandler;
class TrayIcon;

// Every request to close the window (its close box, its "Quitter" button, start in the tray)
// sends it to the tray instead, and the filter keeps working. Only the quit command, which
// sets QuittingFlag first, lets the window close. On a desktop without a notification area
// the window is minimized instead, so it can still be reached from the task list.
class CloseHandler : public QObject
{
    Q_OBJECT
public:
    CloseHandler(Form1 &form, TrayIcon &tray, TaskList &taskList, const TrayHandler &trayHandler,
                 QObject *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Form1 &m_form;
    TrayIcon &m_tray;
    TaskList &m_taskList;
    const TrayHandler &m_trayHandler;
};
