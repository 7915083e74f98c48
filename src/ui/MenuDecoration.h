#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class QMenu;

// Puts a picture beside menu items. Each key is "#" followed by an item's object name.
class MenuDecoration : public QObject
{
    Q_OBJECT
public:
    using Bitmap = QPair<QString, QString>; // key, picture name

    MenuDecoration(QMenu *menu, const QList<Bitmap> &bitmaps, QObject *parent = nullptr);

    int bmpcount() const { return static_cast<int>(m_bitmaps.size()); }

private:
    QList<Bitmap> m_bitmaps;
};
