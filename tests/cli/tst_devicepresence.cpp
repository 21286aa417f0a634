// The cli's look for the device before it builds the window, on the virtual
// bus: found, missing, other ids, present but not openable, and the bounded
// wait for a device plugged in later. Also the cli's command-line manners.
#include "cli/devicepresence.h"
#include "cli/exitstatus.h"
#include "support/rig.h"

#include <QProcess>
#include <QTemporaryDir>
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
    // the start needs no wait. Bounded: 0 looks once; a device that stays
    // unopenable is reported once the time is up.
    VirtualHidBus bus, empty;
    std::string plugged;
    QTimer::singleShot(
        300, &bus, [&] { plugged = bus.plug(VirtualHidBus::deviceSpec(std::make_shared<DeviceModel>())); });
    static int waitingCalls = 0;
    const auto wait = [](VirtualHidBus& b, double s) {
        return waitForDevice(b, 0x0483, 0x0525, s, 50, [] { ++waitingCalls; });
    };
    const Presence p = wait(bus, 20);
    QVERIFY(p.path == plugged && p.writable);
    QVERIFY(wait(bus, 20).writable);
    QVERIFY(wait(empty, 0).path.empty() && wait(empty, 0.4).path.empty());
    QCOMPARE(waitingCalls, 2); // told only when it waits: the first and the 0.4 s look
    VirtualInterfaceSpec locked = VirtualHidBus::deviceSpec(std::make_shared<DeviceModel>());
    locked.writeOpenFails = true;
    const std::string path = empty.plug(locked);
    const Presence q = wait(empty, 0.3);
    QVERIFY(q.path == path && !q.writable);
}

void DevicePresenceTest::cliCommandLine()
{
    // Results on stdout, errors on stderr. An image file that cannot be used
    // is refused before any device is waited for (the wait asked for here is
    // 30 s). The rows of --list assume no device of the model is attached.
    QTemporaryDir dir;
    const QString empty = writeFile(dir, "empty.fw", {}),
                  shortFile = writeFile(dir, "short.fw", "0123456789");
    const QStringList wait{"--wait-device", "30"};
    const struct {
        QStringList args;
        int status;
        const char* out; // the whole of stdout
        bool err;        // something on stderr
    } rows[] = {
        {{"--help"}, 0, nullptr, false},
        {{}, unattended::Usage, "", true},
        {{"--image", "x.fw", "--wait-device", "soon"}, unattended::Usage, "", true},
        {{"--server", "nohost"}, unattended::Usage, "", true},
        {{"--all", "--watch", "--image", "x.fw"}, unattended::Usage, "", true},
        {{"--all", "--serial", "S", "--image", "x.fw"}, unattended::Usage, "", true},
        {{"--image", "x.fw", "--log", "/nonexistent-dir/log"}, unattended::Usage, "", true},
        {QStringList{"--image", dir.filePath("missing.fw")} + wait, unattended::FileFormat, "", true},
        {QStringList{"--image", dir.path()} + wait, unattended::FileFormat, "", true},
        {QStringList{"--image", empty, "-q"} + wait, unattended::FileFormat, "", true},
        {QStringList{"--image", shortFile, "--all"}, unattended::FileFormat, "", true},
        {{"--list", "--json"}, 0, "[]\n", false},
    };
    for (const auto& row : rows) {
        QProcess p;
        p.start(QStringLiteral(FIRMWARE_UPDATER_CLI), row.args);
        const QString name = row.args.join(' ');
        QVERIFY2(p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit &&
                     p.exitCode() == row.status,
                 qPrintable(name));
        const QByteArray out = p.readAllStandardOutput();
        if (row.out)
            QVERIFY2(out == row.out, qPrintable(name + ": " + out));
        else
            QVERIFY(!out.contains("--station-child")); // the station's own, not the user's
        QVERIFY2(p.readAllStandardError().isEmpty() != row.err, qPrintable(name));
    }
}

QTEST_MAIN(DevicePresenceTest)
#include "tst_devicepresence.moc"
