// Runs a fuzzer's checks once on every file of the folders given, the way libFuzzer replays a
// corpus, so that the ordinary and the sanitizer builds check the corpus too.
#include <QDirIterator>
#include <QFile>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
// Only the fuzzers that need a set-up define it.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    long long replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (QDirIterator it(QString::fromLocal8Bit(argv[i]), QDir::Files,
                             QDirIterator::Subdirectories);
             it.hasNext(); ++replayed) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly))
                return std::fprintf(stderr, "Cannot read %s\n", qPrintable(file.fileName())), 1;
            const QByteArray input = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()),
                                   static_cast<size_t>(input.size()));
        }
    }
    std::printf("%lld inputs replayed\n", replayed);
    return replayed == 0 ? 1 : 0;
}
