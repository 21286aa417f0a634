// The virtual device and bus the other tests stand on: the device's reading
// of an end-like DSP block (its faults show in tst_hardening_faults and the
// link tests, which also end blocked reads by close and unplug); the bus's
// writes, reads into short buffers, handles, and notices on the registering
// thread.
#include "image/firmwareimage.h"
#include "usb/backends/virtual/devicemodel.h"
#include "usb/backends/virtual/virtualbus.h"

#include <QtTest>

#include <thread>
#include <tuple>

using Report = DeviceModel::Report;
using Kind = DeviceModel::FrameKind;

namespace {
const std::uint8_t kVersionQuery[11] = {0x80, 0x03, 0x01};
const std::uint8_t kEndBlock[8] = {0x21, 0x03};

// Feeds 11-byte frames to a device and counts the replies' (code, sub-code).
struct Host {
    DeviceModel dev;
    std::vector<std::pair<int, int>> replies;
    bool send(std::initializer_list<std::uint8_t> head, const std::uint8_t* block = nullptr)
    {
        std::uint8_t f[11] = {};
        std::copy(head.begin(), head.end(), f);
        if (block)
            std::copy(block, block + 8, f + 2);
        const DeviceModel::Output out = dev.feature(f, 11);
        for (const Report& r : out.reports)
            replies.emplace_back(r[1], r[2]);
        return out.accepted;
    }
    int countReply(int code, int sub) const
    {
        return int(std::count(replies.begin(), replies.end(), std::make_pair(code, sub)));
    }
};
} // namespace

class VirtualTest : public QObject {
    Q_OBJECT
private slots:
    void transfer();
    void busRepliesAndHandles();
    void noticesOnRegisteringThread();
};

void VirtualTest::transfer()
{
    // A DSP block with the end frame's bytes, inside a window, filling one,
    // and last with the length known (whole runs: tst_hardening_faults).
    for (const auto& [dspBlocks, armBlocks, endLikeBlock, lengthKnown] :
         {std::tuple{51, 26, 7, false}, {30, 3, 24, false}, {40, 3, 39, true}}) {
        Report dsp = fwimage::sampleBytes(dspBlocks * 8, 1), arm = fwimage::sampleBytes(armBlocks * 8, 2);
        std::copy(kEndBlock, kEndBlock + 8, dsp.begin() + endLikeBlock * 8);
        Host h;
        if (lengthKnown)
            h.dev.setExpectedDspLength(dsp.size());
        h.send({0x80, 0x0C, 0x54, 0x02});
        QCOMPARE(h.countReply(0x0C, 0x55), 1);
        h.send({0x80, 0x0C, 0x23, 0x01});
        for (int b = 0; b < dspBlocks; ++b)
            h.send({0x80, 0x0D}, dsp.data() + b * 8);
        h.send({0x80, 0x0D, 0x21, 0x03});
        const int dspAcks = h.countReply(0x0C, 0x56);
        h.send({0x80, 0x0F, 0x25, 0x01});
        for (int b = 0; b < armBlocks; ++b)
            h.send({0x80, 0x0E}, arm.data() + b * 8);
        h.send({0x80, 0x0F, 0x01, 0x03});

        QVERIFY(h.dev.dspImage() == dsp && h.dev.armImage() == arm && h.dev.dspEnded() && h.dev.armEnded());
        // DSP acks: handshake, one per full window, the end frame; an unknown
        // length adds one for an end-like block that turned out to be data,
        // unless that block filled a window and its one ack served both readings.
        const int extra = (!lengthKnown && (endLikeBlock + 1) % 25 != 0) ? 1 : 0;
        QCOMPARE(std::tuple(h.dev.count(Kind::DspEnd), h.dev.count(Kind::DspData), h.dev.frames().size(),
                            dspAcks, h.countReply(0x0C, 0x54), h.countReply(0x0C, 0x59)),
                 std::tuple(size_t(1), size_t(dspBlocks), size_t(dspBlocks + armBlocks + 5),
                            1 + dspBlocks / 25 + 1 + extra, 1 + armBlocks / 25, 1));
    }
}

void VirtualTest::busRepliesAndHandles()
{
    // Replies, their order and the declared lengths as a backend gives them:
    // tst_conformance.
    VirtualHidBus bus;
    auto dev = std::make_shared<DeviceModel>();
    const std::string path = bus.plug(VirtualHidBus::deviceInterface(dev));
    const HidHandle r = bus.openRead(path);
    const HidHandle w = bus.openWrite(path);
    // A write of another length than the declared one fails, like the OS's;
    // read handles take no writes.
    QVERIFY(!bus.setFeature(w, kVersionQuery, 3));
    QVERIFY(!bus.setFeature(r, kVersionQuery, 11));
    // A small buffer is never overrun: the report is cut to it.
    bus.inject(path, {{0x80, 1, 2}});
    std::uint8_t two[3] = {0, 0, 0x55};
    QVERIFY(bus.readInput(r, two, 2) == 2 && two[1] == 1 && two[2] == 0x55);

    const std::string other = bus.plug(VirtualHidInterface{});
    const HidHandle a = bus.openRead(other);
    HidCaps caps;
    QVERIFY(bus.getCaps(a, &caps));
    bus.close(a);
    const HidHandle b = bus.openRead(other);
    QVERIFY(b != a && !bus.getCaps(a, &caps)); // never reused
    QCOMPARE(bus.openHandleCount(), 3);
    for (HidHandle h : {r, w, b})
        bus.close(h);
    QCOMPARE(bus.openHandleCount(), 0);
}

void VirtualTest::noticesOnRegisteringThread()
{
    VirtualHidBus bus;
    QList<QPair<int, std::string>> notices;
    QList<Qt::HANDLE> threads;
    QVERIFY(bus.registerNotices(nullptr, [&](HidNoticeKind kind, const std::string& path) {
        notices.append({int(kind), path});
        threads.append(QThread::currentThreadId());
    }));
    std::string path;
    std::thread other([&] { path = bus.plug(VirtualHidInterface{}); });
    other.join();
    QVERIFY(notices.isEmpty()); // queued, not called from the plugging thread
    QTRY_COMPARE(notices.size(), 1);
    QCOMPARE(notices[0], qMakePair(int(HidNoticeKind::Arrival), path));
    QCOMPARE(threads[0], QThread::currentThreadId());

    // Unplugging by the device's own fault removes every interface of it.
    auto dev = std::make_shared<DeviceModel>();
    dev->faults().unplugAfterFrames = 1;
    const std::string a = bus.plug(VirtualHidBus::deviceInterface(dev));
    const std::string b = bus.plug(VirtualHidBus::deviceInterface(dev));
    QVERIFY(bus.setFeature(bus.openWrite(a), kVersionQuery, 11));
    QVERIFY(!bus.isPlugged(a) && !bus.isPlugged(b));
    QTRY_COMPARE(notices.size(), 5);
    QCOMPARE(notices[3].first, int(HidNoticeKind::Removal));
    QCOMPARE(notices[4].second, b);
}

QTEST_GUILESS_MAIN(VirtualTest)
#include "tst_virtual.moc"
