#include "lang/LanguageFile.h"

#include "lang/ControlTexts.h"
#include "platform/TextCodec.h"
#include "settings/Ini.h"
#include "settings/IniDocument.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
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

QString cutToMaxLength(const QString &value)
{
    if (value.size() <= kMaxValueLength)
        return value;
    // Half a character pair would be no character at all.
    return value.left(value.at(kMaxValueLength - 1).isHighSurrogate() ? kMaxValueLength - 1
                                                                      : kMaxValueLength);
}

// The keys of the first section of the given name, by lower-case name, read in one pass over
// the text with the rules of the program's INI files: names match without regard to case, the
// first key of a name counts, blanks around a value and one pair of enclosing quotes go.
QHash<QString, QString> sectionValues(const QString &text, const QString &section)
{
    QHash<QString, QString> values;
    bool inSection = false;
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed();
        if (line.startsWith(u'[')) {
            if (inSection)
                break;
            const qsizetype close = line.indexOf(u']');
            inSection = line.mid(1, close < 0 ? -1 : close - 1)
                            .trimmed()
                            .compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inSection || line.startsWith(u';') || line.startsWith(u'#') || equals <= 0)
            continue;
        QStringView value = line.mid(equals + 1).trimmed();
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        const QString key = line.left(equals).trimmed().toString().toLower();
        if (!values.contains(key))
            values.insert(key, value.toString());
    }
    return values;
}

} // namespace

LanguageFileContent readLanguageFile(const QString &file)
{
    const QFileInfo info(file);
    if (!info.isFile())
        return {};
    if (info.size() > kMaxLanguageFileSize)
        return {{}, true};
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly))
        return {};
    // The file may have grown since its size was taken.
    QByteArray bytes = input.read(kMaxLanguageFileSize + 1);
    if (bytes.size() > kMaxLanguageFileSize)
        return {{}, true};
    return {bytes, false};
}

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

bool applyLanguageTexts(const LanguageWindow &window, const QString &file,
                        const LanguageFileReader &read)
{
    const LanguageFileContent content = read(file);
    if (content.tooLarge)
        return false;
    const QHash<QString, QString> values =
        sectionValues(TextCodec::decode(content.bytes), window.window->objectName());
    const auto text = [&values](const QString &key, const QString &current) {
        const auto found = values.constFind(key.toLower());
        return found == values.constEnd() ? current : cutToMaxLength(*found);
    };
    window.window->setWindowTitle(text(kFormCaptionKey, window.window->windowTitle()));
    for (QObject *control : window.controls) {
        if (const std::optional<QString> caption = ControlTexts::caption(control))
            ControlTexts::setCaption(control, text(captionKey(control), *caption));
        if (const std::optional<QString> tip = ControlTexts::tip(control))
            ControlTexts::setTip(control, text(tipKey(control), *tip));
    }
    return true;
}
