#pragma once

#include "platform/TaskList.h"

// The task-list entry as the _NET_WM_STATE_SKIP_TASKBAR state of the window, which taskbars
// and pagers honour. Without an X11 display it does nothing and reports the window as listed.
class X11TaskList : public TaskList
{
public:
    void setListed(QWidget *window, bool listed) override;
    bool isListed(const QWidget *window) const override;
};
