#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <unistd.h>

// Root reads and writes any file whatever its mode. Under root this runs the current test row
// again as the user nobody, fails the test when that run fails and returns true (the caller
// returns); under any other user it returns false.
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
    child.setWorkingDirectory(folder.path());
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.setChildProcessModifier([] {
        constexpr gid_t nobody = 65534;
        // A child still root would test nothing, and would start this again.
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            ::_exit(126);
    });
    child.start(copy,
                {QStringLiteral("%1:%2").arg(QString::fromLatin1(QTest::currentTestFunction()),
                                             QString::fromLatin1(QTest::currentDataTag()))});
    const bool finished = child.waitForFinished(120000);
    const QByteArray output = child.readAll();
    [&] {
        QVERIFY2(finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 output.constData());
    }();
    return true;
}
