// The uhid device program's command line and report descriptor, checked on
// the host (the program itself runs in the guest, where /dev/uhid exists).
#include "usb/backends/virtual/faulttable.h"
#include "usb/backends/virtual/uhid/uhidoptions.h"

#include <QtTest>

#include <iterator>
#include <map>
#include <sstream>
#include <tuple>

namespace {
UhidParseResult parse(const char* args, UhidOptions* out)
{
    std::istringstream in(args);
    return parseUhidOptions({std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()},
                            out);
}

QString ids(const UhidDeviceIds& d)
{
    return QString::asprintf("%04x:%04x", d.vendorId, d.productId);
}

// The options as name=value words.
QStringList words(const UhidOptions& o)
{
    QStringList others;
    for (const UhidDeviceIds& d : o.others)
        others << ids(d);
    const DeviceModel::Faults& f = o.faults;
    return QString::asprintf("ids=%s others=%s dump=%s firmware=%d dsp=%zu replug=%d in=%d feature=%d "
                             "unplug=%d delay=%d start-ack=%d dsp-ack=%d refuse=%d length=%zu arm-second=%d "
                             "completion=%d reboot=%d no-return=%d old=%d next=%d",
                             qPrintable(ids(o.ids)), qPrintable(others.join(',')), o.dumpDir.c_str(),
                             o.firmware, o.expectedDspLength, o.replugAfterMs, o.inputBytes, o.featureBytes,
                             f.unplugAfterFrames, f.replyDelayMs, f.dropStartAck, f.dropDspAck, f.refuseWrite,
                             f.inputReportLength, f.armAckSecondForm, f.dropCompletion, f.rebootMs,
                             f.noReturn, f.rebootOldVersion, o.nextFirmware)
        .split(' ');
}
} // namespace

class UhidOptionsTest : public QObject {
    Q_OBJECT
private slots:
    void parsesTheCommandLine();
    void descriptorDeclaresTheReportLengths();
};

void UhidOptionsTest::parsesTheCommandLine()
{
    // Arguments, and the words the options then hold (nullptr: refused with a
    // message, the options left untouched). Each parse starts from the
    // defaults, whatever the options held before.
    const std::vector<std::pair<const char*, const char*>> rows = {
        {"--unplug-after-frames 120 --replug-after-ms 300 --reply-delay-ms 7 --drop-start-ack --drop-dsp-ack "
         "3 "
         "--refuse-write 0x10 --input-report-length 12 --arm-ack-second-form --firmware 4321 --dsp-length "
         "2048",
         "unplug=120 replug=300 delay=7 start-ack=1 dsp-ack=3 refuse=16 length=12 arm-second=1 completion=0 "
         "firmware=4321 dsp=2048 in=11"}, // short reports are declared as short as they are sent
        {"", "ids=0483:0525 others= firmware=5000 replug=-1 in=19 feature=10 unplug=0 length=20"},
        {"--input-report-length 20", "in=19"},
        // The restart faults, from the table the simulator reads too.
        {"--reboot-ms 800 --no-return --reboot-old-version --next-firmware 5001",
         "reboot=800 no-return=1 old=1 next=5001"},
        {"--reboot-ms -1", nullptr},
        {"--unplug-after-frames", nullptr},
        {"--input-report-length 1", "in=1"},
        // Given both, the descriptor says what --input-bytes says.
        {"--input-report-length 8 --input-bytes 15", "in=15 length=8"},
        {"--ids 1234:abCD --other 0483:0526 --other 0001:0002 --dump-dir /tmp/x",
         "ids=1234:abcd others=0483:0526,0001:0002 dump=/tmp/x"},
        {"--frobnicate 1", nullptr},
        {"--firmware", nullptr},
        {"--firmware 12x", nullptr},
        {"--firmware 65536", nullptr},
        {"--ids 04830525", nullptr},
        {"--other 0483:zz", nullptr},
        {"--ids 10483:0525", nullptr},
        {"--input-report-length 0", nullptr},
        {"--input-bytes 20", nullptr},
    };
    UhidOptions o;
    for (const auto& [args, expected] : rows) {
        const QStringList before = words(o);
        const UhidParseResult r = parse(args, &o);
        if (!expected) {
            QVERIFY2(!r.ok && !r.help && !r.error.empty(), args);
            QCOMPARE(words(o), before);
            continue;
        }
        QVERIFY2(r.ok, r.error.c_str());
        for (const QString& word : QString(expected).split(' '))
            QVERIFY2(words(o).contains(word), qPrintable(QString("%1: %2").arg(args, words(o).join(' '))));
    }
    QVERIFY(parse("--help", &o).help);
    for (const FaultOption& f : deviceFaultOptions()) // every fault is offered
        QVERIFY2(uhidUsage().find(std::string("--") + f.name + ' ') != std::string::npos, f.name);
}

void UhidOptionsTest::descriptorDeclaresTheReportLengths()
{
    const std::size_t size = vendorReportDescriptor(0x80, 19, 10).size();
    for (const auto& [id, input, feature] : {std::tuple{0x80, 19, 10}, {0x80, 19, 15}, {0x42, 11, 3}}) {
        const auto d = vendorReportDescriptor(std::uint8_t(id), input, feature);
        // Vendor page, one application collection, closed at the end; the
        // counts are one byte whatever they are.
        QVERIFY(d.size() == size && d[0] == 0x06 && d[2] == 0xFF && d.back() == 0xC0);
        // Walk the short items: report id, and the count before each main item.
        std::map<int, int> last; // item tag -> its last value
        int inputBits = 0, featureBits = 0;
        for (std::size_t i = 0; i < d.size();) {
            const int len = (d[i] & 3) == 3 ? 4 : (d[i] & 3);
            QVERIFY(i + 1 + len <= d.size());
            const int tag = d[i] & 0xFC;
            last[tag] = len ? d[i + 1] : 0;
            inputBits += tag == 0x80 ? last[0x94] * last[0x74] : 0;
            featureBits += tag == 0xB0 ? last[0x94] * last[0x74] : 0;
            i += 1 + len;
        }
        QCOMPARE(last[0x84], id);
        QCOMPARE(inputBits, input * 8);
        QCOMPARE(featureBits, feature * 8);
    }
}

QTEST_APPLESS_MAIN(UhidOptionsTest)
#include "tst_uhidoptions.moc"
