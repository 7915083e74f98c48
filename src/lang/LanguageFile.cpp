#include "lang/LanguageFile.h"

#include "lang/ControlTexts.h"
#include "settings/Ini.h"
#include "settings/IniDocument.h"

#include <QWidget>

namespace {

const QString kFormCaptionKey = QStringLiteral("Form.Caption");

QString captionKey(const QObject *control)
{
    return ControlTexts::keyName(control) + QStringLiteral(".Caption");
}

QString tipKey(const QObject *control)
{
    return ControlTexts::keyName(control) + QStringLiteral(".ToolTipText");
}

} // namespace

void WriteLanguageFile(const LanguageWindow &window, const QString &file)
{
    // One file write for all the keys: the start-up rewrites the whole built-in file.
    IniDocument document(file);
    const QString section = window.window->objectName();
    document.setValue(section, kFormCaptionKey, window.window->windowTitle());
    for (const QObject *control : window.controls) {
        const std::optional<QString> caption = ControlTexts::caption(control);
        if (caption && !caption->isEmpty())
            document.setValue(section, captionKey(control), *caption);
        const std::optional<QString> tip = ControlTexts::tip(control);
        if (tip && !tip->isEmpty())
            document.setValue(section, tipKey(control), *tip);
    }
    document.save();
}

void applyLanguageTexts(const LanguageWindow &window, const QString &file)
{
    const QString section = window.window->objectName();
    window.window->setWindowTitle(
        ReadIniFrom(file, section, kFormCaptionKey, window.window->windowTitle()));
    for (QObject *control : window.controls) {
        if (const std::optional<QString> caption = ControlTexts::caption(control))
            ControlTexts::setCaption(control,
                                     ReadIniFrom(file, section, captionKey(control), *caption));
        if (const std::optional<QString> tip = ControlTexts::tip(control))
            ControlTexts::setTip(control, ReadIniFrom(file, section, tipKey(control), *tip));
    }
}
