#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

class QMenu;

// The program's icon in the notification area. It reports the two events the program acts
// on: the left and the right mouse button released over the icon.
class TrayIcon : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // False on a desktop without a notification area.
    virtual bool isAvailable() const = 0;
    // Adds the icon; false when it is there already, or cannot be shown.
    virtual bool add(const QIcon &icon, const QString &tip) = 0;
    virtual void remove() = 0;
    virtual bool isShown() const = 0;
    // Opens the menu at the pointer and returns when it has closed.
    virtual void popUp(QMenu *menu) = 0;
    // A warning from the icon, as the desktop shows notifications; returns at once.
    virtual void showMessage(const QString &title, const QString &text) = 0;

signals:
    void leftButtonReleased();
    void rightButtonReleased();
};
