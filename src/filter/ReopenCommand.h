#pragma once

class DesktopOpener;
class QTreeWidget;

// Undoes one closing: the keyword of the first selected journal row leaves the keyword list,
// its address opens again in the default browser, and the journal row goes.
void reopenClosedPage(QTreeWidget *ListView3, QTreeWidget *ListView4, DesktopOpener &opener);
