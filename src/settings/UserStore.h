#pragma once

#include <QString>

// The per-user application settings store of "Vexlor Popup": section and key, read with a
// default. It is the file "Vexlor Popup.conf" of the user's configuration folder, where
// QSettings keeps the native settings of that application name.
class UserStore
{
public:
    // An empty folder gives a store that holds nothing and keeps nothing.
    explicit UserStore(const QString &configFolder);

    QString setting(const QString &section, const QString &key, const QString &defaultValue) const;
    // Silent, as every settings write of the program.
    void saveSetting(const QString &section, const QString &key, const QString &value);

private:
    QString m_fileName;
};
