#include "dispatcher_driver.h"

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "core/filedialog.h"
#include "core/language.h"
#include "core/messagebox.h"
#include "core/processexit.h"
#include "fuzzcheck.h"
#include "image/firmwareimage.h"
#include "upgrade/frames.h"
#include "usb/backends/virtual/virtualbus.h"
#include "usb/linkstate.h"
#include "usb/usbevent.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace dispatcherfuzz {

namespace {

using Frame = std::vector<std::uint8_t>;

QString imageFile;

// DISPATCHER_TRACE=1 prints every operation and frame, for reading a finding.
bool tracing()
{
    static const bool on = qEnvironmentVariableIsSet("DISPATCHER_TRACE");
    return on;
}
QString chooserAnswer; // what the file dialog returns

// The bytes of the input, read front to back; zeros once they run out.
struct Input {
    const std::uint8_t* p;
    std::size_t n;
    bool empty() const { return n == 0; }
    std::uint8_t byte()
    {
        if (n == 0)
            return 0;
        --n;
        return *p++;
    }
};

bool sameFrame(const Frame& f, const frames::Frame& expected)
{
    return f.size() == expected.size() && std::memcmp(f.data(), expected.data(), f.size()) == 0;
}

// What the frames seen so far allow next, kept from the frames the device
// recorded and the reports the window was given.
struct Monitor {
    QByteArray image; // the window's image as last loaded
    int dspImageEnd = 0;
    bool imageValid = false; // it passes the format checks
    int dspBlocks = 0;       // blocks of each image, when it is valid
    int armBlocks = 0;

    void setImage(const QByteArray& bytes, int end)
    {
        image = bytes;
        dspImageEnd = end;
        imageValid = fwimage::checkImage(bytes) == fwimage::Check::Ok;
        dspBlocks = imageValid ? (end - 16) / 8 : -1;
        armBlocks = imageValid ? (bytes.size() - end) / 8 : -1;
    }

    std::size_t seen = 0; // frames checked so far
    int startClicks = 0;  // clicks on the start button while it was enabled
    int startFrames = 0;
    int startAcks = 0;
    bool dspHandshake = false;
    bool dspWindow = false; // a DSP acknowledgement opened a window
    int dspSent = 0;        // DSP data frames so far
    bool dspEnd = false;
    bool dspAckAfterEnd = false;
    bool armHandshake = false;
    bool armWindow = false;
    int armSent = 0;
    bool armEnd = false;
    bool forcedArmTick = false; // an ARM tick no running timer could have given
    int completions = 0;
    bool exited = false;

    void onReport(const QByteArray& r, std::uint8_t reportId)
    {
        // Taken as the device meant it whatever byte 0 of the copy says: a
        // window the window does not open only makes the checks looser.
        if (reportId != 0x80 || r.size() < 3)
            return;
        const std::uint8_t code = std::uint8_t(r[1]);
        const std::uint8_t sub = std::uint8_t(r[2]);
        if (code == 0x0C && sub == 0x55)
            ++startAcks;
        if (code == 0x0C && sub == 0x56) {
            dspWindow = true;
            if (dspEnd)
                dspAckAfterEnd = true;
        }
        if ((code == 0x0C || code == 0x0F) && sub == 0x54)
            armWindow = true;
    }

    Frame expectedData(std::uint8_t command, int offset) const
    {
        const frames::Frame f =
            command == 0x0D ? frames::dspData(image, offset) : frames::armData(image, offset);
        return Frame(f.begin(), f.end());
    }

