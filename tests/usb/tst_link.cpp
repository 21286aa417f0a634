// The link, with a main window on the virtual bus: finding and opening the
// device, hot-plug notices, the send path, and the reader thread (which
// reports reach the window, in what shape and order, how it waits and stops).
#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "core/language.h"
#include "core/messagebox.h"
#include "support/rig.h"
#include "usb/backends/virtual/virtualbus.h"
#include "usb/discovery.h"
#include "usb/linkstate.h"
#include "usb/usbevent.h"
#include "usb/usbthread.h"
#include "widgets/roundcircle.h"

#include <QSemaphore>
#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>
#include <tuple>
#include <utility>

using Kind = DeviceModel::FrameKind;

// The native-event hook is protected; the test calls it as Qt would.
class NativeWindow : public MainWindow {
public:
    using MainWindow::nativeEvent;
};

namespace {
// Records the reportData of every USBEvent the watched window receives, and
// lets it go on to the window's own handler.
class ReportRecorder : public QObject {
public:
    explicit ReportRecorder(QObject* watched)
        : QObject(watched)
    {
        watched->installEventFilter(this);
    }
    QList<QByteArray> reports;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == USBEventType)
            reports.append(static_cast<USBEvent*>(event)->reportData);
        return false;
    }
};

// A bus whose reads, once `hold` is set, ignore close() and end only when
// `released` gives them leave, with one report each: a platform on which
// stopping a reader times out. Each read that starts holding adds to `held`.
// With `nothing` set, every read returns at once with nothing read.
class HangingBus : public VirtualHidBus {
public:
    bool hold = false, nothing = false;
    QSemaphore held, released;
    int readInput(HidHandle handle, std::uint8_t* buffer, std::size_t capacity) override
    {
        if (nothing)
            return 0;
        if (!hold)
            return VirtualHidBus::readInput(handle, buffer, capacity);
        held.release();
        released.acquire();
        std::memset(buffer, 0, capacity);
        buffer[0] = 0x80;
        buffer[1] = 0x0A;
        return int(capacity);
    }
};

// An 11-byte version query on the heap: a read past it is caught by the
// address sanitizer.
std::unique_ptr<std::uint8_t[]> versionQuery()
{
    return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[11]{0x80, 0x03, 0x01});
}
} // namespace

class LinkTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void idsFromPath();
    void firstMatchingInterfaceWins();
    void repeatedAndForeignNotices();
    void unplugAndReplug();
    void nativeMessageReachesTheNoticeHandler();
    void sendWithoutUsableDevice();
    void refusedWriteLatchesAcrossReplug();
    void featureLength();
    void reportsArriveWholeInOrder();
    void noEventAfterStopAndClose();
    void readerSleepsWhileDisabledOrFailing();
    void readerThatOutlivesItsStop();

private:
    // Plugs `desc` (by default the device `dev`) unless told not to, and
    // opens a window on the bus.
    void open(VirtualHidInterface desc = {}, bool plug = true)
    {
        if (plug)
            path = bus->plug(desc.device ? desc : VirtualHidBus::deviceInterface(dev));
        window = std::make_unique<MainWindow>();
        recorder = new ReportRecorder(window.get());
        QCoreApplication::processEvents(); // the arrival notices of the plugs
        if (currentReader)
            QTRY_COMPARE(bus->blockedReads(), 1);
    }
    void checkIndicator(bool open)
    {
        const QColor colour = open ? QColor(0, 0, 255) : QColor(255, 0, 0);
        const RoundCircle* c = window->ui->roundCircle;
        QCOMPARE(std::tuple(c->getClockWise(), c->getPieColor1Start(), c->getPieColor1End()),
                 std::tuple(open, colour, colour));
    }

    std::unique_ptr<HangingBus> bus;
    std::unique_ptr<ScopedServices> services;
    std::shared_ptr<DeviceModel> dev;
    std::unique_ptr<MainWindow> window;
    ReportRecorder* recorder = nullptr;
    std::string path;
};

void LinkTest::init()
{
    resetLinkState();
    bus = std::make_unique<HangingBus>();
    dev = std::make_shared<DeviceModel>();
    services = std::make_unique<ScopedServices>();
    services->hid(bus.get());
}

void LinkTest::cleanup()
{
    window.reset();
    services.reset();
    bus.reset();
}

