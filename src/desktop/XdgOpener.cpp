#include "desktop/XdgOpener.h"

#include <QProcess>

XdgOpener::XdgOpener(QString program) : m_program(std::move(program)) {}

void XdgOpener::openAddress(const QString &address)
{
    QProcess::startDetached(m_program, {address});
}
