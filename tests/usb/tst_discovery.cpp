// Finding and opening the device, hot-plug notices and the send path, with a
// main window on the virtual bus.
#include "app/language.h"
#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "usb/discovery.h"
#include "usb/linkstate.h"
#include "usb/usbthread.h"
#include "usb/virtual/virtualbus.h"
#include "usbtestkit.h"
#include "widgets/roundcircle.h"

#include <QtTest>

#include <memory>

using Kind = DeviceModel::FrameKind;

// The native-event hook is protected; the test calls it as Qt would.
class NativeWindow : public MainWindow {
public:
    using MainWindow::nativeEvent;
};

namespace {
const QColor kBlue(0, 0, 255, 255);
const QColor kRed(255, 0, 0, 255);

std::vector<std::uint8_t> versionQuery()
{
    std::vector<std::uint8_t> f(11, 0);
    f[0] = 0x80;
    f[1] = 0x03;
    f[2] = 0x01;
    return f;
}
} // namespace

class DiscoveryTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void idsFromPath_data();
    void idsFromPath();
    void firstMatchingInterfaceWins();
    void ignoredNotices_data();
    void ignoredNotices();
    void furtherArrivalKeepsOneReader();
    void unplugAndReplug();
    void nativeMessageReachesTheNoticeHandler();
    void sendWithoutUsableDevice_data();
    void sendWithoutUsableDevice();
    void refusedWriteLatchesAcrossReplug();
    void featureLength_data();
    void featureLength();

private:
    std::unique_ptr<MainWindow> makeWindow()
    {
        auto w = std::make_unique<MainWindow>();
        QCoreApplication::processEvents(); // the arrival notices of the plugs
        return w;
    }
    void checkIndicator(MainWindow& w, bool open)
    {
        QCOMPARE(w.ui->roundCircle->getClockWise(), open);
        QCOMPARE(w.ui->roundCircle->getPieColor1Start(), open ? kBlue : kRed);
        QCOMPARE(w.ui->roundCircle->getPieColor1End(), open ? kBlue : kRed);
    }

    std::unique_ptr<VirtualHidBus> bus;
};

void DiscoveryTest::init()
{
    resetLinkState();
    bus = std::make_unique<VirtualHidBus>();
    setHidPlatform(bus.get());
}

void DiscoveryTest::cleanup()
{
    setLanguageOverride(QLocale::AnyLanguage);
    setHidPlatform(nullptr);
    bus.reset();
}

void DiscoveryTest::idsFromPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("vid");
    QTest::addColumn<QString>("pid");
    QTest::newRow("windows") << R"(\\?\hid#VID_0483&PID_0525#7&1&0&0000#{4d1e})" << true << "0483"
                             << "0525";
    QTest::newRow("linux form") << "/dev/hidraw3?VID_0483&PID_0525" << true << "0483"
                                << "0525";
    QTest::newRow("other ids") << "hid#VID_1234&PID_ABCD#x" << true << "1234"
                               << "ABCD";
    QTest::newRow("first occurrence") << "VID_0001&PID_0002&VID_0483&PID_0525" << true << "0001"
                                      << "0002";
    QTest::newRow("lower case") << "hid#vid_0483&pid_0525#x" << false << ""
                                << "";
    QTest::newRow("no PID") << "hid#VID_0483#x" << false << ""
                            << "";
    QTest::newRow("PID at the end") << "hid#VID_0483&PID_052" << false << ""
                                    << "";
    QTest::newRow("exactly long enough") << "VID_0483PID_0525" << true << "0483"
                                         << "0525";
    QTest::newRow("empty") << "" << false << ""
                           << "";
    QTest::newRow("tag only") << "VID" << false << ""
                              << "";
}

void DiscoveryTest::idsFromPath()
{
    QFETCH(QString, path);
    QFETCH(bool, found);
    std::string vid, pid;
    QCOMPARE(idsFromDevicePath(path.toStdString(), &vid, &pid), found);
    if (found) {
        QTEST(QString::fromStdString(vid), "vid");
        QTEST(QString::fromStdString(pid), "pid");
    }
}

