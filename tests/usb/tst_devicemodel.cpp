// The virtual device's side of the protocol: what it answers, what it keeps,
// and its faults.
#include "usb/virtual/devicemodel.h"

#include <QtTest>

#include <vector>

using Report = DeviceModel::Report;
using Kind = DeviceModel::FrameKind;

namespace {
std::vector<std::uint8_t> frame(std::initializer_list<std::uint8_t> head)
{
    std::vector<std::uint8_t> f(11, 0);
    std::copy(head.begin(), head.end(), f.begin());
    return f;
}

std::vector<std::uint8_t> dataFrame(std::uint8_t code, const std::uint8_t* block)
{
    std::vector<std::uint8_t> f(11, 0);
    f[0] = 0x80;
    f[1] = code;
    std::copy(block, block + 8, f.begin() + 2);
    return f;
}

// Feeds frames and collects the replies' (code, sub-code) pairs.
struct Host {
    DeviceModel dev;
    std::vector<std::pair<int, int>> replies;
    bool send(const std::vector<std::uint8_t>& f)
    {
        DeviceModel::Output out = dev.feature(f.data(), f.size());
        for (const Report& r : out.reports)
            replies.emplace_back(r[1], r[2]);
        return out.accepted;
    }
    int countReply(int code, int sub) const
    {
        return int(std::count(replies.begin(), replies.end(), std::make_pair(code, sub)));
    }
};

const std::vector<std::uint8_t> kEndBlock = {0x21, 0x03, 0, 0, 0, 0, 0, 0};
} // namespace

class DeviceModelTest : public QObject {
    Q_OBJECT
private slots:
    void versionReply();
    void transfer_data();
    void transfer();
    void faults();
    void reportShapes();
};

void DeviceModelTest::versionReply()
{
    Host h;
    h.dev.setFirmwareNumber(3500);
    DeviceModel::Output out = h.dev.feature(frame({0x80, 0x03, 0x01}).data(), 11);
    QCOMPARE(out.reports.size(), size_t(1));
    const Report& r = out.reports[0];
    QCOMPARE(r.size(), size_t(20));
    QCOMPARE(int(r[0]), 0x80);
    QCOMPARE(int(r[1]), 0x0A);
    QCOMPARE(int(r[6] | (r[7] << 8)), 3500);
    QCOMPARE(h.dev.count(Kind::VersionQuery), size_t(1));
}

void DeviceModelTest::transfer_data()
{
    QTest::addColumn<int>("dspBlocks");
    QTest::addColumn<int>("armBlocks");
    QTest::addColumn<int>("endLikeBlock"); // DSP block with the end frame's bytes, -1 none
    QTest::addColumn<bool>("lengthKnown");
    QTest::newRow("plain") << 50 << 30 << -1 << false;
    QTest::newRow("odd sizes") << 49 << 26 << -1 << false;
    QTest::newRow("end-like block inside") << 51 << 25 << 7 << false;
    QTest::newRow("end-like last block") << 40 << 3 << 39 << false;
    QTest::newRow("end-like 25th block") << 30 << 3 << 24 << false;
    QTest::newRow("end-like block, length known") << 51 << 25 << 7 << true;
    QTest::newRow("end-like last block, length known") << 40 << 3 << 39 << true;
}

void DeviceModelTest::transfer()
{
    QFETCH(int, dspBlocks);
    QFETCH(int, armBlocks);
    QFETCH(int, endLikeBlock);
    QFETCH(bool, lengthKnown);

    std::vector<std::uint8_t> dsp(dspBlocks * 8), arm(armBlocks * 8);
    for (size_t i = 0; i < dsp.size(); ++i)
        dsp[i] = std::uint8_t(i * 7 + 1);
    for (size_t i = 0; i < arm.size(); ++i)
        arm[i] = std::uint8_t(i * 13 + 5);
    if (endLikeBlock >= 0)
        std::copy(kEndBlock.begin(), kEndBlock.end(), dsp.begin() + endLikeBlock * 8);

    Host h;
    if (lengthKnown)
        h.dev.setExpectedDspLength(dsp.size());
    h.send(frame({0x80, 0x0C, 0x54, 0x02}));
    QCOMPARE(h.countReply(0x0C, 0x55), 1);
    h.send(frame({0x80, 0x0C, 0x23, 0x01}));
    for (int b = 0; b < dspBlocks; ++b)
        h.send(dataFrame(0x0D, dsp.data() + b * 8));
    h.send(frame({0x80, 0x0D, 0x21, 0x03}));
    const int dspAcks = h.countReply(0x0C, 0x56);
    h.send(frame({0x80, 0x0F, 0x25, 0x01}));
    for (int b = 0; b < armBlocks; ++b)
        h.send(dataFrame(0x0E, arm.data() + b * 8));
    h.send(frame({0x80, 0x0F, 0x01, 0x03}));

    QVERIFY(h.dev.dspImage() == dsp);
    QVERIFY(h.dev.armImage() == arm);
    QVERIFY(h.dev.dspEnded());
    QVERIFY(h.dev.armEnded());
    QCOMPARE(h.dev.count(Kind::DspEnd), size_t(1));
    QCOMPARE(h.dev.count(Kind::DspData), size_t(dspBlocks));
    // Handshake, one per full window, the end frame; an unknown length adds
    // one for an end-like block that turned out to be data, unless that
    // block filled a window and its one ack served both readings.
    const int extra = (!lengthKnown && endLikeBlock >= 0 && (endLikeBlock + 1) % 25 != 0) ? 1 : 0;
    QCOMPARE(dspAcks, 1 + dspBlocks / 25 + 1 + extra);
    QCOMPARE(h.countReply(0x0C, 0x54), 1 + armBlocks / 25);
    QCOMPARE(h.countReply(0x0C, 0x59), 1);
    QCOMPARE(h.dev.frames().size(), size_t(dspBlocks + armBlocks + 5));
}

