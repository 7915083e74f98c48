#pragma once

#include <QStringList>

#include <functional>

class Dialogs;
class Form1;

// Saves the statistics, then the keywords, and ends the program at once. A save that fails
// says so in French and the program keeps running, nothing lost, so the user can mend the
// cause and quit again. A file that could not be read at start-up is left as it is, and the
// other one is saved all the same.
class QuitCommand
{
public:
    using EndProgram = std::function<void()>;

    QuitCommand(Form1 &form, Dialogs &dialogs, EndProgram endProgram);

    // Saves both files; false, after telling the user, when one could not be written.
    bool save();
    void quit();
    // The session saves its state, at a checkpoint or before a log-out that may still be
    // cancelled: both files are saved and the program runs on. Failures go to standard error.
    void commitData();
    // The session ends or the program is told to stop: save as quit does, then end whatever
    // happens, since nobody is there to answer a message. A file that could not be written
    // keeps its previous content.
    void endSession();

private:
    // Tries both files, whatever becomes of the first; the messages of those not written. What
    // is left alone is said on standard error.
    QStringList saveFiles();

    Form1 &m_form;
    Dialogs &m_dialogs;
    EndProgram m_endProgram;
};
