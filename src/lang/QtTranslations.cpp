#include "lang/QtTranslations.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>

namespace {

// The language a language file is named after; French when the name says none.
QLocale::Language languageOf(const QString &languageFile)
{
    const QString name = QFileInfo(languageFile).completeBaseName();
    if (name.isEmpty())
        return QLocale::French;
    for (int l = QLocale::C + 1; l <= QLocale::LastLanguage; ++l) {
        const auto language = static_cast<QLocale::Language>(l);
        if (name.compare(QLocale::languageToString(language), Qt::CaseInsensitive) == 0 ||
            name.compare(QLocale(language).nativeLanguageName(), Qt::CaseInsensitive) == 0)
            return language;
    }
    return QLocale::French;
}

} // namespace

QtTranslations::QtTranslations()
{
    follow(QString());
}

void QtTranslations::follow(const QString &languageFile)
{
    QCoreApplication::removeTranslator(&m_translator);
    // Qt's built-in texts are English; another language comes from Qt's translations, and
    // French stands in for one that Qt does not speak.
    const QLocale::Language language = languageOf(languageFile);
    const auto load = [this](QLocale::Language l) {
        return m_translator.load(QLocale(l), QStringLiteral("qtbase"), QStringLiteral("_"),
                                 QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    };
    if (language != QLocale::English && (load(language) || load(QLocale::French)))
        QCoreApplication::installTranslator(&m_translator);
}
