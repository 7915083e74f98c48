#include "app/TrayHandler.h"

#include "platform/TaskList.h"
#include "platform/TrayIcon.h"
#include "ui/Form1.h"

#include <QGuiApplication>

TrayHandler::TrayHandler(Form1 &form, TrayIcon &tray, TaskList &taskList, QObject *parent)
    : QObject(parent), m_form(form), m_tray(tray), m_taskList(taskList)
{
    connect(&m_tray, &TrayIcon::leftButtonReleased, this, [this] { handleEvent(kLeftButtonUp); });
    connect(&m_tray, &TrayIcon::rightButtonReleased, this, [this] { handleEvent(kRightButtonUp); });
    connect(m_form.affich, &QAction::triggered, this, &TrayHandler::affich);
}

void TrayHandler::fillRecord()
{
    m_record = {m_form.windowIcon(), m_form.windowTitle()};
}

void TrayHandler::handleEvent(int code)
{
    m_trayEventCode = code;
    if (m_trayHandlerBusy)
        return;
    m_trayHandlerBusy = true;
    if (code == kLeftButtonUp) {
        m_tray.remove();
        showWindow(m_form);
        m_taskList.setListed(&m_form, true);
    } else if (code == kRightButtonUp) {
        m_tray.popUp(m_form.contex);
    }
    m_trayHandlerBusy = false;
}

void TrayHandler::affich()
{
    showWindow(m_form);
}

void TrayHandler::showWindow(Form1 &form)
{
    // A Wayland client can neither raise its window nor bring it back from the minimized state,
    // and is not told of that state: a window the user is not in is shown anew, which the
    // compositor maps in the normal state, on top.
    if (QGuiApplication::platformName() == u"wayland" && form.isVisible() && !form.isActiveWindow())
        form.hide();
    if (form.isMinimized())
        form.showNormal();
    else
        form.show();
    form.raise();
    form.activateWindow();
}
