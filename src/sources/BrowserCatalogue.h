#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A browser the program knows: one row of browsers.tsv, which says what each field holds.
struct KnownBrowser
{
    enum class Family
    {
        Other,
        Chromium,
        Firefox
    };

    QString name;
    Family family = Family::Other;
    QStringList classes;
    QStringList titles;
    QString titleForm; // empty for the usual "page - Browser", else "edge" or "qutebrowser"
    bool privateTitles = false;
    QStringList images;
    QString hosts; // begins with "~/" or "$XDG_CONFIG_HOME/"; empty for none
    bool hostsBeforeFirstStart = false;
    QString systemHosts;
    QString policies;
};

namespace BrowserCatalogue {

// The table compiled into the program, read once.
const QList<KnownBrowser> &browsers();

// Rows of a table in the format of browsers.tsv; a malformed row is left out.
QList<KnownBrowser> parse(QByteArrayView table);

// The browser whose executable has this file name, or none.
const KnownBrowser *byImage(const QString &fileName);

// Whether an X11 window class or instance name, lower-cased, names a known browser.
bool isBrowserClass(const QString &lowerName);

// Whether a command line is a browser's helper process: Chromium's carry --type=, Firefox's
// -contentproc. A helper never becomes a browser of its own.
bool isHelper(const QList<QByteArray> &arguments);

} // namespace BrowserCatalogue
