#include "lang/ControlTexts.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>

namespace {

const QString kSeparatorCaption = QStringLiteral("-");

const QLabel *captionedLabel(const QObject *control)
{
    const auto *label = qobject_cast<const QLabel *>(control);
    return label && label->pixmap().isNull() ? label : nullptr;
}

bool hasTip(const QObject *control)
{
    return control->isWidgetType() && !qobject_cast<const QMenu *>(control);
}

} // namespace

namespace ControlTexts {

QString keyName(const QObject *control)
{
    const QVariant index = control->property("Index");
    if (!index.isValid())
        return control->objectName();
    return QStringLiteral("%1(%2)").arg(control->objectName()).arg(index.toInt());
}

std::optional<QString> caption(const QObject *control)
{
    if (const auto *menu = qobject_cast<const QMenu *>(control))
        return menu->title();
    if (const auto *action = qobject_cast<const QAction *>(control))
        return action->isSeparator() ? kSeparatorCaption : action->text();
    if (const auto *frame = qobject_cast<const QGroupBox *>(control))
        return frame->title();
    if (const auto *button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    if (const QLabel *label = captionedLabel(control))
        return label->text();
    return std::nullopt;
}

bool setCaption(QObject *control, const QString &text)
{
    if (auto *menu = qobject_cast<QMenu *>(control)) {
        menu->setTitle(text);
    } else if (auto *action = qobject_cast<QAction *>(control)) {
        if (action->isSeparator())
            return false;
        action->setText(text);
    } else if (auto *frame = qobject_cast<QGroupBox *>(control)) {
        frame->setTitle(text);
    } else if (auto *button = qobject_cast<QAbstractButton *>(control)) {
        button->setText(text);
    } else if (captionedLabel(control)) {
        qobject_cast<QLabel *>(control)->setText(text);
    } else {
        return false;
    }
    return true;
}

std::optional<QString> tip(const QObject *control)
{
    if (!hasTip(control))
        return std::nullopt;
    return static_cast<const QWidget *>(control)->toolTip();
}

bool setTip(QObject *control, const QString &text)
{
    if (!hasTip(control))
        return false;
    static_cast<QWidget *>(control)->setToolTip(text);
    return true;
}

} // namespace ControlTexts
