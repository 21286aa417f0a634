// The protocol's bytes: every command frame, the data frames, reply decoding.
#include "upgrade/frames.h"

#include <QtTest>

namespace {
QByteArray bytes(const frames::Frame& f)
{
    return QByteArray(reinterpret_cast<const char*>(f.data()), int(f.size()));
}
QByteArray report(const char* hex)
{
    QByteArray r = QByteArray::fromHex(hex);
    r.append(QByteArray(20 - r.size(), '\0'));
    return r;
}
} // namespace

Q_DECLARE_METATYPE(frames::Reply)

class FramesTest : public QObject {
    Q_OBJECT
private slots:
    void commandFrames_data();
    void commandFrames();
    void dataFramesStayInsideTheImage();
    void replies_data();
    void replies();
    void versionNumber();
};

void FramesTest::commandFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("version query") << bytes(frames::versionQuery())
                                   << QByteArray::fromHex("8003010000000000000000");
    QTest::newRow("start") << bytes(frames::start()) << QByteArray::fromHex("800c540200000000000000");
    QTest::newRow("DSP handshake") << bytes(frames::dspHandshake())
                                   << QByteArray::fromHex("800c230100000000000000");
    QTest::newRow("DSP end") << bytes(frames::dspEnd()) << QByteArray::fromHex("800d210300000000000000");
    QTest::newRow("ARM handshake") << bytes(frames::armHandshake())
                                   << QByteArray::fromHex("800f250100000000000000");
    QTest::newRow("ARM end") << bytes(frames::armEnd()) << QByteArray::fromHex("800f010300000000000000");
}

void FramesTest::commandFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, expected);
    QCOMPARE(frame.size(), 11);
    QCOMPARE(frame.toHex(), expected.toHex());
}

void FramesTest::dataFramesStayInsideTheImage()
{
    const QByteArray image = QByteArray::fromHex("0102030405060708090a0b0c");
    QCOMPARE(bytes(frames::dspData(image, 0)).toHex(), QByteArray("800d010203040506070800"));
    QCOMPARE(bytes(frames::armData(image, 1)).toHex(), QByteArray("800e020304050607080900"));
    // Near, at and past the end, and before the start: only bytes inside.
    QCOMPARE(bytes(frames::dspData(image, 8)).toHex(), QByteArray("800d090a0b0c0000000000"));
    QCOMPARE(bytes(frames::dspData(image, 12)).toHex(), QByteArray("800d000000000000000000"));
    QCOMPARE(bytes(frames::dspData(image, 1 << 30)).toHex(), QByteArray("800d000000000000000000"));
    QCOMPARE(bytes(frames::armData(image, -4)).toHex(), QByteArray("800e000000000000000000"));
    // A count larger than a frame holds never spills into byte 10.
    QCOMPARE(bytes(frames::dspData(image, 0, 12)).toHex(), QByteArray("800d010203040506070800"));
    QCOMPARE(bytes(frames::dspData(image, 0, 3)).toHex(), QByteArray("800d010203000000000000"));
}

void FramesTest::replies_data()
{
    using R = frames::Reply;
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<R>("expected");
    QTest::newRow("version") << report("800a0000000088130000") << R::Version;
    QTest::newRow("start ack") << report("800c55") << R::StartAck;
    QTest::newRow("DSP ack") << report("800c56") << R::DspAck;
    QTest::newRow("ARM ack") << report("800c54") << R::ArmAck;
    QTest::newRow("ARM ack second form") << report("800f54") << R::ArmAck;
    QTest::newRow("completion") << report("800c59") << R::Completion;
    QTest::newRow("0F with DSP sub-code") << report("800f56") << R::Ignored;
    QTest::newRow("0C unknown sub-code") << report("800c57") << R::Ignored;
    QTest::newRow("unknown code") << report("807e55") << R::Ignored;
    QTest::newRow("other report id") << report("810c55") << R::Ignored;
    QTest::newRow("short version reply") << QByteArray::fromHex("800a00000000ac") << R::Ignored;
    QTest::newRow("two bytes") << QByteArray::fromHex("800c") << R::Ignored;
    QTest::newRow("empty") << QByteArray() << R::Ignored;
}

void FramesTest::replies()
{
    QFETCH(QByteArray, report);
    QFETCH(frames::Reply, expected);
    QCOMPARE(int(frames::decodeReply(report)), int(expected));
}

void FramesTest::versionNumber()
{
    QCOMPARE(int(frames::replyVersion(report("800a00000000ac0d"))), 3500);
    QCOMPARE(int(frames::replyVersion(report("800a00000000ffff"))), 65535);
    QCOMPARE(int(frames::replyVersion(QByteArray::fromHex("800a00000000ac"))), 0);
}

QTEST_GUILESS_MAIN(FramesTest)
#include "tst_frames.moc"
