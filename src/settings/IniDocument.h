#pragma once

#include <QList>
#include <QString>

#include <optional>

// The lines of one INI file, read and changed the way the Windows profile calls do: section and
// key names match without regard to case, the first section of a name is the one used, a new
// key goes after the last key of its section, and every line that no change touches, comments
// included, is written back as it was.
class IniDocument
{
public:
    // Reads the file. A missing or unreadable file, or a folder, reads as an empty document.
    explicit IniDocument(const QString &file);

    // The value of the key, blanks around it removed and one pair of enclosing quotes taken
    // off; nothing when the section or the key is missing.
    std::optional<QString> value(const QString &section, const QString &key) const;

    // Replaces the key's value in place, or adds the key (and its section) when missing.
    // Returns false, changing nothing, for a name that could not be read back.
    bool setValue(const QString &section, const QString &key, const QString &value);

    // Writes the whole document as UTF-8 in one atomic step: a write that fails leaves the old
    // file whole, and a missing folder is never created. A file that exists but could not be
    // read is never written over.
    bool save() const;

private:
    struct Line
    {
        QString text;
        QString ending; // "\n", "\r\n", or empty for a last line without one
    };
    struct Place
    {
        qsizetype header = -1;  // the line of the section's header
        qsizetype lastKey = -1; // its last key line, or the header when it has none
        qsizetype key = -1;     // the line of the key asked for
    };

    Place find(const QString &section, const QString &key) const;
    void insertLine(qsizetype at, const QString &text);

    QString m_file;
    QList<Line> m_lines;
    QString m_newline = QStringLiteral("\n");
    bool m_writable = true;
};
