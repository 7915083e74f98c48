#include "settings/UserStore.h"

#include <QSettings>

UserStore::UserStore(const QString &configFolder)
{
    if (!configFolder.isEmpty())
        m_fileName = configFolder + QStringLiteral("/Vexlor Popup.conf");
}

QString UserStore::setting(const QString &section, const QString &key,
                           const QString &defaultValue) const
{
    if (m_fileName.isEmpty())
        return defaultValue;
    const QSettings store(m_fileName, QSettings::IniFormat);
    return store.value(section + u'/' + key, defaultValue).toString();
}

void UserStore::saveSetting(const QString &section, const QString &key, const QString &value)
{
    if (m_fileName.isEmpty())
        return;
    QSettings store(m_fileName, QSettings::IniFormat);
    store.setValue(section + u'/' + key, value);
    store.sync();
}
