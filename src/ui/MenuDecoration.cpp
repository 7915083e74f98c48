#include "ui/MenuDecoration.h"

#include "ui/Pictures.h"

#include <QAction>
#include <QMenu>

MenuDecoration::MenuDecoration(QMenu *menu, const QList<Bitmap> &bitmaps, QObject *parent)
    : QObject(parent), m_bitmaps(bitmaps)
{
    for (const Bitmap &bitmap : bitmaps) {
        const QString name = bitmap.first.mid(1);
        for (QAction *action : menu->actions()) {
            if (action->objectName() == name)
                action->setIcon(Pictures::icon(bitmap.second));
        }
    }
}
