#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>

#include <memory>

// One program per program folder and user: two would overwrite each other's files at quit. The
// first holds a lock and listens; a later one asks it to show its window, then gives up.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // runtimeFolder holds the lock and the socket: the user's runtime folder in the program.
    SingleInstance(const QString &appFolder, const QString &runtimeFolder,
                   QObject *parent = nullptr);

    // True when this is the first program; otherwise the running one has been asked to show
    // its window, and this one should end.
    bool claim();

signals:
    void showRequested();

private:
    QString m_name;
    QLockFile m_lock;
    QLocalServer m_server;
};
