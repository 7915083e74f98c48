#include "ui/Fonts.h"

#include <QStringList>

namespace Fonts {

namespace {

QFont font(const QStringList &families, double pointSize, bool bold = false)
{
    QFont result;
    result.setFamilies(families + QStringList{QStringLiteral("DejaVu Sans"),
                                              QStringLiteral("Noto Sans"),
                                              QStringLiteral("Liberation Sans")});
    result.setStyleHint(QFont::SansSerif);
    result.setPointSizeF(pointSize);
    result.setBold(bold);
    return result;
}

} // namespace

QFont verdana(double pointSize, bool bold)
{
    return font({QStringLiteral("Verdana")}, pointSize, bold);
}

QFont msSansSerif(double pointSize)
{
    return font({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif")},
                pointSize);
}

QFont tahoma(double pointSize)
{
    return font({QStringLiteral("Tahoma")}, pointSize);
}

} // namespace Fonts
