#include "ui/ListColumns.h"

#include "ui/Twips.h"

#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTreeWidget>

namespace ListColumns {

namespace {

// Highlights a selected row in its first column only.
class FirstColumnSelectionDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() > 0)
            option->state &= ~QStyle::State_Selected;
    }
};

void reportView(QTreeWidget *list, const QStringList &headers, const QList<float> &widths)
{
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setColumnCount(static_cast<int>(headers.size()));
    list->setHeaderLabels(headers);
    list->header()->setStretchLastSection(false);
    for (int c = 0; c < widths.size(); ++c)
        list->setColumnWidth(c, Twips::toPixels(widths[c]));
}

// The list's own width in twips, as laid out.
float widthOf(const QTreeWidget *list)
{
    return static_cast<float>(Twips::fromPixels(list->width()));
}

} // namespace

void setFullRowSelect(QTreeWidget *list, bool on)
{
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(on);
    if (on)
        list->setItemDelegate(new QStyledItemDelegate(list));
    else
        list->setItemDelegate(new FirstColumnSelectionDelegate(list));
}

void create(QTreeWidget *ListView1, QTreeWidget *ListView2, QTreeWidget *ListView3,
            QTreeWidget *ListView4)
{
    float w = widthOf(ListView1);
    reportView(ListView1, {QStringLiteral("Nom de la page"), QStringLiteral("Url")},
               {w / 2 - 100, w / 2});
    setFullRowSelect(ListView1, true);

    w = widthOf(ListView2);
    reportView(ListView2, {QStringLiteral("Fermer"), QStringLiteral("Mot clef")}, {1500, w - 1600});
    setFullRowSelect(ListView2, false);

    w = widthOf(ListView3);
    reportView(ListView3, {QStringLiteral("Filtre")}, {w - 100});
    ListView3->setHeaderHidden(true);
    setFullRowSelect(ListView3, true);

    w = widthOf(ListView4);
    reportView(ListView4,
               {QStringLiteral("Heure"), QStringLiteral("Mots clefs"), QStringLiteral("Url")},
               {1000, 2000, w - 3100});
    setFullRowSelect(ListView4, true);
}

} // namespace ListColumns
