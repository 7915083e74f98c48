// The field reader of the keyword and statistics files, fed what a hand-edited file may hold.
#include "FuzzInput.h"

#include "filter/RecordFormat.h"
#include "platform/TextCodec.h"

using FuzzInput::require;

namespace {

// Reads the text as the statistics file is loaded, and checks that every count survives the
// save and load cycles that follow unchanged.
void readAsStatistics(const QString &text)
{
    RecordFormat::FieldReader reader(text);
    qsizetype records = 0;
    for (reader.skipBlankLines(); !reader.atEnd(); reader.skipBlankLines()) {
        reader.readField();
        const QString counter = reader.readField();
        require(++records <= text.size(), "each record moves the reader on");

        const QString saved = RecordFormat::countText(RecordFormat::numericPrefix(counter));
        require(RecordFormat::countValue(saved).has_value(), "a saved count reads as a number");
        require(RecordFormat::countText(RecordFormat::numericPrefix(saved)) == saved,
                "a saved count loads back as the same text");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = FuzzInput::parts(data, size, 2);
    readAsStatistics(TextCodec::decode(parts[0]));

    // Records written one after another read back value for value, whatever the values hold
    // that the format can carry: no double quote and no line break. Leading blanks stay.
    QStringList values = QString::fromUtf8(parts[1]).split(u'\t');
    for (QString &value : values)
        value.remove(u'"').remove(u'\r').remove(u'\n');
    QByteArray file;
    for (qsizetype i = 0; i < values.size(); i += 2)
        file += RecordFormat::writeRecord(values.mid(i, 2));
    RecordFormat::FieldReader reader(TextCodec::decode(file));
    for (const QString &value : values)
        require(reader.readField() == value, "a written value reads back the same");
    reader.skipBlankLines();
    require(reader.atEnd(), "nothing is left after the written records");
    return 0;
}
