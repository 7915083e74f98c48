#pragma once

#include "platform/Limits.h"
#include <QByteArray>
#include <QString>

// Turning the raw text that X11 windows carry into what the filter matches. Nothing here talks
// to an X server, so every function can be fed arbitrary bytes.
namespace X11TitleText {

// How a text property's bytes are encoded, from the property's type atom.
enum class Encoding
{
    Utf8,         // UTF8_STRING
    Latin1,       // STRING
    CompoundText, // COMPOUND_TEXT
    Unknown,      // any other type: UTF-8 when the bytes are valid UTF-8, else Latin-1
};

// Decodes a property's bytes up to the first NUL, to at most kMaxTextLength UTF-16 units
// however long the property, so that a hostile window cannot make each walk allocate
// megabytes. Invalid input is replaced, never rejected.
QString decode(const QByteArray &bytes, Encoding encoding);

// Whether a window whose WM_CLASS holds this instance and class name belongs to a web browser.
bool isKnownBrowser(const QString &instance, const QString &className);

// The page's own title inside a browser window title: the browser's name that the browser adds
// is removed. A title that is only the browser's name (a blank tab) gives an empty string.
QString pageNameFromTitle(const QString &title);

} // namespace X11TitleText
