#pragma once

#include <QString>

// The modal dialogs of the program.
class Dialogs
{
public:
    enum class Icon
    {
        None,
        Information,
        Question,
        Warning,
        Critical
    };

    virtual ~Dialogs() = default;

    // Asks for a line of text in a field that starts empty; Cancel gives the empty string.
    virtual QString inputBox(const QString &prompt, const QString &title) = 0;

    // Shows a text with one OK button.
    virtual void messageBox(const QString &text, const QString &title, Icon icon) = 0;

    // Asks for a file to open. The filter is "description|pattern". Returns the dialog's file
    // name after use: the full path chosen, or fileName unchanged when the user cancels.
    virtual QString openFile(const QString &filter, const QString &fileName) = 0;
};
