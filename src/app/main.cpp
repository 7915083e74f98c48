#include "app/StartUp.h"
#include "platform/CompositeBrowserSource.h"
#include "platform/linux/PulseSoundPlayer.h"
#include "platform/linux/QtDialogs.h"
#include "platform/linux/X11BrowserSource.h"
#include "platform/linux/XdgOpener.h"
#include "ui/Form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexlor Popup"));
    const QString appFolder = QCoreApplication::applicationDirPath();

    CompositeBrowserSource source;
    source.addBackend(std::make_unique<X11BrowserSource>());
    PulseSoundPlayer sound;
    QtDialogs dialogs;
    XdgOpener opener;

    Form1 form({source, sound, dialogs, opener, appFolder, ConfigFolders::standard()});
    dialogs.setParent(&form);
    runStartUp(form);
    form.show();
    return QApplication::exec();
}