void DeviceModelTest::faults()
{
    const std::uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    {
        Host h; // the second DSP ack (after 25 frames) and the start ack never come
        h.dev.faults().dropStartAck = true;
        h.dev.faults().dropDspAck = 2;
        h.send(frame({0x80, 0x0C, 0x54, 0x02}));
        h.send(frame({0x80, 0x0C, 0x23, 0x01}));
        for (int i = 0; i < 50; ++i)
            h.send(dataFrame(0x0D, block));
        QCOMPARE(h.countReply(0x0C, 0x55), 0);
        QCOMPARE(h.countReply(0x0C, 0x56), 2); // handshake and after 50
    }
    {
        Host h; // the first ARM ack, in the second form, is dropped; no completion
        h.dev.faults().dropArmAck = 1;
        h.dev.faults().armAckSecondForm = true;
        h.dev.faults().dropCompletion = true;
        h.dev.faults().dropDspEndAck = true;
        h.send(frame({0x80, 0x0D, 0x21, 0x03}));
        h.send(frame({0x80, 0x0F, 0x25, 0x01}));
        for (int i = 0; i < 25; ++i)
            h.send(dataFrame(0x0E, block));
        h.send(frame({0x80, 0x0F, 0x01, 0x03}));
        QCOMPARE(h.countReply(0x0C, 0x56), 0);
        QCOMPARE(h.countReply(0x0F, 0x54), 1);
        QCOMPARE(h.countReply(0x0C, 0x54), 0);
        QCOMPARE(h.countReply(0x0C, 0x59), 0);
        QVERIFY(h.dev.dspEnded());
        QVERIFY(h.dev.dspImage().empty());
    }
    {
        Host h; // the 2nd write refused and not logged; unplug after the 3rd frame
        h.dev.faults().refuseWrite = 2;
        h.dev.faults().unplugAfterFrames = 3;
        QVERIFY(h.send(frame({0x80, 0x03, 0x01})));
        QVERIFY(!h.send(frame({0x80, 0x03, 0x01})));
        QVERIFY(h.send(frame({0x80, 0x03, 0x01})));
        DeviceModel::Output out = h.dev.feature(frame({0x80, 0x03, 0x01}).data(), 11);
        QVERIFY(out.unplug);
        QCOMPARE(h.dev.frames().size(), size_t(3));
        QCOMPARE(h.dev.writes(), 4);
    }
}

void DeviceModelTest::reportShapes()
{
    DeviceModel dev;
    dev.faults().burstBefore = 3;
    dev.faults().foreignReportId = 0x02;
    dev.faults().unknownCode = 0x44;
    dev.faults().inputReportLength = 8;
    DeviceModel::Output out = dev.feature(frame({0x80, 0x03, 0x01}).data(), 11);
    QCOMPARE(out.reports.size(), size_t(6));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(int(out.reports[i][1]), 0x7E);
        QCOMPARE(int(out.reports[i][2]), i);
    }
    QCOMPARE(int(out.reports[3][0]), 0x02);
    QCOMPARE(int(out.reports[4][1]), 0x44);
    QCOMPARE(int(out.reports[5][1]), 0x0A);
    for (const Report& r : out.reports)
        QCOMPARE(r.size(), size_t(8));

    // A frame shorter than 11 bytes is read no further than its end.
    const std::uint8_t shortFrame[3] = {0x80, 0x03, 0x01};
    QCOMPARE(DeviceModel::classify(shortFrame, 3), Kind::VersionQuery);
    QCOMPARE(DeviceModel::classify(shortFrame, 0), Kind::Unknown);
}

QTEST_APPLESS_MAIN(DeviceModelTest)
#include "tst_devicemodel.moc"
