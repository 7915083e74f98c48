#pragma once

#include <QObject>
#include <QString>

// The settings of the open-file dialog that the options panel shows: its filter, and the file
// name it remembers from one use to the next.
class CommonDialog : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    QString Filter;
    QString FileName;
};
