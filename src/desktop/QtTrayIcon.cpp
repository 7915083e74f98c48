#include "desktop/QtTrayIcon.h"

#include <QCursor>
#include <QMenu>

QtTrayIcon::QtTrayIcon(QObject *parent) : TrayIcon(parent)
{
    // Qt reports a click once the button is released; a right click asks for the menu, which
    // the program opens itself.
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason r) {
                if (r == QSystemTrayIcon::Trigger)
                    emit leftButtonReleased();
                else if (r == QSystemTrayIcon::Context)
                    emit rightButtonReleased();
            });
}

bool QtTrayIcon::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool QtTrayIcon::add(const QIcon &icon, const QString &tip)
{
    if (m_icon.isVisible() || !isAvailable())
        return false;
    m_icon.setIcon(icon);
    m_icon.setToolTip(tip);
    m_icon.show();
    return true;
}

void QtTrayIcon::remove()
{
    m_icon.hide();
}

bool QtTrayIcon::isShown() const
{
    return m_icon.isVisible();
}

void QtTrayIcon::popUp(QMenu *menu)
{
    menu->exec(QCursor::pos());
}
