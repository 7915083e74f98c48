#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

class Form1;
class TaskList;
class TrayIcon;

// What the notification area shows: the window's icon, and as tip the window's caption at
// start-up, before any language renames it.
struct TrayIconRecord
{
    QIcon hIcon;
    QString szTip;
};

// The icon's events. A left-button release brings the window back as it normally is: icon
// gone, window shown, program back in the task list. A right-button release opens the menu.
class TrayHandler : public QObject
{
    Q_OBJECT
public:
    static constexpr int kLeftButtonUp = 0x202;
    static constexpr int kRightButtonUp = 0x205;

    TrayHandler(Form1 &form, TrayIcon &tray, TaskList &taskList, QObject *parent = nullptr);

    void fillRecord();
    const TrayIconRecord &record() const { return m_record; }

    // Acts on one event code; while the handler is busy (its menu open) events are ignored.
    void handleEvent(int code);
    // The menu item that only shows the window.
    void affich();
    // The window as it was, out of the tray or out of its minimized state.
    static void showWindow(Form1 &form);

    int TrayEventCode() const { return m_trayEventCode; }

private:
    Form1 &m_form;
    TrayIcon &m_tray;
    TaskList &m_taskList;
    TrayIconRecord m_record;
    int m_trayEventCode = 0;
    bool m_trayHandlerBusy = false;
};
