#include "platform/AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file a save of path lands on, following its links; nothing when a link, or the file at
// the end of the links, belongs to someone else.
std::optional<QString> ownTarget(const QString &path)
{
    QString current = QFileInfo(path).absoluteFilePath();
    // The kernel gives up on longer chains too.
    for (int hops = 0; hops <= 40; ++hops) {
        const QByteArray native = QFile::encodeName(current);
        struct stat info = {};
        if (::lstat(native.constData(), &info) != 0)
            return current; // a new file, made by this user
        if (!S_ISLNK(info.st_mode))
            return hops == 0 || info.st_uid == ::geteuid() ? std::optional(current) : std::nullopt;
        if (info.st_uid != ::geteuid())
            return std::nullopt;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(native.constData(), target, sizeof target);
        if (length <= 0 || length == sizeof target)
            return std::nullopt;
        current = QDir(QFileInfo(current).absolutePath())
                      .absoluteFilePath(QFile::decodeName(QByteArray(target, length)));
    }
    return std::nullopt;
}

} // namespace

bool writeAtomically(const QString &path, const QByteArray &bytes,
                     std::optional<QFileDevice::Permissions> permissions,
                     QFileDevice::FileError *error)
{
    const std::optional<QString> target = ownTarget(path);
    if (!target) {
        qWarning("Vexlor Popup : « %s » n'est pas enregistré : c'est un lien vers un fichier "
                 "d'un autre propriétaire",
                 qUtf8Printable(QDir::toNativeSeparators(path)));
        if (error)
            *error = QFileDevice::PermissionsError;
        return false;
    }
    QSaveFile file(*target);
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
