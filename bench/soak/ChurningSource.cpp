#include "ChurningSource.h"

namespace {

const QStringList kSyllables = {
    u"ma"_qs, u"ti"_qs, u"ré"_qs, u"lo"_qs, u"su"_qs, u"pé"_qs, u"ça"_qs, u"no"_qs,
    u"vi"_qs, u"Ωx"_qs, u"da"_qs, u"è"_qs,  u"br"_qs, u"qu"_qs, u"ne"_qs, u"fi"_qs,
};

// The share of new pages that carry a keyword, in percent.
constexpr int kMatchingPercent = 50;

} // namespace

ChurningSource::ChurningSource(LiveKeywords liveKeywords, quint32 seed)
    : m_liveKeywords(std::move(liveKeywords)), m_random(seed)
{
    for (int i = 0; i < kPoolSize; ++i)
        m_pages.insert(m_nextId++, makePage());
}

void ChurningSource::start(int intervalMs, int pagesPerChange)
{
    connect(&m_timer, &QTimer::timeout, this, [this, pagesPerChange] { change(pagesPerChange); });
    m_timer.start(intervalMs);
}

QList<BrowserPage> ChurningSource::walk()
{
    QList<BrowserPage> pages;
    pages.reserve(m_pages.size());
    for (auto page = m_pages.cbegin(); page != m_pages.cend(); ++page)
        pages.append({page->title, page->address, WindowHandle{0, QByteArray::number(page.key())}});
    return pages;
}

void ChurningSource::requestClose(const WindowHandle &handle)
{
    ++m_closeRequests;
    const auto page = m_pages.constFind(handle.id.toULongLong());
    if (page == m_pages.cend())
        return;
    ++m_closes[page->keyword];
    // The page goes; the next change brings another in its place.
    m_pages.erase(page);
}

void ChurningSource::change(int pages)
{
    for (int i = 0; i < pages && !m_pages.isEmpty(); ++i) {
        const qsizetype victim = m_random.bounded(m_pages.size());
        m_pages.erase(std::next(m_pages.begin(), victim));
    }
    while (m_pages.size() < kPoolSize)
        m_pages.insert(m_nextId++, makePage());
}

ChurningSource::Page ChurningSource::makePage()
{
    ++m_pagesShown;
    Page page{words(3 + m_random.bounded(8)),
              u"https://"_qs + words(2) + u".example/"_qs + words(1 + m_random.bounded(4)),
              {}};
    const QStringList live = m_liveKeywords();
    if (live.isEmpty() || m_random.bounded(100) >= kMatchingPercent)
        return page;
    page.keyword = live[m_random.bounded(live.size())].toLower();
    QString shown = page.keyword;
    if (m_random.bounded(2) == 0)
        shown = shown.toUpper();
    QString &text = m_random.bounded(2) == 0 ? page.title : page.address;
    text.insert(m_random.bounded(text.size() + 1), shown);
    return page;
}

QString ChurningSource::words(int count)
{
    QStringList list;
    for (int w = 0; w < count; ++w) {
        QString word;
        for (int s = 1 + m_random.bounded(3); s > 0; --s)
            word += kSyllables[m_random.bounded(kSyllables.size())];
        list.append(word);
    }
    return list.join(u' ');
}
