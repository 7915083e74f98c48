// The INI module, fed a hand-edited file and a key to write into it.
#include "FuzzInput.h"

#include "platform/TextCodec.h"
#include "settings/Ini.h"
#include "settings/IniDocument.h"

#include <QFile>

using FuzzInput::require;

namespace {

struct Line
{
    QString text;
    QString ending;
};

// The lines as the module sees them: split at LF, a CR before the LF belonging to the ending.
QList<Line> linesOf(const QString &text)
{
    QList<Line> lines;
    qsizetype start = 0;
    while (start < text.size()) {
        const qsizetype end = text.indexOf(u'\n', start);
        if (end < 0) {
            lines.append({text.mid(start), QString()});
            break;
        }
        const bool crlf = end > start && text.at(end - 1) == u'\r';
        lines.append({text.mid(start, end - start - (crlf ? 1 : 0)), crlf ? u"\r\n"_qs : u"\n"_qs});
        start = end + 1;
    }
    return lines;
}

QString readFile(const QString &path)
{
    QFile file(path);
    require(file.open(QIODevice::ReadOnly), "the saved file opens");
    return TextCodec::decode(file.readAll());
}

// What the value reads back as: it stays on its line.
QString storedValue(QString value)
{
    return value.replace(u'\r', u' ').replace(u'\n', u' ');
}

// The lines before and after the change are the old ones, and what lies between is at most the
// one key line, with its section header and a blank line when the section was new.
void checkOnlyTheKeyChanged(const QList<Line> &before, const QList<Line> &after,
                            const QString &section)
{
    // A last line without a line end gets one when a line goes after it; a CR it ended with
    // then makes a CR LF with the new end.
    const auto kept = [](const Line &old, const Line &now) {
        if (!old.ending.isEmpty())
            return old.text == now.text && old.ending == now.ending;
        const QString whole = now.text + now.ending;
        return whole == old.text || whole == old.text + u'\n' || whole == old.text + u"\r\n"_qs;
    };
    qsizetype head = 0;
    while (head < before.size() && head < after.size() && kept(before[head], after[head]))
        ++head;
    qsizetype tail = 0;
    while (tail < before.size() - head && tail < after.size() - head &&
           before[before.size() - 1 - tail].text == after[after.size() - 1 - tail].text &&
           before[before.size() - 1 - tail].ending == after[after.size() - 1 - tail].ending)
        ++tail;
    const qsizetype removed = before.size() - head - tail;
    const qsizetype added = after.size() - head - tail;
    require(removed <= 1, "at most the key's own line is replaced");
    require(added >= removed && added <= 3, "at most a key, a header and a blank line are added");
    for (qsizetype i = head; i < head + added; ++i) {
        const QString &text = after[i].text;
        require(text.contains(u'=') || text.isEmpty() || text == u'[' + section + u']',
                "an added line is the key, the header or a blank line");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = FuzzInput::parts(data, size, 6);
    const QString section = QString::fromUtf8(parts[1]);
    const QString key = QString::fromUtf8(parts[2]);
    const QString value = QString::fromUtf8(parts[3]);
    const QString otherSection = QString::fromUtf8(parts[4]);
    const QString otherKey = QString::fromUtf8(parts[5]);

    const QString path = FuzzInput::writtenFile(u"config.ini"_qs, parts[0]);

    const QString before = TextCodec::decode(parts[0]);
    const std::optional<QString> otherBefore = IniDocument(path).value(otherSection, otherKey);
    const QString read = ReadIniFrom(path, section, key, u"default"_qs);
    require(read.size() <= kMaxValueLength || read == u"default"_qs, "a read is cut to length");

    if (!WriteIniTo(path, section, key, value)) {
        require(TextCodec::decode(parts[0]) == readFile(path), "a refused write changes nothing");
        return 0;
    }
    const IniDocument written(path);
    require(written.value(section, key) == storedValue(value), "the value reads back");
    const bool sameKey = otherSection.compare(section, Qt::CaseInsensitive) == 0 &&
                         otherKey.compare(key, Qt::CaseInsensitive) == 0;
    require(sameKey || written.value(otherSection, otherKey) == otherBefore,
            "other keys keep their values");
    checkOnlyTheKeyChanged(linesOf(before), linesOf(readFile(path)), section);
    return 0;
}
