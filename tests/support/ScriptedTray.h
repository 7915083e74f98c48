#pragma once

#include "platform/TaskList.h"
#include "platform/TrayIcon.h"

#include <QMenu>
#include <QSet>

#include <functional>

// A notification area the test controls: it can be missing, it records the icon's tip, and a
// test clicks the icon by emitting its signals. While the menu is "open", duringMenu runs, as
// the events that arrive while a real menu is open would.
class ScriptedTray : public TrayIcon
{
    Q_OBJECT
public:
    bool isAvailable() const override { return m_available; }
    bool add(const QIcon &, const QString &tip) override
    {
        ++m_addRequests;
        if (m_shown || !m_available)
            return false;
        m_tip = tip;
        return m_shown = true;
    }
    void remove() override { m_shown = false; }
    bool isShown() const override { return m_shown; }
    void popUp(QMenu *menu) override
    {
        m_poppedUp.append(menu);
        if (m_duringMenu)
            m_duringMenu();
    }

    bool m_available = true;
    bool m_shown = false;
    int m_addRequests = 0;
    QString m_tip;
    QList<QMenu *> m_poppedUp;
    std::function<void()> m_duringMenu;
};

// Remembers which windows are out of the task list.
class RecordingTaskList : public TaskList
{
public:
    void setListed(QWidget *window, bool listed) override
    {
        if (listed)
            m_unlisted.remove(window);
        else
            m_unlisted.insert(window);
    }
    bool isListed(const QWidget *window) const override
    {
        return !m_unlisted.contains(const_cast<QWidget *>(window));
    }

    QSet<QWidget *> m_unlisted;
};
