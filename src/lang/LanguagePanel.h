#pragma once

#include "lang/LanguageFile.h"
#include "lang/QtTranslations.h"
#include "settings/UserStore.h"

#include <QString>
#include <QStringList>

class Dialogs;
class QCheckBox;
class QListWidget;
class QPushButton;

// The language frame of the options panel.
struct LanguageControls
{
    QCheckBox *Check7 = nullptr;  // unlocks the choice; never stored
    QListWidget *File1 = nullptr; // the language files of the folder Lang, by file name
    QPushButton *ButtonPlus5 = nullptr;
};

// The language of the window: the file in use this run, LanguageFile, the choice kept in the
// per-user store under "FILES" / "LNG", and the handlers of the language frame.
class LanguagePanel
{
public:
    static const QString kStoreSection;
    static const QString kStoreKey;

    // The list stays disabled until Check7 is ticked.
    LanguagePanel(const LanguageControls &controls, const LanguageWindow &window,
                  const QString &appFolder, const UserStore &store, Dialogs &dialogs,
                  const QString &programFolder = {});

    // The built-in texts are written here at every start.
    QString builtInFile() const;
    QString languageFolder() const;
    // Where language files are looked for: languageFolder(), then the one shipped beside the
    // program when the program keeps its files elsewhere.
    QStringList languageFolders() const;

    const QString &LanguageFile() const { return m_languageFile; }
    // LanguageFile takes the stored choice, or the built-in file when none is stored.
    void loadStoredChoice();

    void WriteLanguageFile(const QString &file) const;
    // LanguageFile becomes file, and the window and Qt's own dialogs take its language. A file
    // too large to be a language file changes no text, and the user is told.
    void ApplyLanguageFile(const QString &file);

    void Check7Click();
    // With Check7 ticked: the file selected in File1 becomes the stored choice and is applied.
    void ButtonPlus5Click();

private:
    LanguageControls m_controls;
    LanguageWindow m_window;
    QString m_appFolder;
    QString m_programFolder;
    UserStore m_store;
    Dialogs &m_dialogs;
    QString m_languageFile;
    QtTranslations m_qtTexts;
};
