// The image file format on its own: header, checks, family rule, packing.
#include "image/firmwareimage.h"

#include <QtTest>

Q_DECLARE_METATYPE(fwimage::Check)

namespace {
// A file whose header says `dsp`/`arm`/`version` and whose body is `body` bytes.
QByteArray withHeader(quint32 dsp, quint32 version, quint32 arm, int body)
{
    QByteArray f = fwimage::pack({}, {}, version);
    auto put = [&](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            f[at + i] = char(v >> (24 - 8 * i));
    };
    put(0, dsp);
    put(8, arm);
    f.append(QByteArray(body, '\x5a'));
    return f;
}
} // namespace

class FirmwareImageTest : public QObject {
    Q_OBJECT
private slots:
    void headerIsBigEndian();
    void checks_data();
    void checks();
    void familyRule_data();
    void familyRule();
    void packAndSplit();
};

void FirmwareImageTest::headerIsBigEndian()
{
    const QByteArray f = QByteArray::fromHex("00000190"
                                             "00001389"
                                             "000003e8"
                                             "deadbeef");
    fwimage::Header h;
    QVERIFY(fwimage::parseHeader(f, &h));
    QCOMPARE(h.dspLength, 400u);
    QCOMPARE(h.version, 5001u);
    QCOMPARE(h.armLength, 1000u);
    QVERIFY(!fwimage::parseHeader(f.left(15), &h));
    // Well-formedness is the 32-bit sum, whatever the other checks say.
    QVERIFY(fwimage::isWellFormed(fwimage::Header{0, 0, 0}, 16));
    QVERIFY(fwimage::isWellFormed(fwimage::Header{0xFFFFFFF0u, 0, 8}, 8));
}

void FirmwareImageTest::checks_data()
{
    using C = fwimage::Check;
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<C>("expected");
    QTest::newRow("whole blocks") << withHeader(400, 1, 1000, 1400) << C::Ok;
    QTest::newRow("one block each") << withHeader(8, 1, 8, 16) << C::Ok;
    QTest::newRow("empty file") << QByteArray() << C::TooShort;
    QTest::newRow("15 bytes") << QByteArray(15, '\0') << C::TooShort;
    QTest::newRow("one byte more") << withHeader(400, 1, 1000, 1401) << C::SizeMismatch;
    QTest::newRow("one byte less") << withHeader(400, 1, 1000, 1399) << C::SizeMismatch;
    QTest::newRow("wrapped sum") << withHeader(0xFFFFFFF0u, 1, 32, 16) << C::LengthTooLarge;
    QTest::newRow("all zero header") << withHeader(0, 0, 0, 0) << C::EmptyImage;
    QTest::newRow("no DSP image") << withHeader(0, 1, 16, 16) << C::EmptyImage;
    QTest::newRow("no ARM image") << withHeader(16, 1, 0, 16) << C::EmptyImage;
    QTest::newRow("DSP partial block") << withHeader(401, 1, 1000, 1401) << C::PartialBlock;
    QTest::newRow("ARM partial block") << withHeader(400, 1, 999, 1399) << C::PartialBlock;
}

void FirmwareImageTest::checks()
{
    QFETCH(QByteArray, file);
    QFETCH(fwimage::Check, expected);
    QCOMPARE(int(fwimage::checkImage(file)), int(expected));
}

void FirmwareImageTest::familyRule_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<int>("deviceVersion");
    QTest::addColumn<int>("fileVersion");
    QTest::addColumn<int>("expected");
    QTest::newRow("0522 device 4000, file 4999") << 0x0522 << 4000 << 4999 << 1;
    QTest::newRow("0522 device 4999, file 5000") << 0x0522 << 4999 << 5000 << -1;
    QTest::newRow("0522 device 0, file 4000") << 0x0522 << 0 << 4000 << 1;
    QTest::newRow("0522 device 0, file 3999") << 0x0522 << 0 << 3999 << -1;
    QTest::newRow("0522 device 5000") << 0x0522 << 5000 << 4500 << -2;
    QTest::newRow("0522 device 3999") << 0x0522 << 3999 << 4500 << -2;
    QTest::newRow("0524 3399 with 3399") << 0x0524 << 3399 << 3399 << 1;
    QTest::newRow("0524 3399 with 3400") << 0x0524 << 3399 << 3400 << -1;
    QTest::newRow("0524 3200 with 3399") << 0x0524 << 3200 << 3399 << 1;
    QTest::newRow("0524 3600 with 3799") << 0x0524 << 3600 << 3799 << 1;
    QTest::newRow("0524 3999 with 3800") << 0x0524 << 3999 << 3800 << 1;
    QTest::newRow("0524 3800 with 3799") << 0x0524 << 3800 << 3799 << -1;
    QTest::newRow("0524 3800 with negative") << 0x0524 << 3800 << -1 << -1;
    QTest::newRow("0524 device 4000") << 0x0524 << 4000 << 3500 << -2;
    QTest::newRow("0524 device 3199") << 0x0524 << 3199 << 3199 << -2;
    QTest::newRow("0526 device 1200") << 0x0526 << 1200 << 0 << 1;
    QTest::newRow("0526 device 1299") << 0x0526 << 1299 << 99999 << 1;
    QTest::newRow("0526 device 1300") << 0x0526 << 1300 << 1250 << -1;
    QTest::newRow("0525 anything") << 0x0525 << 65535 << -5 << 1;
    QTest::newRow("0523 anything") << 0x0523 << 0 << 0 << 1;
}

void FirmwareImageTest::familyRule()
{
    QFETCH(int, productId);
    QFETCH(int, deviceVersion);
    QFETCH(int, fileVersion);
    QFETCH(int, expected);
    QCOMPARE(fwimage::familyRule(productId, std::uint16_t(deviceVersion), fileVersion), expected);
}

void FirmwareImageTest::packAndSplit()
{
    const QByteArray dsp = fwimage::sampleBytes(400, 7);
    const QByteArray arm = fwimage::sampleBytes(1000, 8);
    QCOMPARE(fwimage::sampleBytes(400, 7), dsp);
    QVERIFY(fwimage::sampleBytes(400, 9) != dsp);
    const QByteArray file = fwimage::pack(dsp, arm, 5001);
    QCOMPARE(file.size(), 1416);
    QCOMPARE(file.left(16), QByteArray::fromHex("00000190"
                                                "00001389"
                                                "000003e8"
                                                "00000000"));
    QCOMPARE(int(fwimage::checkImage(file)), int(fwimage::Check::Ok));
    QCOMPARE(fwimage::dspImage(file), dsp);
    QCOMPARE(fwimage::armImage(file), arm);
    QVERIFY(fwimage::dspImage(file.left(1000)).isEmpty());
}

QTEST_GUILESS_MAIN(FirmwareImageTest)
#include "tst_firmwareimage.moc"
