#pragma once

#include "bridge/BridgeSocketPath.h"

#include <QLocalServer>
#include <QLockFile>
#include <QObject>

// One program per program folder and user: two would overwrite each other's files at quit. The
// first holds a lock beside those files and listens in the user's private socket folder; a
// later one asks it to show its window, then gives up.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    SingleInstance(const QString &appFolder, const QString &socketFolder = privateSocketFolder(),
                   QObject *parent = nullptr);

    // True when this is the first program; otherwise the running one has been asked to show
    // its window, and this one should end.
    bool claim();

signals:
    void showRequested();

private:
    QString m_socket;
    QLockFile m_lock;
    QLocalServer m_server;
};
