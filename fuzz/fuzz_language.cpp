// Language files: a hand-edited file applied to a window, and the window's texts written into
// it and read back.
#include "FuzzInput.h"

#include "lang/ControlTexts.h"
#include "lang/LanguageFile.h"
#include "settings/Ini.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

using FuzzInput::require;

namespace {

// A window with one control of each kind that carries texts: a check box is a button too.
struct Window
{
    Window()
    {
        widget.setObjectName(u"Form1"_qs);
        const auto named = [](QObject *control, const QString &name) {
            control->setObjectName(name);
            return control;
        };
        language.window = &widget;
        language.controls = {named(new QLabel(&widget), u"Label1"_qs),
                             named(new QPushButton(&widget), u"Command1"_qs),
                             named(new QMenu(&widget), u"mnuFile"_qs)};
        auto *menu = static_cast<QMenu *>(language.controls.last());
        language.controls.append(named(menu->addAction(QString()), u"mnuQuit"_qs));
    }

    // Every text of the window, caption then tip of each control.
    QStringList texts() const
    {
        QStringList result{widget.windowTitle()};
        for (const QObject *control : language.controls)
            result << ControlTexts::caption(control).value_or(QString())
                   << ControlTexts::tip(control).value_or(QString());
        return result;
    }

    void setTexts(const QStringList &texts)
    {
        widget.setWindowTitle(texts.value(0));
        qsizetype i = 1;
        for (QObject *control : language.controls) {
            ControlTexts::setCaption(control, texts.value(i++));
            ControlTexts::setTip(control, texts.value(i++));
        }
    }

    QWidget widget;
    LanguageWindow language;
};

// What a text reads back as: on one line and cut to the length a read gives.
QString readBack(QString text)
{
    text.replace(u'\r', u' ').replace(u'\n', u' ');
    if (text.size() > kMaxValueLength)
        text.truncate(text.at(kMaxValueLength - 1).isHighSurrogate() ? kMaxValueLength - 1
                                                                     : kMaxValueLength);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = FuzzInput::parts(data, size, 2);
    const QString path = FuzzInput::writtenFile(u"Francais.lng"_qs, parts[0]);

    // Only texts that are not empty are written, so each text has at least one character.
    QStringList texts = QString::fromUtf8(parts[1]).split(u'\t');
    Window original;
    texts.resize(original.texts().size());
    for (QString &text : texts)
        if (text.isEmpty())
            text = u"x"_qs;
    original.setTexts(texts);

    // The window's own texts, written into a hand-edited file, come back whatever it held before.
    WriteLanguageFile(original.language, path);
    Window fresh;
    fresh.setTexts(QStringList(texts.size(), u"-"_qs));
    applyLanguageTexts(fresh.language, path);
    const QStringList expected = original.texts();
    const QStringList restored = fresh.texts();
    for (qsizetype i = 0; i < expected.size(); ++i)
        require(restored[i] == readBack(expected[i]), "a written text reads back the same");
    return 0;
}
