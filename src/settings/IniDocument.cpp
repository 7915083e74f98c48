#include "settings/IniDocument.h"

#include "platform/AtomicFile.h"
#include "platform/TextCodec.h"

#include <QFile>
#include <QFileInfo>

namespace {

struct ParsedLine
{
    enum Kind
    {
        Other, // blank line, comment, or text without "="
        Section,
        Key
    };
    Kind kind = Other;
    QString name;
    QString value;
};

bool isQuote(QChar c)
{
    return c == u'"' || c == u'\'';
}

bool isEnclosedInQuotes(const QString &text)
{
    return text.size() >= 2 && isQuote(text.front()) && text.back() == text.front();
}

ParsedLine parse(const QString &line)
{
    const QString text = line.trimmed();
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        return {ParsedLine::Section, text.mid(1, close < 0 ? -1 : close - 1).trimmed(), {}};
    }
    if (text.startsWith(u';') || text.startsWith(u'#'))
        return {};
    const qsizetype equals = text.indexOf(u'=');
    if (equals <= 0)
        return {};
    QString value = text.mid(equals + 1).trimmed();
    if (isEnclosedInQuotes(value))
        value = value.mid(1, value.size() - 2);
    return {ParsedLine::Key, text.left(equals).trimmed(), value};
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A value always stays on its one line, and one that starts or ends with a blank, or that looks
// quoted, is put in quotes, so that reading gives back exactly what was written.
QString storedForm(const QString &value)
{
    QString text = value;
    text.replace(u'\r', u' ').replace(u'\n', u' ');
    if (text != text.trimmed() || isEnclosedInQuotes(text))
        return u'"' + text + u'"';
    return text;
}

bool hasLineBreak(const QString &name)
{
    return name.contains(u'\n') || name.contains(u'\r');
}

bool readsBackAsSection(const QString &section)
{
    return !section.isEmpty() && section == section.trimmed() && !hasLineBreak(section) &&
           !section.contains(u']');
}

bool readsBackAsKey(const QString &key)
{
    return !key.isEmpty() && key == key.trimmed() && !hasLineBreak(key) && !key.contains(u'=') &&
           !key.startsWith(u'[') && !key.startsWith(u';') && !key.startsWith(u'#');
}

} // namespace

IniDocument::IniDocument(const QString &file) : m_file(file)
{
    if (!QFileInfo::exists(file))
        return;
    QFile input(file);
    // A file that is there but cannot be read must not be replaced by what little we know.
    m_writable = !QFileInfo(file).isDir() && input.open(QIODevice::ReadOnly);
    if (!m_writable)
        return;
    const QString text = TextCodec::decode(input.readAll());
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0) {
            m_lines.append({text.mid(start), QString()});
            break;
        }
        const bool crlf = end > start && text.at(end - 1) == u'\r';
        Line line{text.mid(start, end - start - (crlf ? 1 : 0)),
                  crlf ? QStringLiteral("\r\n") : QStringLiteral("\n")};
        // New lines follow the file's own line ends, as its first line gives them.
        if (m_lines.isEmpty())
            m_newline = line.ending;
        m_lines.append(line);
        start = end + 1;
    }
}

IniDocument::Place IniDocument::find(const QString &section, const QString &key) const
{
    Place place;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const ParsedLine line = parse(m_lines.at(i).text);
        if (line.kind == ParsedLine::Section) {
            if (place.header >= 0)
                break; // only the first section of the name counts
            if (sameName(line.name, section))
                place.header = place.lastKey = i;
        } else if (line.kind == ParsedLine::Key && place.header >= 0) {
            place.lastKey = i;
            if (place.key < 0 && sameName(line.name, key))
                place.key = i;
        }
    }
    return place;
}

std::optional<QString> IniDocument::value(const QString &section, const QString &key) const
{
    const Place place = find(section, key);
    if (place.key < 0)
        return std::nullopt;
    return parse(m_lines.at(place.key).text).value;
}

bool IniDocument::setValue(const QString &section, const QString &key, const QString &value)
{
    if (!readsBackAsSection(section) || !readsBackAsKey(key))
        return false;
    const Place place = find(section, key);
    if (place.key >= 0) {
        // The key keeps the spelling the file gave it.
        const QString name = parse(m_lines.at(place.key).text).name;
        m_lines[place.key].text = name + u'=' + storedForm(value);
    } else if (place.header >= 0) {
        insertLine(place.lastKey + 1, key + u'=' + storedForm(value));
    } else {
        if (!m_lines.isEmpty() && !m_lines.constLast().text.trimmed().isEmpty())
            insertLine(m_lines.size(), QString());
        insertLine(m_lines.size(), u'[' + section + u']');
        insertLine(m_lines.size(), key + u'=' + storedForm(value));
    }
    return true;
}

void IniDocument::insertLine(qsizetype at, const QString &text)
{
    // The line before may be the file's last, without a line end of its own.
    if (at > 0 && m_lines.at(at - 1).ending.isEmpty())
        m_lines[at - 1].ending = m_newline;
    m_lines.insert(at, {text, m_newline});
}

bool IniDocument::save() const
{
    if (!m_writable)
        return false;
    QString text;
    for (const Line &line : m_lines)
        text += line.text + line.ending;
    return writeAtomically(m_file, TextCodec::encode(text));
}
