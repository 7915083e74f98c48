#include "filter/JournalTime.h"

QString journalTimeText(const QTime &time, const QLocale &locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    // Drop every time-zone field and the blanks or separators left around it.
    QString withoutZone;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        withoutZone += c;
    }
    withoutZone.replace(QStringLiteral("()"), QString());
    return locale.toString(time, withoutZone.simplified());
}