    void check(const Frame& f, const Frame* previous)
    {
        FUZZ_CHECK(f.size() == 11 && f[0] == 0x80);
        // End frames follow the last block of their stage in the same tick.
        const bool lastWasFinalDspBlock = previous && (*previous)[1] == 0x0D && dspSent == dspBlocks;
        const bool lastWasFinalArmBlock = previous && (*previous)[1] == 0x0E && armSent == armBlocks;
        if (sameFrame(f, frames::versionQuery())) {
            return;
        }
        if (sameFrame(f, frames::start())) {
            FUZZ_CHECK(++startFrames <= startClicks);
            return;
        }
        if (sameFrame(f, frames::dspHandshake())) {
            FUZZ_CHECK(startAcks > 0 && !dspHandshake);
            dspHandshake = true;
            return;
        }
        if (sameFrame(f, frames::dspEnd()) && lastWasFinalDspBlock) {
            dspEnd = true;
            dspAckAfterEnd = false;
            dspWindow = false;
            return;
        }
        if (sameFrame(f, frames::armHandshake())) {
            // Once for each DSP end frame the device acknowledged.
            FUZZ_CHECK(dspEnd && dspAckAfterEnd);
            dspEnd = false;
            armHandshake = true;
            return;
        }
        if (sameFrame(f, frames::armEnd())) {
            FUZZ_CHECK(lastWasFinalArmBlock);
            armEnd = true;
            armWindow = false;
            return;
        }
        if (f[1] == 0x0D) {
            // From an image that passes the checks, inside a window the
            // device opened, the next block of the DSP image, never one past
            // its end. The block counter is never set back: an image picked
            // later goes on from the block where the last one stopped.
            const int at = 16 + 8 * dspSent;
            FUZZ_CHECK(imageValid && dspHandshake && dspWindow);
            FUZZ_CHECK(at + 8 <= std::min(dspImageEnd, image.size()));
            FUZZ_CHECK(f == expectedData(0x0D, at));
            if (++dspSent % 25 == 0)
                dspWindow = false;
            return;
        }
        if (f[1] == 0x0E) {
            const int at = dspImageEnd + 8 * armSent;
            FUZZ_CHECK(imageValid && armWindow);
            FUZZ_CHECK(forcedArmTick || armHandshake);
            FUZZ_CHECK(at >= 16 && at + 8 <= image.size());
            FUZZ_CHECK(f == expectedData(0x0E, at));
            if (++armSent % 25 == 0)
                armWindow = false;
            return;
        }
        FUZZ_CHECK(!"a frame of no known kind");
    }
};

struct Session {
    VirtualHidBus bus;
    std::shared_ptr<DeviceModel> device = std::make_shared<DeviceModel>();
    std::string path;
    std::unique_ptr<MainWindow> window;
    Monitor monitor;
    Input in{nullptr, 0};
    bool prefixDone = false;
    bool acceptCompletion = false;
    bool cleanWrites = true; // no write refused and the device never left
    int depth = 0;

    void sync()
    {
        // The file button replaces the image before its notices, and a box's
        // event loop may send frames from it before the click returns.
        monitor.setImage(window->imageData, window->dspImageEnd);
        const auto& recorded = device->frames();
        // Every write reached the device with the declared length.
        FUZZ_CHECK(bus.featureWrites() == device->writes());
        for (; monitor.seen < recorded.size(); ++monitor.seen) {
            const Frame* previous = monitor.seen > 0 ? &recorded[monitor.seen - 1] : nullptr;
            if (tracing()) {
                std::fprintf(stderr, "%*s  frame", depth * 2, "");
                for (std::uint8_t b : recorded[monitor.seen])
                    std::fprintf(stderr, " %02x", b);
                std::fprintf(stderr, "\n");
            }
            monitor.check(recorded[monitor.seen], previous);
        }
        if (device->writes() != int(recorded.size()) || !bus.isPlugged(path))
            cleanWrites = false;
    }

    void deliver(const QByteArray& r, std::uint8_t reportId, bool posted)
    {
        if (tracing())
            std::fprintf(stderr, "%*s  report id %02x: %s\n", depth * 2, "", reportId,
                         r.toHex(' ').constData());
        monitor.onReport(r, reportId);
        auto* event = new USBEvent;
        event->reportData = r;
        event->reportId = reportId;
        if (posted) {
            QCoreApplication::postEvent(window.get(), event);
            QCoreApplication::sendPostedEvents(window.get(), USBEventType);
        } else {
            QCoreApplication::sendEvent(window.get(), event);
            delete event;
        }
        sync();
    }

    void reply(std::uint8_t code, std::uint8_t sub)
    {
        const DeviceModel::Report r = DeviceModel::ack(code, sub);
        deliver(QByteArray(reinterpret_cast<const char*>(r.data()), int(r.size())), 0x80, false);
    }

    void tickDsp(bool forced)
    {
        if (forced || window->dspTimer->isActive())
            window->SendDSPData();
    }
    void tickArm(bool forced)
    {
        if (forced && !window->armTimer->isActive())
            monitor.forcedArmTick = true;
        if (forced || window->armTimer->isActive())
            window->SendARMData();
    }
    void tickDelay(bool forced)
    {
        if (forced || window->delayTimer->isActive())
            window->UpgradeDelayTimer();
    }

    void clickStart()
    {
        if (window->ui->toolButton_2->isEnabled())
            ++monitor.startClicks;
        window->ui->toolButton_2->click();
        sync();
    }

