#include "ui/PlainToolTips.h"

#include <QHelpEvent>
#include <QTextDocument>
#include <QToolTip>
#include <QWidget>

void PlainToolTips::install(QWidget *window)
{
    auto *filter = new PlainToolTips(window);
    window->installEventFilter(filter);
    for (QWidget *widget : window->findChildren<QWidget *>())
        widget->installEventFilter(filter);
}

bool PlainToolTips::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::ToolTip || !watched->isWidgetType())
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    const QString tip = widget->toolTip();
    if (!Qt::mightBeRichText(tip))
        return false;
    QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(),
                       QStringLiteral("<p style=\"white-space:pre\">") + tip.toHtmlEscaped() +
                           QStringLiteral("</p>"),
                       widget);
    return true;
}
