#include "app/StartUp.h"

#include "filter/DataFiles.h"
#include "platform/Dialogs.h"
#include "ui/FileListBox.h"
#include "ui/Form1.h"
#include "ui/PanelCommands.h"

#include <QCoreApplication>

void runStartUp(Form1 &form)
{
    const QString &appFolder = form.appFolder();
    // A data file or folder that cannot be read or created leaves its list empty; the program
    // runs on. A file that exists but cannot be read is named to the user, who is the only one
    // who can mend it: until the next start the program leaves it as it is.
    const auto tellUnreadable = [&form](const DataFiles::Failure &failure) {
        form.services().dialogs.messageBox(
            failure.message + QStringLiteral("\nLa liste correspondante reste vide et Vexlor "
                                             "Popup ne modifiera pas ce fichier : rendez-le "
                                             "lisible puis relancez le programme."),
            form.windowTitle(), Dialogs::Icon::Warning);
    };
    DataFiles::Failure failure;
    if (!DataFiles::LoadKeywordFile(appFolder, form.ListView3, &failure))
        tellUnreadable(failure);
    form.options().loadSoundPath();
    if (DataFiles::EnsureStatisticsFolder(appFolder) &&
        DataFiles::CreateStatisticsFile(appFolder, form.ListView3) &&
        !DataFiles::LoadStatisticsFile(appFolder, form.ListView2, &failure))
        tellUnreadable(failure);
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
    form.File1->setPaths(languages.languageFolders());
    form.options().loadStoredStates();
}
