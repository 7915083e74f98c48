#include "app/StartUp.h"

#include "filter/DataFiles.h"
#include "ui/Form1.h"
#include "ui/PanelCommands.h"

#include <QLineEdit>

void runStartUp(Form1 &form)
{
    const QString &appFolder = form.appFolder();
    // A data file or folder that cannot be read or created leaves its list empty; the program
    // runs on.
    DataFiles::LoadKeywordFile(appFolder, form.ListView3);
    // The sound path starts as the sound shipped beside the program.
    form.Text1->setText(appFolder + QStringLiteral("/sound.wav"));
    if (DataFiles::EnsureStatisticsFolder(appFolder) &&
        DataFiles::CreateStatisticsFile(appFolder, form.ListView3))
        DataFiles::LoadStatisticsFile(appFolder, form.ListView2);
    form.setHeightTwips(PanelCommands::kShortHeight);
    PanelCommands::centre(form);
}
