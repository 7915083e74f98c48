#include "bridge/BridgeSocketPath.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// lstat, so that a link planted in place of the folder is refused rather than followed.
bool isPrivateFolder(const QString &path, QString *why)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        if (why)
            *why = QStringLiteral("%1 n'est pas un dossier").arg(path);
        return false;
    }
    if (info.st_uid != ::getuid()) {
        if (why)
            *why = QStringLiteral("%1 appartient à un autre utilisateur").arg(path);
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        if (why)
            *why = QStringLiteral("%1 est ouvert à d'autres utilisateurs").arg(path);
        return false;
    }
    return true;
}

bool ensurePrivateFolder(const QString &path, QString *why)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST) {
        if (why)
            *why = QStringLiteral("impossible de créer %1 : %2")
                       .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return isPrivateFolder(path, why);
}

} // namespace

QString privateSocketFolder()
{
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !isPrivateFolder(runtime, nullptr))
        runtime = QStringLiteral("/tmp/vexlor-popup-%1").arg(::getuid());
    return QDir(runtime).filePath(QStringLiteral("vexlor-popup"));
}

QString bridgeSocketPath()
{
    return privateSocketFolder() + QStringLiteral("/bridge");
}

bool prepareBridgeSocketFolder(const QString &socketPath, QString *why)
{
    const QString folder = QFileInfo(socketPath).absolutePath();
    const QString runtime = QFileInfo(folder).absolutePath();
    // $XDG_RUNTIME_DIR is the session's own and is taken as it is; the fallback lives in the
    // shared /tmp, where anyone could have made it first.
    const bool fallback = QFileInfo(runtime).fileName().startsWith(QStringLiteral("vexlor-popup-"));
    if ((fallback || !QFileInfo::exists(runtime)) && !ensurePrivateFolder(runtime, why))
        return false;
    return ensurePrivateFolder(folder, why);
}
