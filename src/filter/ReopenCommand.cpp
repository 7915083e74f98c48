#include "filter/ReopenCommand.h"

#include "filter/KeywordCommands.h"
#include "platform/DesktopOpener.h"
#include "platform/Dialogs.h"

#include <QTreeWidget>
#include <QUrl>

namespace {

bool isWebAddress(const QString &address)
{
    const QString scheme = QUrl(address).scheme();
    return scheme.compare(u"http", Qt::CaseInsensitive) == 0 ||
           scheme.compare(u"https", Qt::CaseInsensitive) == 0;
}

} // namespace

void reopenClosedPage(QTreeWidget *ListView3, QTreeWidget *ListView4, DesktopOpener &opener,
                      Dialogs &dialogs)
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
    // The row goes before any message: scan ticks run while a message is open.
    delete ListView4->takeTopLevelItem(row);
    // An empty address has nothing to open; a browser would show an error page.
    if (isWebAddress(address))
        opener.openAddress(address);
    else if (!address.isEmpty())
        dialogs.messageBox(QStringLiteral("Seules les adresses web (http, https) sont rouvertes. "
                                          "Cette adresse n'a pas été ouverte :\r") +
                               address,
                           QStringLiteral("Vexlor Popup"), Dialogs::Icon::Information);
}
