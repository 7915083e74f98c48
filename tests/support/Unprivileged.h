#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <unistd.h>

// Root reads and writes any file whatever its mode, so a test of what an ordinary user cannot
// do must run as one. Under root this runs the current test row again, in a new process of the
// same test as the user nobody, and fails the test when that run fails; it returns true, and
// the caller returns. Under any other user it returns false, and the caller goes on.
inline bool rerunAsNobody()
{
    if (::geteuid() != 0)
        return false;
    // A copy of the test in a folder anybody may enter: the build folder may be closed to others.
    QTemporaryDir folder;
    const QString copy = folder.filePath(QStringLiteral("test"));
    [&] {
        QVERIFY(QFile::setPermissions(folder.path(), QFile::permissions(folder.path()) |
                                                         QFile::ExeOther | QFile::ReadOther));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
    }();
    QProcess child;
    child.setProgram(copy);
    child.setWorkingDirectory(folder.path());
    child.setArguments(
        {QStringLiteral("%1:%2").arg(QString::fromLatin1(QTest::currentTestFunction()),
                                     QString::fromLatin1(QTest::currentDataTag()))});
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.setChildProcessModifier([] {
        constexpr gid_t nobody = 65534;
        // A child still root would test nothing, and would start this again.
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            ::_exit(126);
    });
    child.start();
    const bool finished = child.waitForFinished(120000);
    const QByteArray output = child.readAll();
    [&] {
        QVERIFY2(finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 output.constData());
    }();
    return true;
}
