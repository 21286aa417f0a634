// The uhid device program's command line and report descriptor, checked on
// the host (the program itself runs in the guest, where /dev/uhid exists).
#include "usb/virtual/uhid/uhidoptions.h"

#include <QtTest>

namespace {
UhidParseResult parse(std::initializer_list<const char*> args, UhidOptions* out)
{
    std::vector<std::string> v;
    for (const char* a : args)
        v.emplace_back(a);
    return parseUhidOptions(v, out);
}
} // namespace

class UhidOptionsTest : public QObject {
    Q_OBJECT
private slots:
    void defaults();
    void faultsReachTheModel();
    void declaredInputFollowsShortReports();
    void devices();
    void rejects();
    void descriptorDeclaresTheReportLengths();
};

void UhidOptionsTest::defaults()
{
    UhidOptions o;
    o.firmware = 1;
    const UhidParseResult r = parse({}, &o);
    QVERIFY(r.ok);
    QCOMPARE(o.ids.vendorId, std::uint16_t(0x0483));
    QCOMPARE(o.ids.productId, std::uint16_t(0x0525));
    QCOMPARE(o.firmware, std::uint16_t(5000));
    QCOMPARE(o.replugAfterMs, -1);
    QCOMPARE(o.inputBytes, 19);
    QCOMPARE(o.featureBytes, 10);
    QVERIFY(o.others.empty());
    QCOMPARE(o.faults.unplugAfterFrames, 0);
    QVERIFY(parse({"--help"}, &o).help);
    QVERIFY(uhidUsage().find("--unplug-after-frames") != std::string::npos);
}

void UhidOptionsTest::faultsReachTheModel()
{
    UhidOptions o;
    const UhidParseResult r =
        parse({"--unplug-after-frames", "120", "--replug-after-ms", "300", "--reply-delay-ms", "7",
               "--drop-start-ack", "--drop-dsp-ack", "3", "--refuse-write", "0x10", "--input-report-length",
               "12", "--arm-ack-second-form", "--firmware", "4321", "--dsp-length", "2048"},
              &o);
    QVERIFY2(r.ok, r.error.c_str());
    QCOMPARE(o.faults.unplugAfterFrames, 120);
    QCOMPARE(o.replugAfterMs, 300);
    QCOMPARE(o.faults.replyDelayMs, 7);
    QVERIFY(o.faults.dropStartAck);
    QCOMPARE(o.faults.dropDspAck, 3);
    QCOMPARE(o.faults.refuseWrite, 16);
    QCOMPARE(o.faults.inputReportLength, std::size_t(12));
    QCOMPARE(o.inputBytes, 11); // declared as short as it is sent
    QVERIFY(o.faults.armAckSecondForm);
    QVERIFY(!o.faults.dropCompletion);
    QCOMPARE(o.firmware, std::uint16_t(4321));
    QCOMPARE(o.expectedDspLength, std::size_t(2048));
}

void UhidOptionsTest::declaredInputFollowsShortReports()
{
    UhidOptions o;
    QVERIFY(parse({"--input-report-length", "20"}, &o).ok);
    QCOMPARE(o.inputBytes, 19);
    QVERIFY(parse({"--input-report-length", "1"}, &o).ok);
    QCOMPARE(o.inputBytes, 1);
    // Given both, the descriptor says what --input-bytes says.
    QVERIFY(parse({"--input-report-length", "8", "--input-bytes", "15"}, &o).ok);
    QCOMPARE(o.inputBytes, 15);
    QCOMPARE(o.faults.inputReportLength, std::size_t(8));
}

void UhidOptionsTest::devices()
{
    UhidOptions o;
    QVERIFY(
        parse({"--ids", "1234:abCD", "--other", "0483:0526", "--other", "0001:0002", "--dump-dir", "/tmp/x"},
              &o)
            .ok);
    QCOMPARE(o.ids.vendorId, std::uint16_t(0x1234));
    QCOMPARE(o.ids.productId, std::uint16_t(0xabcd));
    QCOMPARE(o.others.size(), std::size_t(2));
    QCOMPARE(o.others[0].productId, std::uint16_t(0x0526));
    QCOMPARE(o.others[1].vendorId, std::uint16_t(1));
    QCOMPARE(o.dumpDir, std::string("/tmp/x"));
}

void UhidOptionsTest::rejects()
{
    // Each refused with a message, the options left untouched.
    const std::vector<std::vector<const char*>> rejected = {
        {"--frobnicate", "1"},   {"--firmware"},
        {"--firmware", "12x"},   {"--firmware", "65536"},
        {"--ids", "04830525"},   {"--other", "0483:zz"},
        {"--ids", "10483:0525"}, {"--input-report-length", "0"},
        {"--input-bytes", "20"}};
    for (const auto& args : rejected) {
        UhidOptions o;
        o.firmware = 77;
        const UhidParseResult r = parseUhidOptions(std::vector<std::string>(args.begin(), args.end()), &o);
        QVERIFY2(!r.ok && !r.help && !r.error.empty(), args[0]);
        QCOMPARE(o.firmware, std::uint16_t(77));
    }
}

void UhidOptionsTest::descriptorDeclaresTheReportLengths()
{
    const auto d = vendorReportDescriptor(0x80, 19, 10);
    // Vendor page, one application collection, closed at the end.
    QCOMPARE(d[0], std::uint8_t(0x06));
    QCOMPARE(d[2], std::uint8_t(0xFF));
    QCOMPARE(d.back(), std::uint8_t(0xC0));
    // Walk the short items: report id, and the count before each main item.
    int reportId = -1, count = -1, size = -1, inputBits = 0, featureBits = 0;
    for (std::size_t i = 0; i < d.size();) {
        const std::uint8_t prefix = d[i];
        const int len = (prefix & 3) == 3 ? 4 : (prefix & 3);
        QVERIFY(i + 1 + len <= d.size());
        const int value = len ? d[i + 1] : 0;
        switch (prefix & 0xFC) {
        case 0x84:
            reportId = value;
            break;
        case 0x94:
            count = value;
            break;
        case 0x74:
            size = value;
            break;
        case 0x80:
            inputBits += count * size;
            break;
        case 0xB0:
            featureBits += count * size;
            break;
        default:
            break;
        }
        i += 1 + len;
    }
    QCOMPARE(reportId, 0x80);
    QCOMPARE(inputBits, 19 * 8);
    QCOMPARE(featureBits, 10 * 8);
    const auto longer = vendorReportDescriptor(0x80, 19, 15);
    QCOMPARE(longer.size(), d.size());
    QVERIFY(longer != d);
}

QTEST_APPLESS_MAIN(UhidOptionsTest)
#include "tst_uhidoptions.moc"
