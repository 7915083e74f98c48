#pragma once

#include "platform/TrayIcon.h"

#include <QSystemTrayIcon>

// The icon through QSystemTrayIcon (XEmbed or StatusNotifierItem, as the desktop offers).
class QtTrayIcon : public TrayIcon
{
    Q_OBJECT
public:
    explicit QtTrayIcon(QObject *parent = nullptr);

    bool isAvailable() const override;
    bool add(const QIcon &icon, const QString &tip) override;
    void remove() override;
    bool isShown() const override;
    void popUp(QMenu *menu) override;
    void showMessage(const QString &title, const QString &text) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QSystemTrayIcon m_icon;
};
