#pragma once

class DesktopOpener;
class Dialogs;
class QTreeWidget;

// Undoes one closing: the keyword of the first selected journal row leaves the keyword list,
// its address opens again in the default browser, and the journal row goes. Only web addresses
// (http, https) are opened; any other is shown to the user instead, since the desktop would
// hand it to whatever program claims its scheme.
void reopenClosedPage(QTreeWidget *ListView3, QTreeWidget *ListView4, DesktopOpener &opener,
                      Dialogs &dialogs);
