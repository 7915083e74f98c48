#include "app/DataFolder.h"

#include <QDir>
#include <QTemporaryFile>

bool canCreateFileIn(const QString &folder)
{
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".vexlor-popup-XXXXXX")));
    return probe.open();
}

QString dataFolder(const QString &programFolder, const QString &userDataHome)
{
    if (canCreateFileIn(programFolder))
        return programFolder;
    const QString own = QDir(userDataHome).filePath(QStringLiteral("vexlor-popup"));
    // Laid out as the program's folder is shipped: with a language folder, where the built-in
    // texts are written at every start.
    QDir().mkpath(own + QStringLiteral("/Lang"));
    return own;
}
