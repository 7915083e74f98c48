#pragma once

#include <QTranslator>

// Qt's own texts (standard dialogs and buttons, the context menus of text fields) in the
// language of the window: French unless the applied language file is named after another
// language ("English.lng", "Deutsch.lng"...).
class QtTranslations
{
public:
    // French from the start.
    QtTranslations();

    void follow(const QString &languageFile);

private:
    QTranslator m_translator;
};
