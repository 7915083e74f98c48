#include "filter/ReopenCommand.h"

#include "filter/KeywordCommands.h"
#include "platform/DesktopOpener.h"

#include <QTreeWidget>

void reopenClosedPage(QTreeWidget *ListView3, QTreeWidget *ListView4, DesktopOpener &opener)
{
    const int row = KeywordCommands::selectedRow(ListView4);
    if (row < 0)
        return;
    const QTreeWidgetItem *entry = ListView4->topLevelItem(row);
    const QString keyword = entry->text(1).toLower();
    const QString address = entry->text(2);

    // Whole-text equality, ignoring case; only the first equal keyword goes.
    const int count = ListView3->topLevelItemCount();
    for (int j = 0; j < count; ++j) {
        if (ListView3->topLevelItem(j)->text(0).toLower() == keyword) {
            delete ListView3->takeTopLevelItem(j);
            break;
        }
    }
    // An empty address has nothing to open; a browser would show an error page.
    if (!address.isEmpty())
        opener.openAddress(address);
    delete ListView4->takeTopLevelItem(row);
}
