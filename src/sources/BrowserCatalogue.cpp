#include "sources/BrowserCatalogue.h"

#include <QSet>

// The text of browsers.tsv, embedded by the build.
extern const char kBrowserTable[];

namespace BrowserCatalogue {

namespace {

QString field(const QByteArray &text)
{
    return text == "-" ? QString() : QString::fromUtf8(text);
}

QStringList words(const QString &text)
{
    return text.split(u' ', Qt::SkipEmptyParts);
}

} // namespace

QList<KnownBrowser> parse(QByteArrayView table)
{
    QList<KnownBrowser> rows;
    for (const QByteArray &line : table.toByteArray().split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (line.startsWith('#') || fields.size() != 8)
            continue;
        KnownBrowser browser;
        browser.name = field(fields[0]);
        browser.family = fields[1] == "chromium"  ? KnownBrowser::Family::Chromium
                         : fields[1] == "firefox" ? KnownBrowser::Family::Firefox
                                                  : KnownBrowser::Family::Other;
        browser.classes = words(field(fields[2]));
        QString titles = field(fields[3]);
        browser.privateTitles = titles.endsWith(u"+private");
        if (browser.privateTitles)
            titles.chop(8);
        if (titles == u"edge" || titles == u"qutebrowser")
            browser.titleForm = titles;
        else
            browser.titles = titles.split(u'|', Qt::SkipEmptyParts);
        browser.images = words(field(fields[4]));
        browser.hosts = field(fields[5]);
        browser.hostsBeforeFirstStart = browser.hosts.endsWith(u'!');
        if (browser.hostsBeforeFirstStart)
            browser.hosts.chop(1);
        browser.systemHosts = field(fields[6]);
        browser.policies = field(fields[7]);
        rows.append(std::move(browser));
    }
    return rows;
}

const QList<KnownBrowser> &browsers()
{
    static const QList<KnownBrowser> rows =
        parse(QByteArrayView(static_cast<const char *>(kBrowserTable)));
    return rows;
}

const KnownBrowser *byImage(const QString &fileName)
{
    for (const KnownBrowser &browser : browsers()) {
        if (browser.images.contains(fileName))
            return &browser;
    }
    return nullptr;
}

bool isBrowserClass(const QString &lowerName)
{
    static const QSet<QString> classes = [] {
        QSet<QString> all;
        for (const KnownBrowser &browser : browsers())
            all.unite(QSet<QString>(browser.classes.begin(), browser.classes.end()));
        return all;
    }();
    return classes.contains(lowerName);
}

bool isHelper(const QList<QByteArray> &arguments)
{
    return std::any_of(arguments.cbegin() + (arguments.isEmpty() ? 0 : 1), arguments.cend(),
                       [](const QByteArray &argument) {
                           return argument.startsWith("--type=") || argument == "-contentproc" ||
                                  argument == "--contentproc";
                       });
}

} // namespace BrowserCatalogue