void DiscoveryTest::firstMatchingInterfaceWins()
{
    VirtualInterfaceSpec broken = VirtualHidBus::deviceSpec(std::make_shared<DeviceModel>());
    broken.probeFails = true;
    bus->plug(broken);
    VirtualInterfaceSpec foreign;
    foreign.vendorId = 0x046D;
    foreign.productId = 0xC31C;
    bus->plug(foreign);
    auto first = std::make_shared<DeviceModel>();
    auto second = std::make_shared<DeviceModel>();
    bus->plug(VirtualHidBus::deviceSpec(first));
    bus->plug(VirtualHidBus::deviceSpec(second));

    auto w = makeWindow();
    QVERIFY(w->MyDevFound);
    QVERIFY(hReadHandle != kInvalidHidHandle && hWriteHandle != kInvalidHidHandle);
    QCOMPARE(int(hidCaps.featureReportByteLength), 11);
    QVERIFY(currentReader && currentReader->isRunning());
    checkIndicator(*w, true);
    // Only the read and write handles stay open: probes are closed.
    QCOMPARE(bus->openHandleCount(), 2);

    auto frame = versionQuery();
    QCOMPARE(w->SendDataToUsb(frame.data()), 1);
    QCOMPARE(first->count(Kind::VersionQuery), size_t(1));
    QCOMPARE(second->count(Kind::VersionQuery), size_t(0));
}

void DiscoveryTest::ignoredNotices_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("path");
    const int arrival = int(HidNoticeKind::Arrival);
    const int removal = int(HidNoticeKind::Removal);
    QTest::newRow("other ids") << arrival << R"(\\?\hid#VID_1234&PID_0525#1)";
    QTest::newRow("other product") << arrival << R"(\\?\hid#VID_0483&PID_0524#1)";
    QTest::newRow("lower case vid/pid") << arrival << R"(\\?\hid#vid_0483&pid_0525#1)";
    QTest::newRow("no ids") << arrival << R"(\\?\hid#something)";
    QTest::newRow("removal of another device") << removal << R"(\\?\hid#VID_1234&PID_5678#1)";
}

void DiscoveryTest::ignoredNotices()
{
    QFETCH(int, kind);
    QFETCH(QString, path);
    auto dev = std::make_shared<DeviceModel>();
    const std::string real = bus->plug(VirtualHidBus::deviceSpec(dev));
    auto w = makeWindow();
    USBThread* reader = currentReader;
    const HidHandle read = hReadHandle;
    w->handleDeviceNotice(HidNoticeKind(kind), path.toStdString());
    QCoreApplication::processEvents();
    QVERIFY(!w->blDeviceArrived && !w->blDeviceRemoved);
    QCOMPARE(currentReader, reader);
    QCOMPARE(hReadHandle, read);
    QCOMPARE(dev->frames().size(), size_t(0));
    checkIndicator(*w, true);
    (void)real;
}

void DiscoveryTest::furtherArrivalKeepsOneReader()
{
    // A composite device: two interfaces with our ids, present at start-up;
    // the notices of both arrive after the window opened the first.
    auto dev = std::make_shared<DeviceModel>();
    const std::string a = bus->plug(VirtualHidBus::deviceSpec(dev));
    const std::string b = bus->plug(VirtualHidBus::deviceSpec(dev));
    auto w = makeWindow();
    USBThread* reader = currentReader;
    QVERIFY(reader);
    // Both arrival notices were queued before the window registered, so
    // deliver them by hand as the platform would have.
    w->handleDeviceNotice(HidNoticeKind::Arrival, b);
    w->handleDeviceNotice(HidNoticeKind::Arrival, a);
    QCOMPARE(currentReader, reader);
    QVERIFY(reader->isRunning());
    QCOMPARE(bus->openHandleCount(), 2);
    QTRY_COMPARE(bus->blockedReads(), 1); // one read outstanding, not two
    // The first arrival still asks for the version; the repeat does nothing.
    QCOMPARE(dev->count(Kind::VersionQuery), size_t(1));

    w->handleDeviceNotice(HidNoticeKind::Removal, a);
    QVERIFY(!currentReader);
    QCOMPARE(hReadHandle, kInvalidHidHandle);
    checkIndicator(*w, false);
    w->handleDeviceNotice(HidNoticeKind::Removal, b); // repeated kind
    QVERIFY(w->blDeviceRemoved && !w->blDeviceArrived);
    checkIndicator(*w, false);
}

