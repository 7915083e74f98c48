#pragma once

class QWidget;

// The program's entry in the desktop's task list (the taskbar).
class TaskList
{
public:
    virtual ~TaskList() = default;
    virtual void setListed(QWidget *window, bool listed) = 0;
    virtual bool isListed(const QWidget *window) const = 0;
};
