#include "ui/Pictures.h"

#include <QPainter>
#include <QSvgRenderer>

namespace Pictures {

QPixmap pixmap(const QString &name, int size)
{
    QSvgRenderer renderer(QStringLiteral(":/pictures/%1.svg").arg(name));
    QPixmap result(size, size);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    renderer.render(&painter);
    return result;
}

QIcon icon(const QString &name)
{
    QIcon result;
    for (const int size : {16, 24, 32, 48})
        result.addPixmap(pixmap(name, size));
    return result;
}

} // namespace Pictures
