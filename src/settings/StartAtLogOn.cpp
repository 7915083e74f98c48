#include "settings/StartAtLogOn.h"

#include "platform/AtomicFile.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    if (SetOpenKeyValue(openRunKey(root.system, subKey), valueName, type, data) == 0) {
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
