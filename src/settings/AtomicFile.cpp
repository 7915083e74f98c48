#include "settings/AtomicFile.h"

#include <QSaveFile>

bool writeAtomically(const QString &path, const QByteArray &bytes,
                     std::optional<QFileDevice::Permissions> permissions)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (permissions)
        file.setPermissions(*permissions);
    // Without commit, the new file is discarded.
    return file.write(bytes) == bytes.size() && file.commit();
}
