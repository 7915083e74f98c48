#pragma once

#include "platform/BrowserWindowSource.h"

#include <QList>
#include <QStringList>

// Realistic inputs for the benchmarks, the same at every run: page titles and addresses of 60
// to 200 characters, some with accented, Cyrillic or Japanese letters, and blocklist keywords
// of 3 to 30 characters, words and domain names alike.
namespace BenchData {

QList<BrowserPage> pages(int count, unsigned seed = 1);

// Keywords that occur in none of the pages, ignoring case.
QStringList keywordsMissing(const QList<BrowserPage> &pages, int count, unsigned seed = 2);

// The keyword file of a blocklist: one quoted keyword a line.
QByteArray keywordFile(const QStringList &keywords);

// The statistics file of the same keywords, each with a count.
QByteArray statisticsFile(const QStringList &keywords);

} // namespace BenchData