void DiscoveryTest::unplugAndReplug()
{
    auto dev = std::make_shared<DeviceModel>();
    dev->setFirmwareNumber(3500);
    const std::string path = bus->plug(VirtualHidBus::deviceSpec(dev));
    auto w = makeWindow();
    ReportRecorder recorder(w.get());
    QVERIFY(w->MyDevFound);

    bus->unplug(path);
    QTRY_VERIFY(w->blDeviceRemoved);
    QVERIFY(!w->blDeviceArrived);
    checkIndicator(*w, false);
    QVERIFY(!currentReader);
    QCOMPARE(hReadHandle, kInvalidHidHandle);
    QCOMPARE(readerHandle.load(), kInvalidHidHandle);
    QCOMPARE(bus->blockedReads(), 0);
    QVERIFY(w->MyDevFound); // left as it was, like the write handle

    bus->plug(VirtualHidBus::deviceSpec(dev, path));
    QTRY_VERIFY(w->blDeviceArrived);
    checkIndicator(*w, true);
    QVERIFY(currentReader && currentReader->isRunning());
    // The version query went out at once with the arrival, and its reply
    // comes back through the new reader.
    QVERIFY(dev->count(Kind::VersionQuery) >= 1);
    QCOMPARE(dev->frames().front()[1], std::uint8_t(0x03));
    QTRY_VERIFY(!recorder.reports.isEmpty());
    QCOMPARE(int(std::uint8_t(recorder.reports[0][1])), 0x0A);
    QTRY_COMPARE(w->deviceVersion, std::uint16_t(3500));
    // The old write handle was released; read and write of the new opening stay.
    QCOMPARE(bus->openHandleCount(), 2);
}

void DiscoveryTest::nativeMessageReachesTheNoticeHandler()
{
    const std::string path = bus->plug(VirtualHidBus::deviceSpec(std::make_shared<DeviceModel>()));
    NativeWindow* w = new NativeWindow;
    std::unique_ptr<MainWindow> owner(w);
    VirtualHidBus::NativeMessage message;
    message.kind = HidNoticeKind::Removal;
    message.path = path;
    long result = 12345;
    // Messages of non-Windows types are never handed to the platform.
    QVERIFY(!w->nativeEvent("xcb_generic_event_t", &message, &result));
    QVERIFY(!w->blDeviceRemoved);
    QVERIFY(!w->nativeEvent("windows_generic_MSG", &message, &result));
    QVERIFY(w->blDeviceRemoved);
    QCOMPARE(result, 12345L);
}

void DiscoveryTest::sendWithoutUsableDevice_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<bool>("devicePresent"); // present but its write open fails
    QTest::addColumn<int>("form");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    const int zh = int(BoxRequest::Form::ChineseNotice);
    const int en = int(BoxRequest::Form::EnglishWarning);
    QTest::newRow("no device, Chinese") << int(QLocale::Chinese) << false << zh << "信息"
                                        << "设备未找到";
    QTest::newRow("no device, English") << int(QLocale::English) << false << en << "Warning"
                                        << "Equipment not found";
    QTest::newRow("no device, German") << int(QLocale::German) << false << en << "Warning"
                                       << "Equipment not found";
    QTest::newRow("no write handle, Chinese") << int(QLocale::Chinese) << true << zh << "信息"
                                              << "无效的写报告句柄，可能是打开设备时失败";
    QTest::newRow("no write handle, English") << int(QLocale::English) << true << en << "Warning"
                                              << "Failed to open device";
}

