#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The record format of the keyword and statistics files: each value between double quotes,
// values separated by one comma, each record ended by CR LF. Nothing is escaped, so a value
// holding a double quote or a line break does not read back as one value.
namespace RecordFormat {

QByteArray writeRecord(const QStringList &values);
// The same record as text, before it is encoded.
QString recordText(const QStringList &values);

// Reads values one after another, without regard to lines.
class FieldReader
{
public:
    explicit FieldReader(QString text);

    // Skips blank lines (nothing but blanks before the line end) before a record. A hand-edited
    // file may have them; read as a record, each would give an empty value.
    void skipBlankLines();
    bool atEnd() const;

    // Reads one value. Leading blanks are skipped. A value that begins with a double quote ends
    // at the next double quote, and whatever stands between that quote and the next comma or
    // line end is dropped; any other value runs to the next comma or line end. The comma or
    // line end (CR LF, CR or LF) is consumed. At the end of the text the value is empty.
    QString readField();

    // The text not read yet, as it stands.
    QString rest() const;

private:
    void skipDelimiter();

    QString m_text;
    qsizetype m_pos = 0;
};

// The numeric-prefix rule used to load a counter: blanks, tabs and line feeds are ignored
// wherever they stand, then the longest leading decimal number (sign, digits, decimal point,
// exponent) is taken; no such number gives 0.
double numericPrefix(const QString &text);

// A counter read as a number by the scan: the whole text, blanks around it aside, must be a
// finite decimal number.
std::optional<double> countValue(const QString &text);

// A counter written back as plain decimal text: 9 becomes "9", never "9.0" or "9e0".
QString countText(double value);

} // namespace RecordFormat
