#pragma once

#include "ui/Form1.h"

#include <QLineEdit>
#include <QMap>
#include <QVariant>

// Every text of the main window, by object name and property: the window's title, and the
// text, title and tip of each control and menu item. Two windows that show the same words give
// the same map. The sound path in Text1 is the user's, not a word of the window.
inline QMap<QString, QString> windowTexts(const Form1 &form)
{
    QMap<QString, QString> texts;
    texts.insert(QStringLiteral("Form1.windowTitle"), form.windowTitle());
    for (const QObject *control : form.controls()) {
        if (qobject_cast<const QLineEdit *>(control))
            continue;
        for (const char *property : {"text", "title", "toolTip"}) {
            const QVariant value = control->property(property);
            if (value.isValid())
                texts.insert(control->objectName() + u'.' + QLatin1String(property),
                             value.toString());
        }
    }
    return texts;
}
