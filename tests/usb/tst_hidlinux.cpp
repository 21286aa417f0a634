// The Linux backend's parsers: report descriptors and uevents (reading them from
// sysfs: the Linux guest); the backend failing cleanly.
#include "usb/backends/linux/hid_linux_parse.h"
#include "usb/discovery.h"

#include <QtTest>

#include <tuple>
#include <vector>

using namespace hidlinux;
using Bytes = std::vector<std::uint8_t>;

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

// Parses a copy of exactly the descriptor's size: any read past it is caught
// by the address sanitizer.
DescriptorInfo parseExact(const Bytes& d)
{
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[d.size()]);
    std::copy(d.begin(), d.end(), exact.get());
    return parseReportDescriptor(exact.get(), d.size());
}
} // namespace

class HidLinuxTest : public QObject {
    Q_OBJECT
private slots:
    void descriptor();
    void uevents();
    void nativeBackend();
};

void HidLinuxTest::descriptor()
{
    const struct {
        const char* name;
        Bytes descriptor;
        int reportId;
        bool usesIds;
        std::size_t feature, input, output;
    } rows[] = {
        {"the device", kDevice, 0x80, true, 11, 20, 0},
        {"keyboard", kKeyboard, 0x80, false, 0, 9, 2},
        {"multi, 0x80", kMulti, 0x80, true, 11, 20, 0},
        {"multi, id 1", kMulti, 1, true, 0, 4, 4},
        {"multi, id 2", kMulti, 2, true, 6, 0, 0},
        {"multi, absent id: longest", kMulti, 7, true, 11, 20, 4},
        {"empty", {}, 0x80, false, 0, 0, 0},
    };
    for (const auto& r : rows) {
        const DescriptorInfo info = parseExact(r.descriptor);
        QVERIFY2(info.complete && info.usesReportIds == r.usesIds, r.name);
        QCOMPARE(std::tuple(featureLength(info, r.reportId), inputLength(info, r.reportId),
                            outputLength(info, r.reportId)),
                 std::tuple(r.feature, r.input, r.output));
    }
    // Cut short: a 2-byte and a 4-byte item, a long item's header or data, a
    // long item of size 255.
    for (const Bytes& d : {Bytes{0x75, 0x08, 0x26, 0xFF}, Bytes{0x27, 0xFF, 0xFF}, Bytes{0xFE, 0x05},
                           Bytes{0xFE, 0x05, 0x10, 0x01, 0x02}, Bytes{0xFE, 0xFF, 0x10}})
        QVERIFY(!parseExact(d).complete);
}

void HidLinuxTest::uevents()
{
    // The HID_ID line of a device's uevent file.
    const struct {
        const char* uevent;
        int vendor, product; // -1: refused
    } lines[] = {{"DRIVER=hid-generic\nHID_ID=0003:00000483:00000525\nHID_NAME=x\n", 0x0483, 0x0525},
                 {"HID_ID=0005:0000046D:0000B01A", 0x046D, 0xB01A},
                 {"DRIVER=hid-generic\nHID_NAME=x\n", -1, -1},
                 {"HID_ID=0003:00000483", -1, -1},
                 {"HID_ID=0003:0000048G:00000525", -1, -1},
                 {"HID_ID=0003:00010483:00000525", -1, -1},
                 {"XHID_ID=0003:00000483:00000525", -1, -1}};
    for (const auto& l : lines) {
        HidAttributes ids;
        QCOMPARE(parseHidId(l.uevent, &ids), l.vendor >= 0);
        if (l.vendor >= 0)
            QVERIFY2(ids.vendorId == l.vendor && ids.productId == l.product, l.uevent);
    }
    // The ids in a kernel device path.
    const std::pair<const char*, bool> devpaths[] = {
        {"/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:0483:0525.0004/hidraw/hidraw3", true},
        {"/devices/virtual/misc/uhid/hidraw/hidraw0", false},
        {"/devices/pci0000:00/0000:00:14.0", false}};
    for (const auto& [devpath, ok] : devpaths) {
        HidAttributes ids;
        QCOMPARE(idsFromHidDevpath(devpath, &ids), ok);
        if (ok)
            QVERIFY(ids.vendorId == 0x0483 && ids.productId == 0x0525);
    }
    // A kernel uevent datagram, without the final NUL: the parser stops at
    // its length.
    const char add[] = "add@/devices/virtual/misc/uhid/0003:0483:0525.0001/hidraw/hidraw0\0ACTION=add\0"
                       "DEVPATH=/devices/virtual/misc/uhid/0003:0483:0525.0001/hidraw/hidraw0\0"
                       "SUBSYSTEM=hidraw\0MAJOR=241\0MINOR=0\0DEVNAME=hidraw0\0SEQNUM=4211";
    Uevent e;
    QVERIFY(parseKernelUevent(add, sizeof add - 1, &e));
    QVERIFY(e.action == "add" && e.subsystem == "hidraw" && e.devname == "hidraw0" &&
            e.devpath == "/devices/virtual/misc/uhid/0003:0483:0525.0001/hidraw/hidraw0");
    // A udev message, nothing, a header alone.
    for (const std::string& m :
         {std::string("libudev\0\xfe\xed\xca\xfe", 12), std::string(), std::string("remove@/devices/x")})
        QVERIFY(!parseKernelUevent(m.data(), m.size(), &e));
}

void HidLinuxTest::nativeBackend()
{
    // The real backend lists paths that carry ids and fails cleanly. The
    // notice path it builds from a uevent: tst_hardening_replay_fuzz_uevent.
    HidPlatform* native = nativeHidPlatform();
    std::string vid, pid;
    for (const std::string& listed : native->enumerate())
        QVERIFY(idsFromDevicePath(listed, &vid, &pid));
    QCOMPARE(native->openRead("/nonexistent/hidraw?VID_0483&PID_0525"), kInvalidHidHandle);
    QVERIFY(QString::fromStdString(native->lastError()).startsWith("open /nonexistent/hidraw"));
    std::uint8_t buffer[20];
    QCOMPARE(native->readInput(12345, buffer, sizeof buffer), -1);
    QVERIFY(!native->setFeature(12345, buffer, 11));
    native->close(12345);
}

QTEST_APPLESS_MAIN(HidLinuxTest)
#include "tst_hidlinux.moc"
