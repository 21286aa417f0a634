// The cli's look for the device before it builds the window, on the virtual
// bus: found, missing, other ids, present but not openable, and the bounded
// wait for a device plugged in later. Also the cli's command line itself.
#include "sim/devicepresence.h"
#include "sim/exitstatus.h"
#include "usb/virtual/virtualbus.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <QtTest>

using unattended::lookForDevice;
using unattended::Presence;
using unattended::waitForDevice;

namespace {
VirtualInterfaceSpec other(std::uint16_t vid, std::uint16_t pid)
{
    VirtualInterfaceSpec s;
    s.vendorId = vid;
    s.productId = pid;
    return s;
}
} // namespace

class DevicePresenceTest : public QObject {
    Q_OBJECT
private slots:
    void foundAmongOthers();
    void missing();
    void presentButNotOpenable_data();
    void presentButNotOpenable();
    void openableOneWinsOverAnUnopenableOne();
    void waitsForALateDevice();
    void waitIsBounded();
    void cliCommandLine();
};

void DevicePresenceTest::foundAmongOthers()
{
    VirtualHidBus bus;
    bus.plug(other(0x1234, 0x5678));
    bus.plug(other(0x0483, 0x0526));
    const std::string ours = bus.plug(VirtualHidBus::deviceSpec(std::make_shared<DeviceModel>()));
    const Presence p = lookForDevice(bus, 0x0483, 0x0525);
    QCOMPARE(p.path, ours);
    QVERIFY(p.writable);
    QVERIFY(p.error.empty());
    QCOMPARE(bus.openHandleCount(), 0); // every probe and test open closed again
}

void DevicePresenceTest::missing()
{
    VirtualHidBus bus;
    QVERIFY(lookForDevice(bus, 0x0483, 0x0525).path.empty());
    bus.plug(other(0x0483, 0x0526));
    const Presence p = lookForDevice(bus, 0x0483, 0x0525);
    QVERIFY(p.path.empty());
    QVERIFY(!p.writable);
}

void DevicePresenceTest::presentButNotOpenable_data()
{
    QTest::addColumn<bool>("probeFails");
    QTest::newRow("no access at all: known by its path") << true;
    QTest::newRow("read-only access") << false;
}

void DevicePresenceTest::presentButNotOpenable()
{
    QFETCH(bool, probeFails);
    VirtualHidBus bus;
    VirtualInterfaceSpec desc = VirtualHidBus::deviceSpec(std::make_shared<DeviceModel>());
    desc.probeFails = probeFails;
    desc.writeOpenFails = true;
    const std::string path = bus.plug(desc);
    const Presence p = lookForDevice(bus, 0x0483, 0x0525);
    QCOMPARE(p.path, path);
    QVERIFY(!p.writable);
    QVERIFY(!p.error.empty());
    // A foreign device nobody may open is not taken for ours.
    VirtualHidBus foreign;
    VirtualInterfaceSpec f = other(0x1234, 0x5678);
    f.probeFails = true;
    foreign.plug(f);
    QVERIFY(lookForDevice(foreign, 0x0483, 0x0525).path.empty());
}

void DevicePresenceTest::openableOneWinsOverAnUnopenableOne()
{
    VirtualHidBus bus;
    VirtualInterfaceSpec locked = VirtualHidBus::deviceSpec(std::make_shared<DeviceModel>());
    locked.probeFails = true;
    bus.plug(locked);
    const std::string open = bus.plug(VirtualHidBus::deviceSpec(std::make_shared<DeviceModel>()));
    const Presence p = lookForDevice(bus, 0x0483, 0x0525);
    QCOMPARE(p.path, open);
    QVERIFY(p.writable);
}

void DevicePresenceTest::waitsForALateDevice()
{
    VirtualHidBus bus;
    std::string plugged;
    QTimer::singleShot(
        300, &bus, [&] { plugged = bus.plug(VirtualHidBus::deviceSpec(std::make_shared<DeviceModel>())); });
    static int waitingCalls;
    waitingCalls = 0;
    QElapsedTimer t;
    t.start();
    const Presence p = waitForDevice(bus, 0x0483, 0x0525, 20, 50, [] { ++waitingCalls; });
    qInfo("device plugged after 300 ms was found after %lld ms", static_cast<long long>(t.elapsed()));
    QCOMPARE(p.path, plugged);
    QVERIFY(p.writable);
    QCOMPARE(waitingCalls, 1);
    // Present from the start: no waiting at all.
    waitingCalls = 0;
    QVERIFY(waitForDevice(bus, 0x0483, 0x0525, 20, 50, [] { ++waitingCalls; }).writable);
    QCOMPARE(waitingCalls, 0);
}

void DevicePresenceTest::waitIsBounded()
{
    VirtualHidBus bus;
    QElapsedTimer t;
    t.start();
    QVERIFY(waitForDevice(bus, 0x0483, 0x0525, 0, 50).path.empty()); // 0: look once
    const Presence p = waitForDevice(bus, 0x0483, 0x0525, 0.4, 50);
    qInfo("gave up after %lld ms (limit 400 ms)", static_cast<long long>(t.elapsed()));
    QVERIFY(p.path.empty());
    // A device that stays unopenable is reported once the time is up.
    VirtualInterfaceSpec locked = VirtualHidBus::deviceSpec(std::make_shared<DeviceModel>());
    locked.writeOpenFails = true;
    const std::string path = bus.plug(locked);
    const Presence q = waitForDevice(bus, 0x0483, 0x0525, 0.3, 50);
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
    // Every outcome's status is listed.
    for (int status : {0, 1, 2, 4, 5, 10, 11, 12, 20, 21, 22, 23, 31, 32, 40, 41, 64})
        QVERIFY2(out.contains(QStringLiteral("\n  %1  ").arg(status, 3).toUtf8()),
                 qPrintable(QString::number(status)));
    QVERIFY(out.contains("--wait-device"));
    QVERIFY(out.contains("--server"));
    QCOMPARE(run({}, &out), int(unattended::Usage));
    QCOMPARE(run({"--image", "x.fw", "--wait-device", "soon"}, &out), int(unattended::Usage));
    QCOMPARE(run({"--server", "nohost"}, &out), int(unattended::Usage));
}

QTEST_MAIN(DevicePresenceTest)
#include "tst_devicepresence.moc"
