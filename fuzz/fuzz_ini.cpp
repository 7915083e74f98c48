// The INI module, fed a hand-edited file and a key to write into it.
#include "FuzzInput.h"

#include "platform/TextCodec.h"
#include "settings/Ini.h"
#include "settings/IniDocument.h"

#include <QFile>
#include <QRegularExpression>

using FuzzInput::require;

namespace {

// The lines as the module sees them, each with its ending: split after each LF, a CR before the
// LF belonging to the ending.
QStringList linesOf(const QString &text)
{
    return text.split(QRegularExpression(u"(?<=\n)"_qs), Qt::SkipEmptyParts);
}

QString readFile(const QString &path)
{
    QFile file(path);
    require(file.open(QIODevice::ReadOnly), "the saved file opens");
    return TextCodec::decode(file.readAll());
}

// The lines before and after the change are the old ones, and what lies between is at most the
// one key line, with its section header and a blank line when the section was new.
void checkOnlyTheKeyChanged(const QStringList &before, const QStringList &after,
                            const QString &section)
{
    // A last line without a line end gets one when a line goes after it; a CR it ended with
    // then makes a CR LF with the new end.
    const auto kept = [](const QString &old, const QString &now) {
        return old.endsWith(u'\n') ? old == now
                                   : now == old || now == old + u'\n' || now == old + u"\r\n"_qs;
    };
    qsizetype head = 0;
    while (head < before.size() && head < after.size() && kept(before[head], after[head]))
        ++head;
    qsizetype tail = 0;
    while (tail < before.size() - head && tail < after.size() - head &&
           before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
        ++tail;
    const qsizetype removed = before.size() - head - tail;
    const qsizetype added = after.size() - head - tail;
    require(removed <= 1, "at most the key's own line is replaced");
    require(added >= removed && added <= 3, "at most a key, a header and a blank line are added");
    for (qsizetype i = head; i < head + added; ++i) {
        const QString text = QString(after[i]).remove(QRegularExpression(u"\r?\n$"_qs));
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
    // The value stays on its line.
    require(written.value(section, key) == QString(value).replace(u'\r', u' ').replace(u'\n', u' '),
            "the value reads back");
    const bool sameKey = otherSection.compare(section, Qt::CaseInsensitive) == 0 &&
                         otherKey.compare(key, Qt::CaseInsensitive) == 0;
    require(sameKey || written.value(otherSection, otherKey) == otherBefore,
            "other keys keep their values");
    checkOnlyTheKeyChanged(linesOf(before), linesOf(readFile(path)), section);
    return 0;
}