void LinkTest::idsFromPath()
{
    const struct {
        const char *path, *vid, *pid; // null: no ids found
    } rows[] = {{R"(\\?\hid#VID_0483&PID_0525#7&1&0&0000#{4d1e})", "0483", "0525"},
                {"VID_0001&PID_0002&VID_0483&PID_0525", "0001", "0002"}, // the first occurrence
                {"VID_0483PID_0525", "0483", "0525"},                    // exactly long enough
                {"hid#vid_0483&pid_0525#x", nullptr, nullptr},           // lower case
                {"hid#VID_0483&PID_052", nullptr, nullptr}};
    for (const auto& r : rows) {
        std::string vid, pid;
        QCOMPARE(idsFromDevicePath(r.path, &vid, &pid), r.vid != nullptr);
        if (r.vid)
            QVERIFY2(vid == r.vid && pid == r.pid, r.path);
    }
}

void LinkTest::firstMatchingInterfaceWins()
{
    VirtualHidInterface broken = VirtualHidBus::deviceInterface(std::make_shared<DeviceModel>());
    broken.probeFails = true;
    bus->plug(broken);
    VirtualHidInterface foreign;
    foreign.vendorId = 0x046D;
    foreign.productId = 0xC31C;
    bus->plug(foreign);
    auto second = std::make_shared<DeviceModel>();
    path = bus->plug(VirtualHidBus::deviceInterface(dev));
    bus->plug(VirtualHidBus::deviceInterface(second));
    open({}, false);
    QVERIFY(window->MyDevFound && hReadHandle != kInvalidHidHandle && hWriteHandle != kInvalidHidHandle);
    QCOMPARE(int(hidCaps.featureReportByteLength), 11);
    QVERIFY(currentReader && currentReader->isRunning());
    checkIndicator(true);
    // Only the read and write handles stay open: probes are closed.
    QCOMPARE(bus->openHandleCount(), 2);
    QCOMPARE(window->SendDataToUsb(versionQuery().get()), 1);
    QCOMPARE(std::pair(dev->count(Kind::VersionQuery), second->count(Kind::VersionQuery)),
             std::pair(size_t(1), size_t(0)));
}

void LinkTest::repeatedAndForeignNotices()
{
    // A composite device: two interfaces with our ids, present at start-up;
    // both arrival notices were queued before the window registered, so they
    // are delivered by hand as the platform would.
    const std::string a = bus->plug(VirtualHidBus::deviceInterface(dev));
    open();
    const std::string b = path;
    USBThread* reader = currentReader;
    const HidHandle read = hReadHandle;
    const std::pair<HidNoticeKind, std::string> notices[] = {
        {HidNoticeKind::Arrival, R"(\\?\hid#VID_1234&PID_0525#1)"},
        {HidNoticeKind::Arrival, R"(\\?\hid#VID_0483&PID_0524#1)"},
        {HidNoticeKind::Arrival, R"(\\?\hid#vid_0483&pid_0525#1)"},
        {HidNoticeKind::Arrival, R"(\\?\hid#something)"},
        {HidNoticeKind::Removal, R"(\\?\hid#VID_1234&PID_5678#1)"},
        {HidNoticeKind::Arrival, b},
        {HidNoticeKind::Arrival, a}};
    for (const auto& [kind, noticePath] : notices) {
        window->handleDeviceNotice(kind, noticePath);
        QCoreApplication::processEvents();
        const bool ours = noticePath == a || noticePath == b;
        QVERIFY2(ours || (!window->blDeviceArrived && !window->blDeviceRemoved), noticePath.c_str());
        QVERIFY(currentReader == reader && hReadHandle == read && reader->isRunning());
        checkIndicator(true);
    }
    QCOMPARE(bus->openHandleCount(), 2);
    QTRY_COMPARE(bus->blockedReads(), 1); // one read outstanding, not two
    // The first arrival asked for the version; none of the notices did.
    QCOMPARE(dev->count(Kind::VersionQuery), size_t(1));

    window->handleDeviceNotice(HidNoticeKind::Removal, a);
    QVERIFY(!currentReader && hReadHandle == kInvalidHidHandle);
    checkIndicator(false);
    window->handleDeviceNotice(HidNoticeKind::Removal, b); // repeated kind
    QVERIFY(window->blDeviceRemoved && !window->blDeviceArrived);
    checkIndicator(false);
}

void LinkTest::unplugAndReplug()
{
    dev->setFirmwareNumber(3500);
    open();
    QVERIFY(window->MyDevFound);
    bus->unplug(path);
    QTRY_VERIFY(window->blDeviceRemoved);
    QVERIFY(!window->blDeviceArrived && !currentReader);
    checkIndicator(false);
    QCOMPARE(std::tuple(hReadHandle, readerHandle.load(), bus->blockedReads()),
             std::tuple(kInvalidHidHandle, kInvalidHidHandle, 0));
    QVERIFY(window->MyDevFound); // left as it was, like the write handle

    bus->plug(VirtualHidBus::deviceInterface(dev, path));
    QTRY_VERIFY(window->blDeviceArrived);
    checkIndicator(true);
    QVERIFY(currentReader && currentReader->isRunning());
    // The version query went out at once with the arrival, and its reply
    // comes back through the new reader.
    QVERIFY(dev->count(Kind::VersionQuery) >= 1);
    QCOMPARE(dev->frames().front()[1], std::uint8_t(0x03));
    QTRY_VERIFY(!recorder->reports.isEmpty());
    QCOMPARE(recorder->reports[0][1], '\x0A');
    QTRY_COMPARE(window->deviceVersion, std::uint16_t(3500));
    // The old write handle was released; read and write of the new opening stay.
    QCOMPARE(bus->openHandleCount(), 2);
}