    // The file button, with a file of any content, a well-formed image of
    // other lengths, or the dialog cancelled.
    void pickFile()
    {
        const std::uint8_t kind = in.byte();
        QByteArray bytes;
        if (kind % 3 == 0) {
            bytes.resize(in.byte());
            for (char& c : bytes)
                c = char(in.byte());
        } else if (kind % 3 == 1) {
            const int dsp = 1 + in.byte() % 8;
            const int arm = 1 + in.byte() % 8;
            bytes = fwimage::pack(fwimage::sampleBytes(dsp * 8, 7u + kind), fwimage::sampleBytes(arm * 8, 9u),
                                  5000);
        }
        chooserAnswer = kind % 3 == 2 ? QString() : imageFile;
        if (!chooserAnswer.isEmpty()) {
            QFile f(imageFile);
            FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
        }
        window->ui->TBFlush->click();
        chooserAnswer = imageFile;
        sync();
    }

    // A real run of the upgrade up to the chosen state.
    void prefix(int stage)
    {
        if (stage >= 1) {
            window->ui->TBFlush->click();
            FUZZ_CHECK(window->ui->toolButton_2->isEnabled());
            clickStart();
            FUZZ_CHECK(window->delayTimer->isActive());
        }
        if (stage >= 2) {
            reply(0x0C, 0x55);
            FUZZ_CHECK(window->dspTimer->isActive());
        }
        if (stage >= 3) {
            while (!window->dspEndSent) {
                reply(0x0C, 0x56);
                while (window->dspMaySend && window->dspTimer->isActive())
                    window->SendDSPData();
                sync();
            }
            reply(0x0C, 0x56);
            FUZZ_CHECK(window->armTimer->isActive() && monitor.armHandshake);
        }
        if (stage >= 4) {
            while (!window->armEndSent) {
                reply(0x0C, 0x54);
                while (window->armMaySend && window->armTimer->isActive())
                    window->SendARMData();
                sync();
            }
            FUZZ_CHECK(monitor.completions == 1 && monitor.armEnd);
        }
        prefixDone = true;
    }

    void installFault(std::uint8_t kind, std::uint8_t count)
    {
        DeviceModel::Faults& faults = device->faults();
        const int n = 1 + count % 64;
        switch (kind % 4) {
        case 1:
            faults.refuseWrite = device->writes() + n;
            break;
        case 2:
            faults.unplugAfterFrames = int(device->frames().size()) + n;
            break;
        default:
            break;
        }
    }

    void operation()
    {
        const std::uint8_t op = in.byte();
        if (tracing())
            std::fprintf(stderr, "%*sop %d (byte %02x)  image %d bytes, DSP end %d, blocks %d/%d, %s%s\n",
                         depth * 2, "", op % 14, op, int(window->imageData.size()), window->dspImageEnd,
                         window->dspBlockIndex, window->armBlockIndex, window->dspEndSent ? "end sent " : "",
                         window->dspMaySend ? "window open" : "");
        switch (op % 14) {
        case 0: { // a reply the device sends
            static const std::uint8_t known[][2] = {{0x0C, 0x55}, {0x0C, 0x56}, {0x0C, 0x54}, {0x0F, 0x54},
                                                    {0x0C, 0x59}, {0x0F, 0x56}, {0x0C, 0x00}, {0x0D, 0x56}};
            const std::uint8_t which = in.byte();
            if (which % 9 == 8) {
                const DeviceModel::Report r =
                    DeviceModel::versionReply(std::uint16_t(in.byte() | in.byte() << 8));
                deliver(QByteArray(reinterpret_cast<const char*>(r.data()), int(r.size())), 0x80, op & 0x10);
            } else {
                const DeviceModel::Report r = DeviceModel::ack(known[which % 9][0], known[which % 9][1]);
                deliver(QByteArray(reinterpret_cast<const char*>(r.data()), int(r.size())), 0x80, op & 0x10);
            }
            break;
        }
        case 1: { // twenty bytes as read, report id first
            QByteArray r(kInputReportSize, '\0');
            for (int i = 0; i < kInputReportSize; ++i)
                r[i] = char(in.byte());
            deliver(r, std::uint8_t(r[0]), op & 0x10);
            break;
        }
        case 2: { // an event of odd shape: any length, any id
            const int length = in.byte() % 25;
            QByteArray r(length, '\0');
            for (int i = 0; i < length; ++i)
                r[i] = char(in.byte());
            deliver(r, in.byte(), op & 0x10);
            break;
        }
        case 3: { // the event type without a report
            QEvent plain(static_cast<QEvent::Type>(USBEventType));
            QCoreApplication::sendEvent(window.get(), &plain);
            sync();
            break;
        }
        case 4:
        case 5: {
            const int ticks = 1 + in.byte();
            for (int i = 0; i < ticks && !monitor.exited; ++i)
                tickDsp(false);
            sync();
            break;
        }
        case 6:
        case 7: {
            const int ticks = 1 + in.byte();
            for (int i = 0; i < ticks && !monitor.exited; ++i)
                tickArm(false);
            sync();
            break;
        }
        case 8: { // silence long enough for a time-out of every timer
            const int which = in.byte() % 3;
            for (int i = 0; i < frames::kAckTimeoutTicks + 1 && !monitor.exited; ++i) {
                if (which == 0)
                    tickDsp(false);
                else if (which == 1)
                    tickArm(false);
                else if (i < frames::kStartTimeoutTicks + 1)
                    tickDelay(false);
            }
            sync();
            break;
        }
        case 9:
            tickDelay(false);
            sync();
            break;
        case 10: { // a tick of a timer that is not running
            const int which = in.byte() % 3;
            if (which == 0)
                tickDsp(true);
            else if (which == 1)
                tickArm(true);
            else
                tickDelay(true);
            sync();
            break;
        }
        case 11:
            clickStart();
            break;
        case 12:
            // The event loop turns: queued device notices are handled. A
            // reader started by an arrival is stopped again at once.
            QCoreApplication::sendPostedEvents();
            if (currentReader)
                window->stopReader();
            sync();
            break;
        case 13:
            pickFile();
            break;
        }
    }

