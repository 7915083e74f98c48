#include "filter/RecordFormat.h"

#include "platform/TextCodec.h"

#include <charconv>
#include <cmath>

namespace RecordFormat {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isLineEnd(QChar c)
{
    return c == u'\r' || c == u'\n';
}

// Parses the whole text as a decimal number, whatever the user's locale.
std::optional<double> parseDouble(QStringView text)
{
    if (text.startsWith(u'+')) {
        text = text.mid(1);
        if (text.startsWith(u'-'))
            return std::nullopt;
    }
    const QByteArray latin = text.toLatin1();
    double value = 0;
    const auto [end, error] =
        std::from_chars(latin.constData(), latin.constData() + latin.size(), value);
    if (latin.isEmpty() || error != std::errc() || end != latin.constData() + latin.size() ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

QByteArray writeRecord(const QStringList &values)
{
    return TextCodec::encode(recordText(values));
}

QString recordText(const QStringList &values)
{
    QString line;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            line += u',';
        line += u'"' + values[i] + u'"';
    }
    line += QStringLiteral("\r\n");
    return line;
}

FieldReader::FieldReader(QString text) : m_text(std::move(text)) {}

bool FieldReader::atEnd() const
{
    return m_pos >= m_text.size();
}

QString FieldReader::rest() const
{
    return m_text.mid(m_pos);
}

void FieldReader::skipBlankLines()
{
    qsizetype pos = m_pos;
    while (pos < m_text.size()) {
        const QChar c = m_text[pos];
        if (isLineEnd(c))
            m_pos = pos + 1;
        else if (!isBlank(c))
            return;
        ++pos;
    }
    // Blanks after the last line end belong to no record either.
    m_pos = pos;
}

QString FieldReader::readField()
{
    while (m_pos < m_text.size() && isBlank(m_text[m_pos]))
        ++m_pos;
    if (atEnd())
        return {};

    QString value;
    if (m_text[m_pos] == u'"') {
        const qsizetype start = m_pos + 1;
        qsizetype end = m_text.indexOf(u'"', start);
        if (end < 0)
            end = m_text.size();
        value = m_text.mid(start, end - start);
        m_pos = end + 1;
        while (m_pos < m_text.size() && m_text[m_pos] != u',' && !isLineEnd(m_text[m_pos]))
            ++m_pos;
    } else {
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] != u',' && !isLineEnd(m_text[m_pos]))
            ++m_pos;
        value = m_text.mid(start, m_pos - start);
    }
    skipDelimiter();
    return value;
}

void FieldReader::skipDelimiter()
{
    if (atEnd())
        return;
    if (m_text[m_pos] == u',') {
        ++m_pos;
    } else if (m_text[m_pos] == u'\r') {
        ++m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == u'\n')
            ++m_pos;
    } else if (m_text[m_pos] == u'\n') {
        ++m_pos;
    }
}

double numericPrefix(const QString &text)
{
    QString s;
    s.reserve(text.size());
    for (const QChar c : text) {
        if (c != u' ' && c != u'\t' && c != u'\n')
            s += c;
    }

    qsizetype pos = 0;
    const auto digitsAt = [&](qsizetype from) {
        qsizetype to = from;
        while (to < s.size() && s[to] >= u'0' && s[to] <= u'9')
            ++to;
        return to - from;
    };
    if (pos < s.size() && (s[pos] == u'+' || s[pos] == u'-'))
        ++pos;
    qsizetype mantissaDigits = digitsAt(pos);
    pos += mantissaDigits;
    if (pos < s.size() && s[pos] == u'.') {
        const qsizetype fraction = digitsAt(pos + 1);
        if (fraction > 0 || mantissaDigits > 0) {
            pos += 1 + fraction;
            mantissaDigits += fraction;
        }
    }
    if (mantissaDigits == 0)
        return 0;
    if (pos < s.size() && (s[pos] == u'e' || s[pos] == u'E')) {
        qsizetype exponent = pos + 1;
        if (exponent < s.size() && (s[exponent] == u'+' || s[exponent] == u'-'))
            ++exponent;
        const qsizetype digits = digitsAt(exponent);
        if (digits > 0)
            pos = exponent + digits;
    }
    return parseDouble(QStringView(s).left(pos)).value_or(0);
}

std::optional<double> countValue(const QString &text)
{
    return parseDouble(QStringView(text).trimmed());
}

QString countText(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("0");
    if (value == std::trunc(value) && std::fabs(value) < 9.0e15)
        return QString::number(static_cast<qint64>(value));
    QString text = QString::number(value, 'f', 6);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    // A tiny negative value rounds to "-0", which would load back as a different text, "0".
    if (text == u"-0")
        return QStringLiteral("0");
    return text;
}

} // namespace RecordFormat
