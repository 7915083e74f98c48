#include "bridge/Framing.h"

#include <QTest>
#include <QtEndian>

namespace {

// Feeds the stream in pieces of the given sizes (the rest in one piece) and collects what
// comes out: a frame's payload, or "<oversize N>" for a frame skipped.
QList<QByteArray> readInPieces(const QByteArray &stream, const QList<int> &pieces,
                               FrameReader &reader)
{
    QList<QByteArray> out;
    qsizetype at = 0;
    const auto drain = [&] {
        while (const auto frame = reader.next()) {
            out.append(frame->oversize ? "<oversize " + QByteArray::number(frame->length) + '>'
                                       : frame->payload);
        }
    };
    for (const int size : pieces) {
        reader.append(
            QByteArrayView(stream).sliced(at, std::min<qsizetype>(size, stream.size() - at)));
        at = std::min<qsizetype>(at + size, stream.size());
        drain();
    }
    reader.append(QByteArrayView(stream).sliced(at));
    drain();
    return out;
}

QByteArray prefixOnly(quint32 length)
{
    QByteArray prefix(4, Qt::Uninitialized);
    qToLittleEndian(length, prefix.data());
    return prefix;
}

} // namespace

class TestFraming : public QObject
{
    Q_OBJECT

private slots:
    void prefixIsLittleEndianLength();
    void framesComeOutWhateverTheChunks_data();
    void framesComeOutWhateverTheChunks();
    void anOversizeFrameIsSkippedWithoutBeingHeld();
    void aPrefixCutShortWaitsForTheRest();
};

void TestFraming::prefixIsLittleEndianLength()
{
    const QByteArray framed = frameOf(QByteArray(258, 'x'));
    QCOMPARE(framed.left(4), QByteArray("\x02\x01\x00\x00", 4));
    QCOMPARE(framed.size(), 262);
}

void TestFraming::framesComeOutWhateverTheChunks_data()
{
    QTest::addColumn<QList<int>>("pieces");
    QTest::newRow("all at once") << QList<int>{};
    QTest::newRow("byte by byte") << QList<int>(200, 1);
    QTest::newRow("cut inside prefixes and bodies") << QList<int>{2, 5, 3, 17, 1, 40};
    QTest::newRow("cut right after each prefix") << QList<int>{4, 2, 4, 0, 4};
}

void TestFraming::framesComeOutWhateverTheChunks()
{
    QFETCH(QList<int>, pieces);
    const QList<QByteArray> payloads{R"({"a":1})", {}, R"({"tabs":[]})", "é€😀", {}};
    QByteArray stream;
    for (const QByteArray &payload : payloads)
        stream += frameOf(payload);

    FrameReader reader;
    QCOMPARE(readInPieces(stream, pieces, reader), payloads);
    QVERIFY(!reader.isMidFrame());
}

void TestFraming::anOversizeFrameIsSkippedWithoutBeingHeld()
{
    constexpr quint32 oversize = FrameReader::maxFrameBytes + 1;
    const QByteArray huge(oversize, '{');
    const QByteArray stream = frameOf("before") + frameOf(huge) + frameOf("after");

    FrameReader reader;
    // The whole stream in 64 KiB reads, as the host reads its pipe.
    const QList<int> pieces(stream.size() / 65536, 65536);
    QCOMPARE(
        readInPieces(stream, pieces, reader),
        (QList<QByteArray>{"before", "<oversize " + QByteArray::number(oversize) + '>', "after"}));

    // A frame of exactly the limit is still taken.
    const QByteArray largest(FrameReader::maxFrameBytes, 'y');
    reader.append(frameOf(largest));
    const auto frame = reader.next();
    QVERIFY(frame && !frame->oversize);
    QCOMPARE(frame->payload.size(), largest.size());

    // An announced 4 GiB frame is reported as soon as its prefix is read.
    reader.append(prefixOnly(0xffffffffu));
    const auto announced = reader.next();
    QVERIFY(announced && announced->oversize);
    QCOMPARE(announced->length, 0xffffffffu);
    QVERIFY(reader.isMidFrame());
}

void TestFraming::aPrefixCutShortWaitsForTheRest()
{
    const QByteArray framed = frameOf(R"({"close":7})");
    FrameReader reader;
    reader.append(QByteArrayView(framed).first(3));
    QVERIFY(!reader.next());
    QVERIFY(reader.isMidFrame());
    reader.append(QByteArrayView(framed).sliced(3, 1));
    QVERIFY(!reader.next());
    reader.append(QByteArrayView(framed).sliced(4));
    QCOMPARE(reader.next()->payload, QByteArray(R"({"close":7})"));

    // After clear, a stream that was cut is forgotten and a new one starts clean.
    reader.append(QByteArrayView(framed).first(2));
    reader.clear();
    QVERIFY(!reader.isMidFrame());
    reader.append(framed);
    QCOMPARE(reader.next()->payload, QByteArray(R"({"close":7})"));
}

QTEST_GUILESS_MAIN(TestFraming)
#include "tst_framing.moc"
