#include "settings/StartAtLogOn.h"

#include "platform/AtomicFile.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// The Exec key of a freedesktop.org desktop entry: an argument that holds a reserved character
// is put in double quotes, in which '"', '`', '$' and '\' take a backslash before them; '%'
// starts a field code, so a plain one is doubled.
QString quotedArgument(const QString &argument)
{
    static const QString kReserved = QStringLiteral(" \t\n\r\"'\\><~|&;$*?#()`");
    static const QString kEscapedInQuotes = QStringLiteral("\"`$\\");
    bool needsQuotes = false;
    QString quoted;
    for (const QChar c : argument) {
        needsQuotes = needsQuotes || kReserved.contains(c);
        if (kEscapedInQuotes.contains(c))
            quoted += u'\\';
        quoted += c == u'%' ? QStringLiteral("%%") : QString(c);
    }
    if (!needsQuotes)
        return QString(argument).replace(u'%', QStringLiteral("%%"));
    return u'"' + quoted + u'"';
}

// Every string value of a desktop entry escapes backslashes and control characters, after the
// quoting of the Exec key.
QString escapedValue(const QString &value)
{
    QString escaped;
    for (const QChar c : value) {
        if (c == u'\\')
            escaped += QStringLiteral("\\\\");
        else if (c == u'\n')
            escaped += QStringLiteral("\\n");
        else if (c == u'\t')
            escaped += QStringLiteral("\\t");
        else if (c == u'\r')
            escaped += QStringLiteral("\\r");
        else
            escaped += c;
    }
    return escaped;
}

QString desktopEntry(const QString &name, const QString &program)
{
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=") + escapedValue(name) +
           QStringLiteral("\nExec=") + escapedValue(quotedArgument(program)) + u'\n';
}

QString keyFolder(const QString &configFolder, const QString &subKey)
{
    return configFolder + u'/' + subKey;
}

// Whether no one but root can change what path names: it and every folder above it belong to
// root and are writable by no one else. A folder open to all with the sticky bit (/tmp) is
// accepted, since others may not rename or remove what root made in it, but nothing may be
// missing there, or another user could make it. Links are checked, then followed.
bool onlyRootCanChange(const QString &path)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    bool missingBelow = false;
    for (QString current = absolute;; current = QFileInfo(current).path()) {
        struct stat info = {};
        if (::lstat(QFile::encodeName(current).constData(), &info) != 0) {
            missingBelow = true;
        } else {
            const bool openToOthers =
                !S_ISLNK(info.st_mode) && (info.st_mode & (S_IWGRP | S_IWOTH));
            const bool sticky = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX);
            if (info.st_uid != 0 || (openToOthers && (missingBelow || !sticky)))
                return false;
            missingBelow = false;
        }
        if (current == QStringLiteral("/"))
            break;
    }
    const QString canonical = QFileInfo(absolute).canonicalFilePath();
    return canonical.isEmpty() || canonical == absolute || onlyRootCanChange(canonical);
}

} // namespace

OpenKey openRunKey(const QString &configFolder, const QString &subKey)
{
    if (configFolder.isEmpty())
        return {};
    const QString folder = keyFolder(configFolder, subKey);
    return {QDir().mkpath(folder) ? folder : QString()};
}

QString runEntryPath(const QString &keyFolder, const QString &valueName)
{
    return keyFolder + u'/' + valueName + QStringLiteral(".desktop");
}

int SetOpenKeyValue(const OpenKey &key, const QString &valueName, int type, const QString &data)
{
    if (key.folder.isEmpty() || type != REG_SZ)
        return 1;
    // The session of every user reads the entry.
    const bool written = writeAtomically(runEntryPath(key.folder, valueName),
                                         TextCodec::encode(desktopEntry(valueName, data)),
                                         QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ReadGroup | QFileDevice::ReadOther);
    return written ? 0 : 1;
}

bool SetRegistryValue(const ConfigFolders &root, const QString &subKey, const QString &valueName,
                      const QString &data, int type)
{
    // Every session, an administrator's included, would start whatever another user put there.
    if (!onlyRootCanChange(data)) {
        if (!root.system.isEmpty())
            QFile::remove(runEntryPath(keyFolder(root.system, subKey), valueName));
    } else if (SetOpenKeyValue(openRunKey(root.system, subKey), valueName, type, data) == 0) {
        if (!root.user.isEmpty())
            QFile::remove(runEntryPath(keyFolder(root.user, subKey), valueName));
        return true;
    }
    return SetOpenKeyValue(openRunKey(root.user, subKey), valueName, type, data) == 0;
}

bool DeleteRegistryValue(const ConfigFolders &root, const QString &subKey, const QString &valueName)
{
    bool noneLeft = true;
    for (const QString &configFolder : {root.system, root.user}) {
        if (configFolder.isEmpty())
            continue;
        const QString entry = runEntryPath(keyFolder(configFolder, subKey), valueName);
        QFile::remove(entry);
        noneLeft = noneLeft && !QFileInfo::exists(entry);
    }
    return noneLeft;
}
