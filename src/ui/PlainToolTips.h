#pragma once

#include <QObject>

class QWidget;

// Tips come from language files, so they are shown as they are written: a tip that Qt would
// take for rich text is shown with its markup as plain characters.
class PlainToolTips : public QObject
{
    Q_OBJECT
public:
    // Watches the window and every widget in it.
    static void install(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using QObject::QObject;
};
