#pragma once

#include <QLocale>
#include <QString>
#include <QTime>

// The time of day of a journal row, as the user's locale writes hours, minutes and seconds
// (14:05:09 in French), without the time zone that Qt's long format adds.
QString journalTimeText(const QTime &time, const QLocale &locale);
