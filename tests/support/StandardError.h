#pragma once

#include <QByteArray>
#include <QTemporaryFile>

#include <cstdio>
#include <functional>
#include <unistd.h>

// What a call writes to standard error, which is kept from the test's own output meanwhile.
inline QByteArray standardErrorOf(const std::function<void()> &call)
{
    QTemporaryFile captured;
    if (!captured.open())
        return "<standard error not captured>";
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(captured.handle(), STDERR_FILENO);
    call();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    captured.seek(0);
    return captured.readAll();
}
