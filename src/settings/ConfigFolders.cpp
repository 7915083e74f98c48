#include "settings/ConfigFolders.h"

#include <QStandardPaths>

ConfigFolders ConfigFolders::standard()
{
    return {QStringLiteral("/etc/xdg"),
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)};
}
