#pragma once

#include <QObject>

class QTreeWidget;

// Notices every change of a list's rows, or of the texts in one of its columns, so that what is
// derived from them can be kept until they change. Rows inserted, removed or moved, a sort and a
// clear all count; a change in another column does not.
class ListWatch
{
public:
    ListWatch(const QTreeWidget *list, int column);

    // True the first time, then once after each change.
    bool takeChanged();

private:
    bool m_changed = true;
    // Receives the list's signals; the connections end with the watch.
    QObject m_receiver;
};
