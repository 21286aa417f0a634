// The Linux backend's parsers: report descriptors, uevents and sysfs.
#include "usb/discovery.h"
#include "usb/hid_linux_parse.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

using namespace hidlinux;
using Bytes = std::vector<std::uint8_t>;
Q_DECLARE_METATYPE(Bytes)

namespace {
// The updater's device: vendor page, report 0x80 with 19 input bytes and 10
// feature bytes.
const Bytes kDevice = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x80, 0x09,
                       0x02, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x13,
                       0x81, 0x02, 0x09, 0x03, 0x95, 0x0A, 0xB1, 0x02, 0xC0};
// A boot keyboard: no report ids; 8 input bytes, 1 output byte (5 LEDs + padding).
const Bytes kKeyboard = {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15,
                         0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08,
                         0x81, 0x01, 0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91,
                         0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06, 0x75, 0x08, 0x15, 0x00,
                         0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0};
// Several reports, a 4-byte item, Push/Pop, and a long item in the middle.
const Bytes kMulti = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,       // vendor collection
                      0x85, 0x01, 0x75, 0x08, 0x95, 0x03, 0x81, 0x02, // id 1: input 3 bytes
                      0xA4,                                           // push (size 8, count 3)
                      0x85, 0x02, 0x75, 0x10, 0x95, 0x02, 0xB1, 0x02, // id 2: feature 2 x 16 bits
                      0x27, 0xFF, 0xFF, 0x00, 0x00,                   // logical max 65535 (4 bytes)
                      0xFE, 0x03, 0x10, 0xB1, 0x02, 0x85,             // long item whose data look like items
                      0x75, 0x04, 0x95, 0x01, 0xB1, 0x02,             // id 2: feature + 4 bits
                      0xB4,                                           // pop: size 8, count 3, id 1 again
                      0x91, 0x02,                                     // id 1: output 3 bytes
                      0x85, 0x80, 0x95, 0x0A, 0xB1, 0x02,             // id 0x80: feature 10 bytes
                      0x95, 0x13, 0x81, 0x02, 0xC0};                  // id 0x80: input 19 bytes
} // namespace

class HidLinuxTest : public QObject {
    Q_OBJECT
private slots:
    void descriptor_data();
    void descriptor();
    void truncatedDescriptor_data();
    void truncatedDescriptor();
    void hidIdLine_data();
    void hidIdLine();
    void fakeSysfsTree();
    void devpathIds_data();
    void devpathIds();
    void kernelUevent();
    void noticePathRoundTrip();
    void backendFailsCleanly();
};

void HidLinuxTest::descriptor_data()
{
    QTest::addColumn<Bytes>("descriptor");
    QTest::addColumn<int>("reportId");
    QTest::addColumn<bool>("usesIds");
    QTest::addColumn<int>("feature");
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("output");
    QTest::newRow("the device") << kDevice << 0x80 << true << 11 << 20 << 0;
    QTest::newRow("keyboard") << kKeyboard << 0x80 << false << 0 << 9 << 2;
    QTest::newRow("multi, 0x80") << kMulti << 0x80 << true << 11 << 20 << 0;
    QTest::newRow("multi, id 1") << kMulti << 1 << true << 0 << 4 << 4;
    QTest::newRow("multi, id 2") << kMulti << 2 << true << 6 << 0 << 0;
    QTest::newRow("multi, absent id: longest") << kMulti << 7 << true << 11 << 20 << 4;
    QTest::newRow("empty") << Bytes{} << 0x80 << false << 0 << 0 << 0;
}

