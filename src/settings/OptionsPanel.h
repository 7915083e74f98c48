#pragma once

#include "settings/ConfigFolders.h"

#include <QString>

class Dialogs;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTimer;

// The controls of the main window that hold the options.
struct OptionControls
{
    QCheckBox *Check1 = nullptr; // sound on closing
    QCheckBox *Check2 = nullptr; // protection active: Timer1 runs
    QCheckBox *Check3 = nullptr; // start at log-on
    QCheckBox *Check4 = nullptr; // start in the tray
    QGroupBox *FramePlus5 = nullptr;
    QLineEdit *Text1 = nullptr; // sound path
    QPushButton *Command2 = nullptr;
    QTimer *Timer1 = nullptr;
};

// The options panel: each box writes its key of section "Config" in config.ini at every
// change, and start-up loads every key once.
class OptionsPanel
{
public:
    static const QString kSection;
    static const QString kSoundFilter;

    // The program's folder holds the executable and the sound shipped with it; empty when it is
    // appFolder.
    OptionsPanel(const OptionControls &controls, const QString &appFolder,
                 const ConfigFolders &folders, const QString &programFolder = {});

    // Text1 takes the stored sound path, or the user's own sound.wav, or the one shipped beside
    // the program.
    void loadSoundPath();
    // Each box takes its stored state when that is 0, 1 or 2. A state that differs from the
    // box's built-in one runs the box's click behaviour.
    void loadStoredStates();

    void Check1Click();
    void Check2Click();
    // Returns whether the start at log-on is now as the box asks.
    bool Check3Click();
    void Check4Click();
    // Chooses the sound file. fileName is the dialog's remembered file name, kept from one use
    // to the next; filter is the dialog's filter.
    void Command2Click(Dialogs &dialogs, QString &filter, QString &fileName);

private:
    void writeState(const QCheckBox *box);

    OptionControls m_controls;
    QString m_appFolder;
    QString m_programFolder;
    ConfigFolders m_folders;
};
