#pragma once

#include <QtGlobal>

// Row numbers and counts of the window's lists are 16-bit signed, so a list holds at most
// 32,767 rows; the page lists of the sources and the records read from a file stop there too.
inline constexpr int kMaxRows = 32767;

// A page title or address is kept to its first 65,536 characters: enough for any real one,
// and a page cannot make the matcher or the lists pay for more.
inline constexpr qsizetype kMaxTextLength = 65536;
