#include "app/StartUp.h"

#include "filter/DataFiles.h"
#include "ui/FileListBox.h"
#include "ui/Form1.h"
#include "ui/PanelCommands.h"

#include <QCoreApplication>

void runStartUp(Form1 &form)
{
    const QString &appFolder = form.appFolder();
    // A data file or folder that cannot be read or created leaves its list empty; the program
    // runs on.
    DataFiles::LoadKeywordFile(appFolder, form.ListView3);
    form.options().loadSoundPath();
    if (DataFiles::EnsureStatisticsFolder(appFolder) &&
        DataFiles::CreateStatisticsFile(appFolder, form.ListView3))
        DataFiles::LoadStatisticsFile(appFolder, form.ListView2);
    form.setHeightTwips(PanelCommands::kShortHeight);
    PanelCommands::centre(form);

    // The built-in texts go to Francais.lng before any language is applied, then the chosen
    // language renames the window.
    LanguagePanel &languages = form.languages();
    languages.WriteLanguageFile(languages.builtInFile());
    QCoreApplication::processEvents();
    languages.loadStoredChoice();
    QCoreApplication::processEvents();
    languages.ApplyLanguageFile(languages.LanguageFile());
    // A missing folder Lang leaves the list as it was.
    form.File1->setPath(languages.languageFolder());
    form.options().loadStoredStates();
}
