#include "sources/x11/X11TitleText.h"

#include "sources/BrowserCatalogue.h"

#include <QByteArrayView>
#include <QRegularExpression>
#include <QStringDecoder>

namespace X11TitleText {
namespace {

// No encoding needs more than four bytes for one UTF-16 unit, so reading further is wasted.
constexpr qsizetype maxBytes = kMaxTextLength * 4;

QString capped(QString text)
{
    if (text.size() > kMaxTextLength) {
        text.truncate(kMaxTextLength);
        if (text.back().isHighSurrogate())
            text.chop(1);
    }
    return text;
}

bool isValidUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString ignored = decoder(bytes);
    return !decoder.hasError();
}

// COMPOUND_TEXT (ISO 2022) as Xlib writes it: ASCII on the left half, Latin-1 on the right,
// other character sets switched in by escape sequences, and runs of UTF-8 between ESC % G and
// ESC % @. Text in a character set we do not know becomes one replacement character per run,
// so that the words on either side of it are not glued into one.
class CompoundTextDecoder
{
public:
    explicit CompoundTextDecoder(QByteArrayView bytes) : m_bytes(bytes) {}

    QString run()
    {
        while (m_pos < m_bytes.size() && m_text.size() <= kMaxTextLength) {
            const auto byte = static_cast<uchar>(m_bytes[m_pos]);
            if (byte == 0x1b) {
                if (!escape())
                    break;
            } else if (byte == 0x9b) {
                controlSequence();
            } else {
                character(byte);
                ++m_pos;
            }
        }
        return m_text;
    }

private:
    uchar at(qsizetype pos) const { return static_cast<uchar>(m_bytes[pos]); }

    void append(QChar c)
    {
        m_text.append(c);
        m_lost = false;
    }
    void appendLost()
    {
        if (!m_lost)
            m_text.append(QChar::ReplacementCharacter);
        m_lost = true;
    }

    void character(uchar byte)
    {
        if (byte == '\t' || byte == '\n' || byte == ' ')
            append(QChar(byte));
        else if (byte > 0x20 && byte < 0x7f)
            m_asciiLeft ? append(QChar(byte)) : appendLost();
        else if (byte >= 0xa0)
            m_latin1Right ? append(QChar(byte)) : appendLost();
    }

    // Returns false on a sequence cut short, after which nothing more can be trusted.
    bool escape()
    {
        qsizetype end = m_pos + 1;
        while (end < m_bytes.size() && at(end) >= 0x20 && at(end) <= 0x2f)
            ++end;
        if (end >= m_bytes.size() || at(end) < 0x30 || at(end) > 0x7e)
            return false;
        const QByteArrayView intermediates = m_bytes.sliced(m_pos + 1, end - m_pos - 1);
        const char final = m_bytes[end];
        m_pos = end + 1;

        if (intermediates == "%" && final == 'G')
            return utf8Segment();
        if (intermediates == "%/")
            return extendedSegment();
        if (intermediates == "(")
            m_asciiLeft = final == 'B' || final == 'J';
        else if (intermediates == "-")
            m_latin1Right = final == 'A';
        else if (intermediates == ")")
            m_latin1Right = false;
        else if (intermediates == "$(" || intermediates == "$")
            m_asciiLeft = false;
        else if (intermediates == "$)")
            m_latin1Right = false;
        return true;
    }

    bool utf8Segment()
    {
        qsizetype end = m_bytes.indexOf(QByteArrayView("\x1b%@"), m_pos);
        const bool closed = end >= 0;
        if (!closed)
            end = m_bytes.size();
        const QString text = QString::fromUtf8(m_bytes.sliced(m_pos, end - m_pos));
        if (!text.isEmpty()) {
            m_text.append(text);
            m_lost = false;
        }
        m_pos = closed ? end + 3 : end;
        return true;
    }

    // ESC % / F M L, then M and L give the length of a segment in a named encoding.
    bool extendedSegment()
    {
        if (m_pos + 2 > m_bytes.size())
            return false;
        const qsizetype length = (at(m_pos) & 0x7f) * 128 + (at(m_pos + 1) & 0x7f);
        m_pos += 2 + length;
        if (length > 0)
            appendLost();
        return m_pos <= m_bytes.size();
    }

