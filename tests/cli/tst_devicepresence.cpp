// The cli's look for the device before it builds the window, on the virtual
// bus: found, missing, other ids, present but not openable, and the bounded
// wait for a device plugged in later. Also the cli's command line itself.
#include "cli/devicepresence.h"
#include "cli/exitstatus.h"
#include "usb/backends/virtual/virtualbus.h"

#include <QProcess>
#include <QTimer>
#include <QtTest>

using unattended::lookForDevice;
using unattended::Presence;
using unattended::waitForDevice;

class DevicePresenceTest : public QObject {
    Q_OBJECT
private slots:
    void look_data();
    void look();
    void waits();
    void cliCommandLine();
};

// The interfaces plugged in order, as "vid:pid" with "!" when nobody may
// open it and "r" when only for reading; the one found (-1: none).
void DevicePresenceTest::look_data()
{
    QTest::addColumn<QStringList>("interfaces");
    QTest::addColumn<int>("found");
    QTest::addColumn<bool>("writable");
    QTest::newRow("among others") << QStringList{"1234:5678", "0483:0526", "0483:0525"} << 2 << true;
    QTest::newRow("none") << QStringList{} << -1 << false;
    QTest::newRow("another product") << QStringList{"0483:0526"} << -1 << false;
    QTest::newRow("no access at all: known by its path") << QStringList{"0483:0525!r"} << 0 << false;
    QTest::newRow("read-only access") << QStringList{"0483:0525r"} << 0 << false;
    QTest::newRow("a foreign one nobody may open") << QStringList{"1234:5678!"} << -1 << false;
    // Two devices, none chosen: no pick at random, even when only one opens.
    QTest::newRow("beside an unopenable one: two devices")
        << QStringList{"0483:0525!", "0483:0525"} << -1 << false;
}

void DevicePresenceTest::look()
{
    QFETCH(QStringList, interfaces);
    QFETCH(int, found);
    QFETCH(bool, writable);
    VirtualHidBus bus;
    std::vector<std::string> paths;
    for (const QString& i : interfaces) {
        VirtualInterfaceSpec s = VirtualHidBus::deviceSpec(std::make_shared<DeviceModel>());
        s.vendorId = std::uint16_t(i.left(4).toUInt(nullptr, 16));
        s.productId = std::uint16_t(i.mid(5, 4).toUInt(nullptr, 16));
        s.probeFails = i.contains('!');
        s.writeOpenFails = i.contains('r');
        paths.push_back(bus.plug(s));
    }
    const Presence p = lookForDevice(bus, 0x0483, 0x0525);
    QCOMPARE(p.path, found < 0 ? std::string() : paths[found]);
    QCOMPARE(p.writable, writable);
    // Not writable though found: the reason is given.
    QCOMPARE(p.error.empty(), found < 0 || writable);
    QCOMPARE(bus.openHandleCount(), 0); // every probe and test open closed again
}

void DevicePresenceTest::waits()
{
    // A device plugged later is waited for, once told of; one present from
    // the start needs no wait.
    VirtualHidBus bus;
    std::string plugged;
    QTimer::singleShot(
        300, &bus, [&] { plugged = bus.plug(VirtualHidBus::deviceSpec(std::make_shared<DeviceModel>())); });
    static int waitingCalls;
    waitingCalls = 0;
    const Presence p = waitForDevice(bus, 0x0483, 0x0525, 20, 50, [] { ++waitingCalls; });
    QCOMPARE(p.path, plugged);
    QVERIFY(p.writable);
    QVERIFY(waitForDevice(bus, 0x0483, 0x0525, 20, 50, [] { ++waitingCalls; }).writable);
    QCOMPARE(waitingCalls, 1);

    // Bounded: 0 looks once; a device that stays unopenable is reported
    // once the time is up.
    VirtualHidBus empty;
    QVERIFY(waitForDevice(empty, 0x0483, 0x0525, 0, 50).path.empty());
    QVERIFY(waitForDevice(empty, 0x0483, 0x0525, 0.4, 50).path.empty());
    VirtualInterfaceSpec locked = VirtualHidBus::deviceSpec(std::make_shared<DeviceModel>());
    locked.writeOpenFails = true;
    const std::string path = empty.plug(locked);
    const Presence q = waitForDevice(empty, 0x0483, 0x0525, 0.3, 50);
    QCOMPARE(q.path, path);
    QVERIFY(!q.writable);
}

void DevicePresenceTest::cliCommandLine()
{
    auto run = [](const QStringList& args, QByteArray* out) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(FIRMWARE_UPDATER_CLI), args);
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished(5000);
            return -1;
        }
        *out = p.readAll();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    QByteArray out;
    QCOMPARE(run({"--help"}, &out), 0);
    QVERIFY(!out.contains("--station-child")); // the station's own, not the user's
    for (const QStringList& bad : {QStringList{},
                                   {"--image", "x.fw", "--wait-device", "soon"},
                                   {"--server", "nohost"},
                                   {"--all", "--watch", "--image", "x.fw"},
                                   {"--all", "--serial", "S", "--image", "x.fw"},
                                   {"--image", "x.fw", "--log", "/nonexistent-dir/log"}})
        QCOMPARE(run(bad, &out), int(unattended::Usage));
}

QTEST_MAIN(DevicePresenceTest)
#include "tst_devicepresence.moc"
