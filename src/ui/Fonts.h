#pragma once

#include <QFont>

// The window's Windows fonts, with the nearest fonts a Linux desktop has as fallbacks.
namespace Fonts {

QFont verdana(double pointSize, bool bold = false);
QFont msSansSerif(double pointSize);
QFont tahoma(double pointSize);

} // namespace Fonts