    // CSI sequences only set the writing direction.
    void controlSequence()
    {
        ++m_pos;
        while (m_pos < m_bytes.size() && at(m_pos) >= 0x20 && at(m_pos) <= 0x3f)
            ++m_pos;
        if (m_pos < m_bytes.size())
            ++m_pos;
    }

    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
    QString m_text;
    bool m_asciiLeft = true;
    bool m_latin1Right = true;
    bool m_lost = false;
};

} // namespace

QString decode(const QByteArray &bytes, Encoding encoding)
{
    QByteArrayView view(bytes);
    if (const qsizetype nul = view.indexOf('\0'); nul >= 0)
        view.truncate(nul);
    if (view.size() > maxBytes)
        view.truncate(maxBytes);

    switch (encoding) {
    case Encoding::Utf8:
        return capped(QString::fromUtf8(view));
    case Encoding::Latin1:
        return capped(QString::fromLatin1(view));
    case Encoding::CompoundText:
        return capped(CompoundTextDecoder(view).run());
    case Encoding::Unknown:
        break;
    }
    return capped(isValidUtf8(view) ? QString::fromUtf8(view) : QString::fromLatin1(view));
}

bool isKnownBrowser(const QString &instance, const QString &className)
{
    // Firefox's instance name is the generic "Navigator", so it is the class name that
    // identifies Firefox, and "navigator" is no browser's class.
    const auto known = [](QString name) {
        // Chromium-based browsers started on a user data directory of their own append it to
        // the instance name: "chromium (/home/me/.config/work)".
        if (const qsizetype dir = name.indexOf(u" ("); dir > 0)
            name.truncate(dir);
        return BrowserCatalogue::isBrowserClass(name.toLower());
    };
    return known(instance) || known(className);
}

namespace {

// "Page - Browser" for every browser of the catalogue that ends its titles with its name; the
// separator before the name differs by browser and version.
QRegularExpression suffixPattern()
{
    QStringList names;
    for (const KnownBrowser &browser : BrowserCatalogue::browsers()) {
        if (browser.titles.isEmpty())
            continue;
        QStringList escaped;
        for (const QString &title : browser.titles)
            escaped.append(QRegularExpression::escape(title));
        const QString alternatives = escaped.join(u'|');
        names.append(browser.privateTitles
                         ? u"(?:"_qs + alternatives +
                               uR"()(?: Private Browsing| \(Private Browsing\))?)"_qs
                         : alternatives);
    }
    return QRegularExpression(uR"(^(?:(?<page>.*)(?: - | — | – ))?(?:)"_qs + names.join(u'|') +
                                  u")$"_qs,
                              QRegularExpression::DotMatchesEverythingOption);
}

} // namespace

QString pageNameFromTitle(const QString &title)
{
    // Each pattern matches a whole window title; the page's title, when there is one, is the
    // "page" group.
    static const QRegularExpression patterns[] = {
        suffixPattern(),
        // Edge writes "Microsoft\u200B Edge" and puts the profile's name, or InPrivate, and
        // sometimes how many more tabs the window has, between the page and its own name.
        QRegularExpression(uR"(^(?:(?<page>.*?)(?: and \d+ more (?:pages?|tabs?))?)"
                           uR"((?: - (?:\[InPrivate\]|InPrivate|Guest|Personal|Work|Profile \d+))?)"
                           uR"( - )?Microsoft[\x{200B}\x{00A0} ]+Edge(?: Beta| Dev)?$)"_qs,
                           QRegularExpression::DotMatchesEverythingOption),
        // qutebrowser shows the loading progress before the page's title.
        QRegularExpression(uR"(^(?:\[\d{1,3}%\] )?(?:(?<page>.*) - )?qutebrowser$)"_qs,
                           QRegularExpression::DotMatchesEverythingOption),
    };
    // Chromium puts the whole title of a page with right-to-left text between direction marks,
    // which would keep its own name from being recognised.
    static const QRegularExpression directionMarks(
        uR"(^[\x{200E}\x{200F}][\x{202A}-\x{202E}](.*)\x{202C}[\x{200E}\x{200F}]$)"_qs,
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch marked = directionMarks.match(title);
    const QString bare = marked.hasMatch() ? marked.captured(1) : title;
    for (const QRegularExpression &pattern : patterns) {
        const QRegularExpressionMatch match = pattern.match(bare);
        if (match.hasMatch())
            return match.captured(u"page");
    }
    return title;
}

} // namespace X11TitleText
