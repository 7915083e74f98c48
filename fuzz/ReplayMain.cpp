// Runs a fuzzer's checks once on every file of the folders or files given, the way libFuzzer
// replays a corpus, so that the ordinary and the sanitizer builds check the corpus too.
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
// Only the fuzzers that need a set-up define it.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        for (QDirIterator it(argument, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            files.append(it.next());
        if (QFileInfo(argument).isFile())
            files.append(argument);
    }
    files.sort();
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return std::fprintf(stderr, "Cannot read %s\n", qPrintable(path)), 1;
        const QByteArray input = file.readAll();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()),
                               static_cast<size_t>(input.size()));
    }
    std::printf("%lld inputs replayed\n", static_cast<long long>(files.size()));
    return files.isEmpty() ? 1 : 0;
}
