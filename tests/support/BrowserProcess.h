#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/types.h>

// A real browser of the test's own: its profile lives in a temporary folder, and it runs in a
// session of its own so that it and every helper process it starts end together when the
// object goes. "@PROFILE@" in the arguments stands for the profile's folder, where userJs goes
// when there is one. homeFiles are written before the browser starts, each under its path
// relative to the browser's home folder (the profile is "profile" there).
class BrowserProcess
{
public:
    BrowserProcess(const QString &program, const QStringList &arguments, const QByteArray &userJs,
                   const QMap<QString, QByteArray> &homeFiles = {});
    ~BrowserProcess();

    BrowserProcess(const BrowserProcess &) = delete;
    BrowserProcess &operator=(const BrowserProcess &) = delete;

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 pid() const { return m_group; }
    QString profile() const;

    // Debian's browsers with a fresh profile and nothing that reaches the network by itself,
    // opening the given addresses.
    static constexpr const char *kChromium = "/usr/bin/chromium";
    static constexpr const char *kFirefox = "/usr/bin/firefox-esr";
    static QStringList chromiumArguments();
    static QStringList firefoxArguments();
    static QByteArray firefoxUserJs();

private:
    void stop();

    QTemporaryDir m_home;
    QProcess m_process;
    pid_t m_group = 0;
};

// A page whose title is the given text, which may hold UTF-8.
QString titledPage(const QByteArray &title);
