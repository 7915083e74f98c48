#pragma once

#include <QByteArray>
#include <QObjectList>
#include <QString>

#include <functional>

class QWidget;

// A window whose texts a language file carries: the window, and its controls (menu items
// included) in design order. The file's one section is named after the window.
struct LanguageWindow
{
    QWidget *window = nullptr;
    QObjectList controls;
};

// A language file holds a few dozen short texts; anything larger is not one, and reading it
// would only stall the window.
inline constexpr qint64 kMaxLanguageFileSize = 1024 * 1024;

// What reading a language file gave: its bytes (none for a missing or unreadable file), or a
// refusal because the file is larger than kMaxLanguageFileSize.
struct LanguageFileContent
{
    QByteArray bytes;
    bool tooLarge = false;
};
using LanguageFileReader = std::function<LanguageFileContent(const QString &file)>;

// Reads the file from the disk, checking its size before reading a byte of it.
LanguageFileContent readLanguageFile(const QString &file);

// Writes the window's caption under "Form.Caption", and every control's caption and tip that
// is not empty under name + ".Caption" and name + ".ToolTipText". Keys already in the file are
// replaced in place; the others are kept. Reports nothing: without a folder to write in,
// nothing is written.
void WriteLanguageFile(const LanguageWindow &window, const QString &file);

// Gives the window and every control the texts the file holds for them; a missing key leaves
// its text as it is, an empty value empties it. A missing or unreadable file changes nothing.
// The file is read once, whatever the number of controls. Returns false, changing nothing,
// for a file too large to be a language file.
bool applyLanguageTexts(const LanguageWindow &window, const QString &file,
                        const LanguageFileReader &read = readLanguageFile);
