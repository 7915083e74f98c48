#pragma once

#include "platform/TaskList.h"
#include "platform/TrayIcon.h"

#include <QMenu>
#include <QSet>

#include <utility>

// A notification area that is always there and shows one icon at a time.
class ScriptedTray : public TrayIcon
{
    Q_OBJECT
public:
    bool isAvailable() const override { return true; }
    bool add(const QIcon &, const QString &) override { return !std::exchange(m_shown, true); }
    void remove() override { m_shown = false; }
    bool isShown() const override { return m_shown; }
    void popUp(QMenu *) override {}
    void showMessage(const QString &, const QString &text) override { m_messages.append(text); }

    bool m_shown = false;
    QStringList m_messages;
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
