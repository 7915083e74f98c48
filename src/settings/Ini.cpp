#include "settings/Ini.h"

#include "settings/IniDocument.h"

namespace {

QString resolved(const QString &appFolder, const QString &file)
{
    return file.isEmpty() ? configIniPath(appFolder) : file;
}

QString cutToMaxLength(const QString &value)
{
    if (value.size() <= kMaxValueLength)
        return value;
    // Half a character pair would be no character at all.
    const qsizetype length =
        value.at(kMaxValueLength - 1).isHighSurrogate() ? kMaxValueLength - 1 : kMaxValueLength;
    return value.left(length);
}

} // namespace

QString ReadIniFrom(const QString &file, const QString &section, const QString &key,
                    const QString &defaultValue)
{
    const std::optional<QString> value = IniDocument(file).value(section, key);
    return value ? cutToMaxLength(*value) : defaultValue;
}

bool WriteIniTo(const QString &file, const QString &section, const QString &key,
                const QString &value)
{
    IniDocument document(file);
    return document.setValue(section, key, value) && document.save();
}

QString configIniPath(const QString &appFolder)
{
    return appFolder + QStringLiteral("/config.ini");
}

QString ReadIni(const QString &appFolder, const QString &section, const QString &key,
                const QString &file)
{
    return ReadIniFrom(resolved(appFolder, file), section, key, QString());
}

void WriteIni(const QString &appFolder, const QString &section, const QString &key,
              const QString &value, const QString &file)
{
    WriteIniTo(resolved(appFolder, file), section, key, value);
}