void HidLinuxTest::descriptor()
{
    QFETCH(Bytes, descriptor);
    QFETCH(int, reportId);
    // A copy of exactly the descriptor's size: any read past it is caught
    // by the address sanitizer.
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[descriptor.size() + 1]);
    std::copy(descriptor.begin(), descriptor.end(), exact.get());
    const DescriptorInfo info = parseReportDescriptor(exact.get(), descriptor.size());
    QVERIFY(info.complete);
    QTEST(info.usesReportIds, "usesIds");
    QTEST(int(featureLength(info, reportId)), "feature");
    QTEST(int(inputLength(info, reportId)), "input");
    QTEST(int(outputLength(info, reportId)), "output");
}

void HidLinuxTest::truncatedDescriptor_data()
{
    QTest::addColumn<Bytes>("descriptor");
    QTest::newRow("2-byte item cut") << Bytes{0x75, 0x08, 0x26, 0xFF};
    QTest::newRow("4-byte item cut") << Bytes{0x27, 0xFF, 0xFF};
    QTest::newRow("long item header cut") << Bytes{0xFE, 0x05};
    QTest::newRow("long item data cut") << Bytes{0xFE, 0x05, 0x10, 0x01, 0x02};
    QTest::newRow("long item size 255") << Bytes{0xFE, 0xFF, 0x10};
}

void HidLinuxTest::truncatedDescriptor()
{
    QFETCH(Bytes, descriptor);
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[descriptor.size()]);
    std::copy(descriptor.begin(), descriptor.end(), exact.get());
    QVERIFY(!parseReportDescriptor(exact.get(), descriptor.size()).complete);
}

void HidLinuxTest::hidIdLine_data()
{
    QTest::addColumn<QString>("uevent");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("product");
    QTest::newRow("usb") << "DRIVER=hid-generic\nHID_ID=0003:00000483:00000525\nHID_NAME=x\n"
                         << true << 0x0483 << 0x0525;
    QTest::newRow("bluetooth, letters") << "HID_ID=0005:0000046D:0000B01A" << true << 0x046D << 0xB01A;
    QTest::newRow("missing") << "DRIVER=hid-generic\nHID_NAME=x\n" << false << 0 << 0;
    QTest::newRow("too few fields") << "HID_ID=0003:00000483" << false << 0 << 0;
    QTest::newRow("not hex") << "HID_ID=0003:0000048G:00000525" << false << 0 << 0;
    QTest::newRow("too large") << "HID_ID=0003:00010483:00000525" << false << 0 << 0;
    QTest::newRow("not at line start") << "XHID_ID=0003:00000483:00000525" << false << 0 << 0;
}

void HidLinuxTest::hidIdLine()
{
    QFETCH(QString, uevent);
    QFETCH(bool, ok);
    HidAttributes ids;
    QCOMPARE(parseHidId(uevent.toStdString(), &ids), ok);
    if (ok) {
        QTEST(int(ids.vendorId), "vendor");
        QTEST(int(ids.productId), "product");
    }
}