void DiscoveryTest::sendWithoutUsableDevice()
{
    QFETCH(int, language);
    QFETCH(bool, devicePresent);
    QFETCH(int, form);
    setLanguageOverride(QLocale::Language(language));
    if (devicePresent) {
        VirtualInterfaceSpec spec = VirtualHidBus::deviceSpec(std::make_shared<DeviceModel>());
        spec.writeOpenFails = true;
        bus->plug(spec);
    }
    sendInProgress = true; // a failed write open frees the latch
    auto w = makeWindow();
    QCOMPARE(w->MyDevFound, devicePresent);
    QCOMPARE(sendInProgress, !devicePresent);
    checkIndicator(*w, devicePresent);

    BoxRecorder boxes;
    auto frame = versionQuery();
    QCOMPARE(w->SendDataToUsb(frame.data()), -1);
    QCOMPARE(w->SendDataToUsb(frame.data()), -1);
    QCOMPARE(boxes.boxes.size(), 2); // once per call
    const BoxRequest& box = boxes.boxes[0];
    QCOMPARE(int(box.form), form);
    QTEST(box.title, "title");
    QTEST(box.text, "text");
    if (box.form == BoxRequest::Form::ChineseNotice) {
        QCOMPARE(box.parent, nullptr);
        QCOMPARE(box.buttonText, QStringLiteral("确 定"));
    } else {
        QCOMPARE(box.parent, w.get());
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Yes));
    }
    QCOMPARE(bus->featureWrites(), 0);
}

void DiscoveryTest::refusedWriteLatchesAcrossReplug()
{
    auto dev = std::make_shared<DeviceModel>();
    dev->faults().refuseWrite = 1;
    const std::string path = bus->plug(VirtualHidBus::deviceSpec(dev));
    auto w = makeWindow();
    BoxRecorder boxes;
    auto frame = versionQuery();
    QCOMPARE(w->SendDataToUsb(frame.data()), 0);
    QCOMPARE(w->SendDataToUsb(frame.data()), -1);
    QCOMPARE(bus->featureWrites(), 1);

    bus->unplug(path);
    QTRY_VERIFY(w->blDeviceRemoved);
    bus->plug(VirtualHidBus::deviceSpec(dev, path)); // its arrival sends a query, refused by the latch
    QTRY_VERIFY(w->blDeviceArrived);
    QVERIFY(hWriteHandle != kInvalidHidHandle);
    QCOMPARE(w->SendDataToUsb(frame.data()), -1);
    QCOMPARE(bus->featureWrites(), 1);
    QCOMPARE(dev->frames().size(), size_t(0));
    QVERIFY(boxes.boxes.isEmpty());
}

void DiscoveryTest::featureLength_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("declared 11") << 11;
    QTest::newRow("shorter") << 8;
    QTest::newRow("longer") << 16;
    QTest::newRow("much longer") << 65;
}

void DiscoveryTest::featureLength()
{
    QFETCH(int, length);
    auto dev = std::make_shared<DeviceModel>();
    VirtualInterfaceSpec spec = VirtualHidBus::deviceSpec(dev);
    spec.featureLength = std::uint16_t(length);
    bus->plug(spec);
    auto w = makeWindow();
    // The frame is exactly 11 bytes on the heap: a read past it is caught
    // by the address sanitizer.
    auto frame = std::make_unique<std::uint8_t[]>(11);
    std::fill(frame.get(), frame.get() + 11, 0);
    frame[0] = 0x80;
    frame[1] = 0x03;
    frame[2] = 0x01;
    frame[10] = 0x5A;
    // The bus refuses any length but the declared one.
    QCOMPARE(w->SendDataToUsb(frame.get()), 1);
    QCOMPARE(dev->frames().size(), size_t(1));
    const auto& seen = dev->frames()[0];
    QCOMPARE(int(seen[10]), length >= 11 ? 0x5A : 0);
    QCOMPARE(dev->count(Kind::VersionQuery), size_t(1));
}

QTEST_MAIN(DiscoveryTest)
#include "tst_discovery.moc"