void LinkTest::nativeMessageReachesTheNoticeHandler()
{
    path = bus->plug(VirtualHidBus::deviceInterface(dev));
    auto* w = new NativeWindow;
    window.reset(w);
    VirtualHidBus::NativeMessage message{VirtualHidBus::kNativeMagic, HidNoticeKind::Removal, path};
    long result = 12345;
    // Messages of non-Windows types are never handed to the platform.
    QVERIFY(!w->nativeEvent("xcb_generic_event_t", &message, &result));
    QVERIFY(!w->blDeviceRemoved);
    QVERIFY(!w->nativeEvent("windows_generic_MSG", &message, &result));
    QVERIFY(w->blDeviceRemoved);
    QCOMPARE(result, 12345L);
}

void LinkTest::sendWithoutUsableDevice()
{
    // No device, or one whose write open fails: every send is refused with
    // the notice, in the language's form, and nothing is written.
    const struct {
        QLocale::Language language;
        bool devicePresent;
        notices::Id notice;
    } rows[] = {{QLocale::Chinese, false, notices::Id::DeviceNotFound},
                {QLocale::English, true, notices::Id::WriteHandleInvalid}};
    for (const auto& r : rows) {
        cleanup();
        init();
        services->language(r.language);
        VirtualHidInterface desc = VirtualHidBus::deviceInterface(dev);
        desc.writeOpenFails = true;
        sendInProgress = true; // a failed write open frees the latch
        open(desc, r.devicePresent);
        QCOMPARE(std::pair(window->MyDevFound, sendInProgress), std::pair(r.devicePresent, !r.devicePresent));
        checkIndicator(r.devicePresent);
        Boxes boxes;
        QCOMPARE(window->SendDataToUsb(versionQuery().get()), -1);
        QCOMPARE(window->SendDataToUsb(versionQuery().get()), -1);
        QCOMPARE(boxes.ids(), QList<notices::Id>({r.notice, r.notice})); // once per call
        const BoxRequest& box = boxes.seen[0];
        const bool zh = r.language == QLocale::Chinese;
        QCOMPARE(box.form, zh ? BoxRequest::Form::ChineseNotice : BoxRequest::Form::EnglishWarning);
        QCOMPARE(box.parent, zh ? nullptr : window.get());
        QVERIFY(zh ? box.buttonText == QStringLiteral("确 定") : box.buttons == QMessageBox::Yes);
        QCOMPARE(bus->featureWrites(), 0);
    }
}

void LinkTest::refusedWriteLatchesAcrossReplug()
{
    dev->faults().refuseWrite = 1;
    open();
    Boxes boxes;
    QCOMPARE(window->SendDataToUsb(versionQuery().get()), 0);
    QCOMPARE(window->SendDataToUsb(versionQuery().get()), -1);
    QCOMPARE(bus->featureWrites(), 1);
    bus->unplug(path);
    QTRY_VERIFY(window->blDeviceRemoved);
    bus->plug(VirtualHidBus::deviceInterface(dev, path)); // its arrival's query is dropped by the latch
    QTRY_VERIFY(window->blDeviceArrived);
    QVERIFY(hWriteHandle != kInvalidHidHandle);
    QCOMPARE(window->SendDataToUsb(versionQuery().get()), -1);
    QCOMPARE(std::tuple(bus->featureWrites(), dev->frames().size(), boxes.seen.size()),
             std::tuple(1, size_t(0), 0));
}

void LinkTest::featureLength()
{
    // The bus refuses any length but the declared one; the frame is 11 bytes
    // whatever the declared length is, read no further than its end.
    for (int length : {11, 8, 16, 65}) {
        cleanup();
        init();
        VirtualHidInterface desc = VirtualHidBus::deviceInterface(dev);
        desc.featureLength = std::uint16_t(length);
        open(desc);
        auto frame = versionQuery();
        frame[10] = 0x5A;
        QCOMPARE(window->SendDataToUsb(frame.get()), 1);
        QCOMPARE(dev->count(Kind::VersionQuery), size_t(1));
        QCOMPARE(int(dev->frames()[0][10]), length >= 11 ? 0x5A : 0);
    }
}

