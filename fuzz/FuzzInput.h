#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Helpers shared by the fuzzers. Each fuzzer checks properties of what it reads, and a broken
// property aborts, so that libFuzzer keeps the input and the corpus replay fails.
namespace FuzzInput {

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

// Cuts the input into `count` parts at 0xFF bytes, a byte that never occurs in UTF-8 text, so
// that the seeds stay readable. Missing parts are empty; anything after the last part is kept
// in it.
inline QList<QByteArray> parts(const uint8_t *data, size_t size, qsizetype count)
{
    const QList<QByteArray> pieces = bytes(data, size).split('\xff');
    QList<QByteArray> result = pieces.mid(0, count - 1);
    result.append(pieces.mid(count - 1).join('\xff'));
    result.resize(count);
    return result;
}

inline void require(bool holds, const char *property)
{
    if (!holds) {
        std::fprintf(stderr, "Property broken: %s\n", property);
        std::abort();
    }
}

// Writes the bytes as the named file in a folder that lasts the whole run, and returns its path.
inline QString writtenFile(const QString &name, const QByteArray &bytes)
{
    static QTemporaryDir folder(QDir::tempPath() + u"/vexlor-fuzz-XXXXXX"_qs);
    QFile file(folder.filePath(name));
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                file.write(bytes) == bytes.size(),
            "the test file is written");
    return file.fileName();
}

} // namespace FuzzInput
