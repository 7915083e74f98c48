#pragma once

#include "sources/TabSnapshot.h"

#include "FuzzInput.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// Helpers of the fuzzers that write browser answers themselves and read them back.
namespace FuzzJson {

// The lines of a readable seed, each cut at tabs into up to `columns` values; a line with fewer
// fields leaves the last ones out. "#12" is a number, "N*text" is the text N times, anything
// else is the text itself. Repeated texts share a budget a little over the text cap per input:
// enough to reach the clipping, too little to spend the run serializing.
using Row = QList<std::optional<QJsonValue>>;
inline QList<Row> rows(const QByteArray &spec, qsizetype columns)
{
    qsizetype budget = kMaxTextLength + 64;
    const auto valueOf = [&budget](const QByteArray &field) -> QJsonValue {
        if (field.startsWith('#'))
            return field.mid(1).toDouble();
        const qsizetype star = field.indexOf('*');
        bool isCount = false;
        const qsizetype count = star > 0 ? field.left(star).toLongLong(&isCount) : 0;
        const QString text = QString::fromUtf8(isCount ? field.mid(star + 1) : field);
        if (!isCount || text.isEmpty())
            return text;
        const QString repeated = text.repeated(qBound<qsizetype>(0, count, budget / text.size()));
        budget -= repeated.size();
        return repeated;
    };
    QList<Row> rows;
    for (const QByteArray &line : spec.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        Row &row = rows.emplace_back();
        for (qsizetype i = 0; i < columns; ++i)
            row.append(i < fields.size() ? std::optional(valueOf(fields[i])) : std::nullopt);
    }
    return rows;
}

// An object with the members of the row that are there, named in order.
inline QJsonObject object(QJsonObject object, const QStringList &names, const Row &row)
{
    for (qsizetype i = 0; i < names.size(); ++i)
        if (row[i])
            object.insert(names[i], *row[i]);
    return object;
}

// The text a reader must keep for a member written with this value: strings only, whole when
// they fit, else their beginning, cut short by one unit rather than halving a character.
inline void requireTextOf(const std::optional<QString> &kept,
                          const std::optional<QJsonValue> &value)
{
    FuzzInput::require(kept.has_value() == (value && value->isString()),
                       "a text is kept exactly when the member is a string");
    if (!kept)
        return;
    const QString text = value->toString();
    FuzzInput::require(kept->size() <= kMaxTextLength, "a kept text is capped");
    FuzzInput::require(text.startsWith(*kept), "a kept text is the beginning of the text");
    if (text.size() <= kMaxTextLength)
        return FuzzInput::require(*kept == text, "a text that fits is kept whole");
    FuzzInput::require(kept->size() >= kMaxTextLength - 1, "a long text is cut at the cap");
    FuzzInput::require(!(kept->back().isHighSurrogate() && text[kept->size()].isLowSurrogate()),
                       "a long text is not cut inside a character");
}

} // namespace FuzzJson