void LinkTest::reportsArriveWholeInOrder()
{
    // Only report id 0x80 arrives, zero-filled to 20 bytes, in order. A
    // device's own bursts, reports of another id and late replies through a
    // whole upgrade: tst_hardening_faults.
    open();
    bus->inject(path, {{0x01, 0x0C, 0x55}, {0x00, 0x0A}, {0x7F}, {0x81, 0x0C, 0x55}});
    std::vector<DeviceModel::Report> burst;
    for (int i = 0; i < 200; ++i) {
        DeviceModel::Report r(1 + i % 20, std::uint8_t(i)); // 1..20 bytes
        r[0] = 0x80;
        burst.push_back(r);
    }
    bus->inject(path, burst);
    QTRY_COMPARE(recorder->reports.size(), 200);
    for (int i = 0; i < 200; ++i)
        QCOMPARE(
            recorder->reports[i],
            QByteArray(reinterpret_cast<const char*>(burst[i].data()), 1 + i % 20).leftJustified(20, '\0'));
}

void LinkTest::noEventAfterStopAndClose()
{
    open();
    USBThread* reader = currentReader;
    // The window's own order: stop the reader, then close the read handle.
    reader->StopOrStart(false);
    bus->close(std::exchange(hReadHandle, kInvalidHidHandle));
    QVERIFY(reader->wait(5000));
    const int reads = reader->readsDone.load();
    bus->inject(path, {{0x80, 0x0C, 0x55}});
    QTest::qWait(50);
    QCOMPARE(std::tuple(recorder->reports.size(), reader->readsDone.load(), bus->blockedReads()),
             std::tuple(0, reads, 0));
}

void LinkTest::readerSleepsWhileDisabledOrFailing()
{
    // Other ids, so the window starts no reader and leaves the interface to
    // one made by hand: for an invalid handle and disabled, it reads nothing.
    VirtualHidInterface desc = VirtualHidBus::deviceInterface(dev);
    desc.vendorId = 0x1234;
    open(desc);
    QVERIFY(!currentReader);
    USBThread reader(window.get(), kInvalidHidHandle, false, nullptr);
    reader.StopOrStart(true);
    readerEnabled.store(false);
    reader.start();
    QTest::qWait(100);
    QCOMPARE(reader.readsDone.load(), 0);
    const HidHandle h = bus->openRead(path);
    reader.Slot_init(window.get(), h, true);
    QTRY_COMPARE(bus->blockedReads(), 1);
    // Pulled out, the removal notice not handled yet: reads fail, and the
    // reader backs off instead of failing in a loop.
    bus->unplug(path);
    QThread::msleep(500);
    QVERIFY2(reader.readsDone.load() <= 2 + 500 / USBThread::kRetryMs,
             qPrintable(QString::number(reader.readsDone.load())));
    // A read that returns with nothing read is backed off from alike.
    bus->nothing = true;
    const int reads = reader.readsDone.load();
    QThread::msleep(500);
    QVERIFY2(reader.readsDone.load() - reads <= 2 + 500 / USBThread::kRetryMs,
             qPrintable(QString::number(reader.readsDone.load() - reads)));
    reader.StopOrStart(false);
    QVERIFY(reader.wait(5000));
    bus->close(h);
}

void LinkTest::readerThatOutlivesItsStop()
{
    // The read ignores the close, so stopReader gives up waiting; the read
    // then ends, with a report, just after the wait failed and before the
    // window goes. The reader must post nothing to the window and must be
    // deleted once its thread ends.
    path = bus->plug(VirtualHidBus::deviceInterface(dev));
    bus->hold = true;
    window = std::make_unique<MainWindow>();
    recorder = new ReportRecorder(window.get());
    QPointer<USBThread> reader = currentReader;
    QVERIFY(reader && bus->held.tryAcquire(1, 5000));
    static std::function<void()> onGiveUp;
    onGiveUp = [&] {
        bus->released.release(100); // this read and any that follows
        QVERIFY(reader->wait(5000));
    };
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
            if (m.contains(QLatin1String("did not stop")) && onGiveUp)
                std::exchange(onGiveUp, nullptr)();
        });
    window->stopReader();
    qInstallMessageHandler(previous);
    QVERIFY(!onGiveUp); // the wait did time out
    QVERIFY(!currentReader);
    QVERIFY(reader && !reader->parent()); // not the window's any more
    QCoreApplication::processEvents();
    QVERIFY(recorder->reports.isEmpty()); // the late report never reached the window
    window.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTRY_VERIFY(reader.isNull());
}

QTEST_MAIN(LinkTest)
#include "tst_link.moc"
