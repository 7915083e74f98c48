#pragma once

#include <QObjectList>
#include <QString>

class QWidget;

// A window whose texts a language file carries: the window, and its controls (menu items
// included) in design order. The file's one section is named after the window.
struct LanguageWindow
{
    QWidget *window = nullptr;
    QObjectList controls;
};

// Writes the window's caption under "Form.Caption", and every control's caption and tip that
// is not empty under name + ".Caption" and name + ".ToolTipText". Keys already in the file are
// replaced in place; the others are kept. Reports nothing: without a folder to write in,
// nothing is written.
void WriteLanguageFile(const LanguageWindow &window, const QString &file);

// Gives the window and every control the texts the file holds for them; a missing key leaves
// its text as it is, an empty value empties it. A missing or unreadable file changes nothing.
void applyLanguageTexts(const LanguageWindow &window, const QString &file);
