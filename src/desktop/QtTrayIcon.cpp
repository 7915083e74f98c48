#include "desktop/QtTrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QWidget>

namespace {

// The icon as an XEmbed tray holds it: Qt's own small window, which reports a click on the
// button press. A StatusNotifierItem host has no such window and reports clicks itself.
bool isEmbeddedIcon(const QObject *object)
{
    return object->inherits("QSystemTrayIconSys");
}

} // namespace

QtTrayIcon::QtTrayIcon(QObject *parent) : TrayIcon(parent)
{
    // A StatusNotifierItem host decides when a click is complete; a right click asks for the
    // menu, which the program opens itself.
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason r) {
                if (r == QSystemTrayIcon::Trigger)
                    emit leftButtonReleased();
                else if (r == QSystemTrayIcon::Context)
                    emit rightButtonReleased();
            });
    // The embedded icon's window is made and remade by Qt as trays come and go: its mouse
    // events are watched from the application.
    qApp->installEventFilter(this);
}

// On the embedded icon, a press does nothing; a release over the icon is the click.
bool QtTrayIcon::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if ((type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick &&
         type != QEvent::MouseButtonRelease) ||
        !isEmbeddedIcon(watched))
        return false;
    const auto *mouse = static_cast<QMouseEvent *>(event);
    if (type == QEvent::MouseButtonRelease &&
        static_cast<QWidget *>(watched)->rect().contains(mouse->position().toPoint())) {
        // Acting removes the icon's window or opens a menu: both wait until Qt is done with
        // this event.
        if (mouse->button() == Qt::LeftButton)
            QMetaObject::invokeMethod(this, &TrayIcon::leftButtonReleased, Qt::QueuedConnection);
        else if (mouse->button() == Qt::RightButton)
            QMetaObject::invokeMethod(this, &TrayIcon::rightButtonReleased, Qt::QueuedConnection);
    }
    return true;
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

void QtTrayIcon::showMessage(const QString &title, const QString &text)
{
    m_icon.showMessage(title, text, QSystemTrayIcon::Warning, 15000);
}
