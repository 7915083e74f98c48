#include "BenchData.h"

#include "filter/RecordFormat.h"

#include <random>

namespace BenchData {

namespace {

const QStringList kWords = {
    QStringLiteral("Actualités"),
    QStringLiteral("météo"),
    QStringLiteral("sport"),
    QStringLiteral("football"),
    QStringLiteral("résultats"),
    QStringLiteral("Ligue"),
    QStringLiteral("recette"),
    QStringLiteral("gâteau"),
    QStringLiteral("chocolat"),
    QStringLiteral("Forum"),
    QStringLiteral("discussion"),
    QStringLiteral("réponse"),
    QStringLiteral("vidéo"),
    QStringLiteral("musique"),
    QStringLiteral("Noël"),
    QStringLiteral("été"),
    QStringLiteral("français"),
    QStringLiteral("garçon"),
    QStringLiteral("école"),
    QStringLiteral("élève"),
    QStringLiteral("Mathématiques"),
    QStringLiteral("histoire"),
    QStringLiteral("Wikipédia"),
    QStringLiteral("encyclopédie"),
    QStringLiteral("news"),
    QStringLiteral("weather"),
    QStringLiteral("today"),
    QStringLiteral("Search"),
    QStringLiteral("results"),
    QStringLiteral("online"),
    QStringLiteral("shopping"),
    QStringLiteral("cart"),
    QStringLiteral("Login"),
    QStringLiteral("account"),
    QStringLiteral("settings"),
    QStringLiteral("Mail"),
    QStringLiteral("inbox"),
    QStringLiteral("calendar"),
    QStringLiteral("Maps"),
    QStringLiteral("Documentation"),
    QStringLiteral("tutorial"),
    QStringLiteral("guide"),
    QStringLiteral("Linux"),
    QStringLiteral("Debian"),
    QStringLiteral("kernel"),
    QStringLiteral("release"),
    QStringLiteral("notes"),
    QStringLiteral("download"),
    QStringLiteral("новости"),
    QStringLiteral("погода"),
    QStringLiteral("ニュース"),
    QStringLiteral("天気"),
    QStringLiteral("Straße"),
    QStringLiteral("Größe"),
    QStringLiteral("Ελλάδα"),
    QStringLiteral("café"),
    QStringLiteral("à"),
    QStringLiteral("de"),
    QStringLiteral("la"),
    QStringLiteral("les"),
    QStringLiteral("the"),
    QStringLiteral("and"),
    QStringLiteral("for"),
    QStringLiteral("2024"),
    QStringLiteral("—"),
    QStringLiteral("|"),
};

const QStringList kSites = {
    QStringLiteral("lemonde"),       QStringLiteral("wikipedia"),     QStringLiteral("github"),
    QStringLiteral("debian"),        QStringLiteral("youtube"),       QStringLiteral("marmiton"),
    QStringLiteral("lequipe"),       QStringLiteral("meteofrance"),   QStringLiteral("example"),
    QStringLiteral("openstreetmap"), QStringLiteral("stackoverflow"), QStringLiteral("bbc"),
};

const QStringList kTlds = {QStringLiteral("fr"),  QStringLiteral("org"),   QStringLiteral("com"),
                           QStringLiteral("net"), QStringLiteral("co.uk"), QStringLiteral("de")};

const QString kKeywordLetters = QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789-.");

class Random
{
public:
    explicit Random(unsigned seed) : m_engine(seed) {}
    int between(int low, int high)
    {
        return std::uniform_int_distribution<int>(low, high)(m_engine);
    }
    const QString &pick(const QStringList &list)
    {
        return list[between(0, static_cast<int>(list.size()) - 1)];
    }

private:
    std::mt19937 m_engine;
};

QString sized(QString text, int length, const QString &filler, Random &random)
{
    while (text.size() < length)
        text += filler + random.pick(kWords).toLower();
    text.truncate(length);
    return text;
}

QString title(Random &random)
{
    QString text = random.pick(kWords);
    const int length = random.between(60, 200);
    while (text.size() < length - 16)
        text += u' ' + random.pick(kWords);
    text += QStringLiteral(" - ") + random.pick(kSites);
    return sized(text, length, QStringLiteral(" "), random);
}

QString address(Random &random)
{
    QString text = QStringLiteral("https://www.") + random.pick(kSites) + u'.' +
                   random.pick(kTlds) + u'/' + random.pick(kWords).toLower();
    const int length = random.between(60, 200);
    while (text.size() < length - 20) {
        text += (random.between(0, 3) == 0 ? u'/' : u'-') + random.pick(kWords).toLower();
    }
    text += QStringLiteral("?id=") + QString::number(random.between(1000, 999999));
    return sized(text, length, QStringLiteral("&q="), random);
}

// A blocklist entry: a word of the pages' own vocabulary followed by other letters, a domain
// name, or letters alone, so the search often walks some way into a page text before it fails.
QString keyword(Random &random)
{
    const int length = random.between(3, 30);
    const int kind = random.between(0, 2);
    QString text = kind == 0 ? random.pick(kWords).toLower() : QString();
    if (kind == 1)
        text = random.pick(kSites);
    const QString ending = kind == 1 && length >= 7 ? u'.' + random.pick(kTlds) : QString();
    while (text.size() < length - ending.size())
        text += kKeywordLetters[random.between(0, static_cast<int>(kKeywordLetters.size()) - 1)];
    text.truncate(length - ending.size());
    return text + ending;
}

} // namespace

QList<BrowserPage> pages(int count, unsigned seed)
{
    Random random(seed);
    QList<BrowserPage> list;
    for (int i = 0; i < count; ++i)
        list.append({title(random), address(random), WindowHandle{0, QByteArray::number(i)}});
    return list;
}

QStringList keywordsMissing(const QList<BrowserPage> &pages, int count, unsigned seed)
{
    QStringList texts;
    for (const BrowserPage &page : pages)
        texts << page.pageName.value_or(QString()).toLower()
              << page.address.value_or(QString()).toLower();
    const QString all = texts.join(QChar(0));
    Random random(seed);
    QStringList keywords;
    while (keywords.size() < count) {
        const QString candidate = keyword(random);
        if (!all.contains(candidate.toLower()))
            keywords.append(candidate);
    }
    return keywords;
}

QByteArray keywordFile(const QStringList &keywords)
{
    QByteArray bytes;
    for (const QString &keyword : keywords)
        bytes += RecordFormat::writeRecord({keyword});
    return bytes;
}

QByteArray statisticsFile(const QStringList &keywords)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < keywords.size(); ++i)
        bytes += RecordFormat::writeRecord({keywords[i], QString::number(i % 17)});
    return bytes;
}

} // namespace BenchData
