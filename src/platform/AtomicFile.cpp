#include "platform/AtomicFile.h"

#include <QSaveFile>

bool writeAtomically(const QString &path, const QByteArray &bytes,
                     std::optional<QFileDevice::Permissions> permissions,
                     QFileDevice::FileError *error)
{
    QSaveFile file(path);
    const auto failed = [&] {
        if (error)
            *error = file.error() == QFileDevice::NoError ? QFileDevice::WriteError : file.error();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failed();
    if (permissions)
        file.setPermissions(*permissions);
    // Without commit, the new file is discarded.
    if (file.write(bytes) != bytes.size() || !file.commit())
        return failed();
    return true;
}