void HidLinuxTest::fakeSysfsTree()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    auto write = [&](const QString& dir, const QByteArray& text) {
        QVERIFY(QDir().mkpath(root.filePath(dir + "/device")));
        QFile f(root.filePath(dir + "/device/uevent"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    };
    write("class/hidraw/hidraw0", "DRIVER=hid-generic\nHID_ID=0003:00000483:00000525\n");
    write("class/hidraw/hidraw1", "DRIVER=hid-generic\nHID_NAME=no ids\n");
    HidAttributes ids;
    QVERIFY(hidIdsFromSysfs(root.filePath("class/hidraw/hidraw0").toStdString(), &ids));
    QCOMPARE(int(ids.vendorId), 0x0483);
    QCOMPARE(int(ids.productId), 0x0525);
    QVERIFY(!hidIdsFromSysfs(root.filePath("class/hidraw/hidraw1").toStdString(), &ids));
    QVERIFY(!hidIdsFromSysfs(root.filePath("class/hidraw/hidraw9").toStdString(), &ids));
}

void HidLinuxTest::devpathIds_data()
{
    QTest::addColumn<QString>("devpath");
    QTest::addColumn<bool>("ok");
    QTest::newRow("usb")
        << "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:0483:0525.0004/hidraw/hidraw3" << true;
    QTest::newRow("uhid") << "/devices/virtual/misc/uhid/0003:0483:0525.0001/hidraw/hidraw0" << true;
    QTest::newRow("no hid device") << "/devices/virtual/misc/uhid/hidraw/hidraw0" << false;
    QTest::newRow("pci name only") << "/devices/pci0000:00/0000:00:14.0" << false;
}

void HidLinuxTest::devpathIds()
{
    QFETCH(QString, devpath);
    QFETCH(bool, ok);
    HidAttributes ids;
    QCOMPARE(idsFromHidDevpath(devpath.toStdString(), &ids), ok);
    if (ok) {
        QCOMPARE(int(ids.vendorId), 0x0483);
        QCOMPARE(int(ids.productId), 0x0525);
    }
}

void HidLinuxTest::kernelUevent()
{
    const char add[] = "add@/devices/virtual/misc/uhid/0003:0483:0525.0001/hidraw/hidraw0\0ACTION=add\0"
                       "DEVPATH=/devices/virtual/misc/uhid/0003:0483:0525.0001/hidraw/hidraw0\0"
                       "SUBSYSTEM=hidraw\0MAJOR=241\0MINOR=0\0DEVNAME=hidraw0\0SEQNUM=4211";
    Uevent e;
    // Without the final NUL: the parser stops at the datagram's length.
    QVERIFY(parseKernelUevent(add, sizeof add - 1, &e));
    QCOMPARE(QString::fromStdString(e.action), QStringLiteral("add"));
    QCOMPARE(QString::fromStdString(e.subsystem), QStringLiteral("hidraw"));
    QCOMPARE(QString::fromStdString(e.devname), QStringLiteral("hidraw0"));
    QVERIFY(e.devpath.find("0003:0483:0525") != std::string::npos);

    const char udevMessage[] = "libudev\0\xfe\xed\xca\xfe";
    QVERIFY(!parseKernelUevent(udevMessage, sizeof udevMessage - 1, &e));
    QVERIFY(!parseKernelUevent("", 0, &e));
    const char headerOnly[] = "remove@/devices/x";
    QVERIFY(!parseKernelUevent(headerOnly, sizeof headerOnly - 1, &e));
}

void HidLinuxTest::noticePathRoundTrip()
{
    HidAttributes ids;
    ids.vendorId = 0x0483;
    ids.productId = 0x0525;
    const std::string path = noticePath("/dev/hidraw12", ids);
    std::string vid, pid;
    QVERIFY(idsFromDevicePath(path, &vid, &pid));
    QCOMPARE(QString::fromStdString(vid), QStringLiteral("0483"));
    QCOMPARE(QString::fromStdString(pid), QStringLiteral("0525"));
    QCOMPARE(QString::fromStdString(deviceNode(path)), QStringLiteral("/dev/hidraw12"));
    QCOMPARE(QString::fromStdString(deviceNode("/dev/hidraw1")), QStringLiteral("/dev/hidraw1"));
}

void HidLinuxTest::backendFailsCleanly()
{
    HidPlatform* native = nativeHidPlatform();
    for (const std::string& path : native->enumerate()) {
        std::string vid, pid;
        QVERIFY(idsFromDevicePath(path, &vid, &pid));
    }
    QCOMPARE(native->openRead("/nonexistent/hidraw?VID_0483&PID_0525"), kInvalidHidHandle);
    QVERIFY(QString::fromStdString(native->lastError()).startsWith("open /nonexistent/hidraw"));
    std::uint8_t buffer[20];
    QCOMPARE(native->readInput(12345, buffer, sizeof buffer), -1);
    QVERIFY(!native->setFeature(12345, buffer, 11));
    native->close(12345);
}

QTEST_APPLESS_MAIN(HidLinuxTest)
#include "tst_hidlinux.moc"
