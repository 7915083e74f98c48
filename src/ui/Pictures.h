#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

// The program's own pictures, drawn as SVG and compiled in; name is the file name without
// ".svg" (app, web, options, help, about, quit, keywords, journal, config, stat, collapse,
// reopen, add, modify, delete, ok).
namespace Pictures {

QPixmap pixmap(const QString &name, int size);
QIcon icon(const QString &name);

} // namespace Pictures