    int answerBox(const BoxRequest& box)
    {
        sync();
        if (box.form == BoxRequest::Form::Completion) {
            ++monitor.completions;
            FUZZ_CHECK(monitor.completions == 1);
            // Shown with the last ARM block, all of the image gone out.
            if (cleanWrites && monitor.imageValid)
                FUZZ_CHECK(monitor.armEnd && monitor.armSent == monitor.armBlocks);
            if (prefixDone && acceptCompletion)
                return QMessageBox::Ok;
        }
        // The box's event loop runs whatever comes next.
        if (prefixDone && depth == 0 && !in.empty() && !monitor.exited) {
            ++depth;
            operation();
            --depth;
        }
        if (box.form == BoxRequest::Form::Completion)
            return QMessageBox::Cancel;
        return box.buttons.testFlag(QMessageBox::Yes) ? int(QMessageBox::Yes) : int(QMessageBox::Ok);
    }
};

Session* current = nullptr;

} // namespace

void setUp(const char* program)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(program), nullptr};
    new QApplication(argc, argv);
    // On tmpfs when there is one: rewriting a file on disk waits for the disk.
    static QTemporaryDir scratch(
        (QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath()) +
        QStringLiteral("/fuzz-dispatcher-XXXXXX"));
    const QString dir = scratch.path();
    imageFile = dir + QStringLiteral("/image.fw");
    setBoxPresenter(
        [](const BoxRequest& box) { return current ? current->answerBox(box) : int(QMessageBox::Ok); });
    setExitHandler([](int status) {
        FUZZ_CHECK(current && status == 0 && current->monitor.completions == 1);
        current->monitor.exited = true;
    });
    chooserAnswer = imageFile;
    setOpenFileChooser([](const OpenFileRequest&) { return chooserAnswer; });
}

void run(const std::uint8_t* data, std::size_t size)
{
    Input in{data, size};
    const std::uint8_t mode = in.byte();
    const int dspBlocks = 1 + in.byte() % 64;
    const int armBlocks = 1 + in.byte() % 64;
    const std::uint8_t faultKind = in.byte();
    const std::uint8_t faultCount = in.byte();

    const QByteArray image = fwimage::pack(fwimage::sampleBytes(dspBlocks * 8, 0x5150u + dspBlocks),
                                           fwimage::sampleBytes(armBlocks * 8, 0xA0A0u + armBlocks), 5000);
    {
        QFile f(imageFile);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(image) == image.size());
    }
    setLanguageOverride((mode & 0x08) ? QLocale::Chinese : QLocale::English);

    resetLinkState();
    auto session = std::make_unique<Session>();
    Session& s = *session;
    setHidPlatform(&s.bus);
    s.path = s.bus.plug(VirtualHidBus::deviceSpec(s.device));
    s.device->setExpectedDspLength(std::size_t(dspBlocks) * 8);
    s.acceptCompletion = mode & 0x10;
    current = &s;

    s.window = std::make_unique<MainWindow>();
    FUZZ_CHECK(s.window->MyDevFound);
    // The fuzzer speaks for the device: no reader delivers its replies.
    s.window->stopReader();

    s.prefix((mode & 0x07) % 5);
    s.installFault(faultKind, faultCount);
    s.in = in;
    while (!s.in.empty() && !s.monitor.exited)
        s.operation();
    s.sync();

    s.window.reset();
    current = nullptr;
    setHidPlatform(nullptr);
    session.reset();
    resetLinkState();
    // What the window left to the event loop, objects to delete among it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

} // namespace dispatcherfuzz
