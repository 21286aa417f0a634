// The in-process bus: blocking reads and what ends them, delayed replies,
// handles, and notices on the registering thread.
#include "usb/virtual/virtualbus.h"

#include <QtTest>

#include <atomic>
#include <thread>

namespace {
const std::uint8_t kVersionQuery[11] = {0x80, 0x03, 0x01};

// Waits until the bus has `n` reads blocked (the reader really sleeps).
bool blockedReadsReach(VirtualHidBus& bus, int n)
{
    return QTest::qWaitFor([&] { return bus.blockedReads() == n; }, 5000);
}
} // namespace

class VirtualBusTest : public QObject {
    Q_OBJECT
private slots:
    void blockedReadEnds_data();
    void blockedReadEnds();
    void repliesAndDelay();
    void openFailuresAndHandles();
    void noticesOnRegisteringThread();
};

void VirtualBusTest::blockedReadEnds_data()
{
    QTest::addColumn<bool>("byUnplug");
    QTest::newRow("close from another thread") << false;
    QTest::newRow("unplug") << true;
}

void VirtualBusTest::blockedReadEnds()
{
    QFETCH(bool, byUnplug);
    VirtualHidBus bus;
    const std::string path = bus.plug(VirtualHidBus::deviceSpec(std::make_shared<DeviceModel>()));
    const HidHandle h = bus.openRead(path);
    QVERIFY(h != kInvalidHidHandle);

    std::atomic<int> result{1};
    std::thread reader([&] {
        std::uint8_t buffer[20];
        result = bus.readInput(h, buffer, sizeof buffer);
    });
    QVERIFY(blockedReadsReach(bus, 1));
    if (byUnplug)
        bus.unplug(path);
    else
        bus.close(h);
    reader.join();
    QCOMPARE(result.load(), -1);
    // Later reads on the same handle fail at once, they do not block.
    std::uint8_t buffer[20];
    QCOMPARE(bus.readInput(h, buffer, sizeof buffer), -1);
    QVERIFY(!bus.lastError().empty());
}

void VirtualBusTest::repliesAndDelay()
{
    VirtualHidBus bus;
    auto dev = std::make_shared<DeviceModel>();
    dev->faults().replyDelayMs = 50;
    const std::string path = bus.plug(VirtualHidBus::deviceSpec(dev));
    const HidHandle r = bus.openRead(path);
    const HidHandle w = bus.openWrite(path);

    QVERIFY(bus.setFeature(w, kVersionQuery, 11));
    // A write of another length than the declared one fails, like the OS's.
    QVERIFY(!bus.setFeature(w, kVersionQuery, 3));
    // Read handles take no writes.
    QVERIFY(!bus.setFeature(r, kVersionQuery, 11));

    std::uint8_t buffer[20] = {};
    QCOMPARE(bus.readInput(r, buffer, sizeof buffer), 20);
    QCOMPARE(int(buffer[1]), 0x0A);

    // Injected reports keep their order; a small buffer is never overrun.
    bus.inject(path, {{0x80, 1}, {0x80, 2, 2}, {0x80, 3}});
    std::uint8_t two[2];
    QCOMPARE(bus.readInput(r, two, 2), 2);
    QCOMPARE(int(two[1]), 1);
    QCOMPARE(bus.readInput(r, two, 2), 2);
    QCOMPARE(int(two[1]), 2);
    QCOMPARE(bus.readInput(r, buffer, sizeof buffer), 2);
    QCOMPARE(int(buffer[1]), 3);
}

void VirtualBusTest::openFailuresAndHandles()
{
    VirtualHidBus bus;
    VirtualInterfaceSpec spec;
    spec.probeFails = true;
    spec.writeOpenFails = true;
    spec.featureLength = 16;
    const std::string path = bus.plug(spec);
    QCOMPARE(bus.openProbe(path), kInvalidHidHandle);
    QCOMPARE(bus.openWrite(path), kInvalidHidHandle);
    QCOMPARE(bus.openRead("\\\\?\\hid#nothing"), kInvalidHidHandle);

    const HidHandle a = bus.openRead(path);
    HidCaps caps;
    QVERIFY(bus.getCaps(a, &caps));
    QCOMPARE(int(caps.featureReportByteLength), 16);
    bus.close(a);
    const HidHandle b = bus.openRead(path);
    QVERIFY(b != a); // never reused
    QVERIFY(!bus.getCaps(a, &caps));
    QCOMPARE(bus.openHandleCount(), 1);
    bus.close(b);
    QCOMPARE(bus.openHandleCount(), 0);
}

void VirtualBusTest::noticesOnRegisteringThread()
{
    VirtualHidBus bus;
    QList<QPair<int, std::string>> notices;
    QList<Qt::HANDLE> threads;
    QVERIFY(bus.registerNotices(nullptr, [&](HidNoticeKind kind, const std::string& path) {
        notices.append({int(kind), path});
        threads.append(QThread::currentThreadId());
    }));

    std::string path;
    std::thread other([&] { path = bus.plug(VirtualInterfaceSpec{}); });
    other.join();
    QVERIFY(notices.isEmpty()); // queued, not called from the plugging thread
    QTRY_COMPARE(notices.size(), 1);
    QCOMPARE(notices[0].first, int(HidNoticeKind::Arrival));
    QCOMPARE(notices[0].second, path);
    QCOMPARE(threads[0], QThread::currentThreadId());

    // Unplugging by the device's own fault removes every interface of it.
    auto dev = std::make_shared<DeviceModel>();
    dev->faults().unplugAfterFrames = 1;
    const std::string a = bus.plug(VirtualHidBus::deviceSpec(dev));
    const std::string b = bus.plug(VirtualHidBus::deviceSpec(dev));
    const HidHandle w = bus.openWrite(a);
    QVERIFY(bus.setFeature(w, kVersionQuery, 11));
    QVERIFY(!bus.isPlugged(a) && !bus.isPlugged(b));
    QTRY_COMPARE(notices.size(), 5);
    QCOMPARE(notices[3].first, int(HidNoticeKind::Removal));
    QCOMPARE(notices[4].second, b);

    bus.setRegistrationFails(true);
    QVERIFY(!bus.registerNotices(nullptr, [](HidNoticeKind, const std::string&) {}));
}

QTEST_GUILESS_MAIN(VirtualBusTest)
#include "tst_virtualbus.moc"
