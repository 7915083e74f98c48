#pragma once

#include <QString>

#include <optional>

class QObject;

// The two texts of a control that a language file carries: its caption and its tip. Frames,
// buttons, check boxes, labels, menus and menu items have a caption; a menu item's separator
// reads as "-". Widgets other than menus and menu items have a tip. A label that shows a
// picture is an image, without caption.
namespace ControlTexts {

// The name of the control in a language file: its object name, followed by its index in
// brackets for a member of a control array (a control with the property "Index").
QString keyName(const QObject *control);

// Nothing when the control has no such text.
std::optional<QString> caption(const QObject *control);
std::optional<QString> tip(const QObject *control);

// Return false, changing nothing, when the control has no such text. A separator stays a
// separator.
bool setCaption(QObject *control, const QString &text);
bool setTip(QObject *control, const QString &text);

} // namespace ControlTexts
