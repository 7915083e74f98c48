#include "app/CloseHandler.h"

#include "app/TrayHandler.h"
#include "platform/TaskList.h"
#include "platform/TrayIcon.h"
#include "settings/Ini.h"
#include "ui/Form1.h"

#include <QCloseEvent>
#include <QLineEdit>

CloseHandler::CloseHandler(Form1 &form, TrayIcon &tray, TaskList &taskList,
                           const TrayHandler &trayHandler, QObject *parent)
    : QObject(parent), m_form(form), m_tray(tray), m_taskList(taskList), m_trayHandler(trayHandler)
{
    m_form.installEventFilter(this);
}

bool CloseHandler::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != &m_form || event->type() != QEvent::Close)
        return false;
    m_tray.add(m_trayHandler.record().hIcon, m_trayHandler.record().szTip);
    WriteIni(m_form.appFolder(), QStringLiteral("Config"), QStringLiteral("Text1"),
             m_form.Text1->text());
    if (m_tray.isAvailable()) {
        m_form.hide();
        m_taskList.setListed(&m_form, false);
    } else {
        m_form.showMinimized();
    }
    event->setAccepted(m_form.QuittingFlag);
    return true;
}
