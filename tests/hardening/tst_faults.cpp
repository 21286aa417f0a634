// The fault matrix of docs/testing.md: every fault the virtual device and
// the virtual bus can inject, run through a whole upgrade on two roads. The
// window: a MainWindow on the bus, its file button and start button pressed
// as a user would, its boxes answered, its timers ticked by hand; what it
// shows and the state it is left in. The session: a cli::DeviceSession on
// the bus, the road of the cli and the station; the status it ends with.
// Every session row runs at once on one bus, as a station runs them, so a
// fault must end only its own session. A run that succeeds is also checked
// frame by frame, and on the window with its progress and its completion box
// in the row's language. A stage run with no checked image or past the end
// of a shorter one (found by fuzzing the dispatcher): tst_upgrade_engine
// stalls.
#include "support/rig.h"
#include "support/ticker.h"

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "cli/devicesession.h"
#include "cli/exitstatus.h"
#include "qtbridge/noticetext.h"
#include "widgets/progressbarcolor.h"

#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <map>

namespace {

using Ids = QList<notices::Id>;
using Id = notices::Id;
using Kind = DeviceModel::FrameKind;
// 51 DSP blocks: the last one opens no window, so only the end frame's own
// acknowledgement closes the stage.
constexpr int kDsp = 408, kArm = 1000;
const QByteArray kFile = sampleImage(kDsp, kArm, 5001);
enum Road { Window = 1, Session = 2, Both = 3 };
// Version query, start, DSP handshake, then DSP blocks 0 to 16.
constexpr int kUnplugAt = 20;
// The ARM end frame: after the query, the start, the DSP handshake, 51
// blocks, the DSP end, the ARM handshake and 125 blocks.
constexpr int kArmEndFrame = 182;
// After the completion box the process would end: nothing more was stopped.
constexpr const char* kWritten = "running arm-timer started dsp-handshake arm-handshake arm-ended";
constexpr const char* kDspStalled = "dsp-timer started dsp-handshake reader read-handle";

// What a row may change before the run: the device, the interface it is
// plugged with, the file, the session's options, the bus (window road).
struct Setup {
    DeviceModel::Faults& faults;
    DeviceModel& device;
    VirtualHidInterface& iface;
    QByteArray& file;
    cli::SessionOptions& session;
    VirtualHidBus& bus;
};

struct Row {
    const char* name;
    void (*setup)(const Setup&) = nullptr;
    int roads = Both;
    std::pair<int, int> blocks = {kDsp / 8, kArm / 8}; // DSP and ARM data frames the device got
    // The window: every box in order (the version query's included), the
    // device version it read ("none": no reply), its state afterwards
    // (stateOf) and its language.
    Ids boxes = {Id::Completion};
    const char* version = "5000";
    const char* state = kWritten;
    QLocale::Language language = QLocale::English;
    int status = cli::Success; // the session's
};

// clang-format off
const Row kRows[] = {
    {.name = "no fault"},
    {.name = "no fault, zh", .roads = Window, .language = QLocale::Chinese},
    {.name = "start never acknowledged", .setup = [](auto& s) { s.faults.dropStartAck = true; },
     .blocks = {0, 0}, .boxes = {Id::Error1}, .state = "started reader read-handle", .status = cli::Error1},
    {.name = "handshake never acknowledged", .setup = [](auto& s) { s.faults.dropDspAck = 1; },
     .blocks = {0, 0}, .boxes = {Id::Error2}, .state = kDspStalled, .status = cli::Error2},
    {.name = "second DSP window never opened", .setup = [](auto& s) { s.faults.dropDspAck = 2; },
     .blocks = {25, 0}, .boxes = {Id::Error2}, .state = kDspStalled, .status = cli::Error2},
    {.name = "DSP end frame unanswered", .setup = [](auto& s) { s.faults.dropDspEndAck = true; },
     .blocks = {kDsp / 8, 0}, .boxes = {Id::Error4},
     .state = "running started dsp-handshake reader read-handle", .status = cli::Error4},
    {.name = "ARM handshake never acknowledged", .setup = [](auto& s) { s.faults.dropArmAck = 1; },
     .blocks = {kDsp / 8, 0}, .boxes = {Id::Error5},
     .state = "started dsp-handshake arm-handshake reader read-handle", .status = cli::Error5},
    {.name = "no completion reply", .setup = [](auto& s) { s.faults.dropCompletion = true; }},
    {.name = "start frame refused", .setup = [](auto& s) { s.faults.refuseWrite = 2; },
     .blocks = {0, 0}, .boxes = {Id::Error1}, .state = "reader read-handle", .status = cli::Error1},
    {.name = "tenth write refused", .setup = [](auto& s) { s.faults.refuseWrite = 10; },
     .blocks = {6, 0}, .boxes = {Id::Error2}, .state = kDspStalled, .status = cli::Error2},
    // The window never learns of it; a session does.
    {.name = "ARM end frame refused", .setup = [](auto& s) { s.faults.refuseWrite = kArmEndFrame; },
     .state = "running arm-timer started dsp-handshake arm-handshake", .status = cli::LinkFailure},
    {.name = "every write refused", .setup = [](auto& s) { s.faults.refuseAllWrites = true; },
     .blocks = {0, 0}, .boxes = {Id::Error1}, .version = "none", .state = "reader read-handle",
     .status = cli::LinkFailure},
    {.name = "device never answers", .setup = [](auto& s) { s.iface.device = nullptr; },
     .blocks = {0, 0}, .boxes = {Id::Error1}, .version = "none", .state = "reader read-handle",
     .status = cli::NoVersionReply},
    {.name = "unplugged mid-transfer", .setup = [](auto& s) { s.faults.unplugAfterFrames = kUnplugAt; },
     .blocks = {17, 0}, .boxes = {Id::Error2}, .state = "dsp-timer started dsp-handshake removed",
     .status = cli::Error2},
    {.name = "no device notices, unplugged",
     .setup = [](auto& s) { s.faults.unplugAfterFrames = kUnplugAt, s.bus.setRegistrationFails(true); },
     .roads = Window, .blocks = {17, 0}, .boxes = {Id::Error2}, .state = kDspStalled},
    {.name = "reports with another id", .setup = [](auto& s) { s.faults.foreignReportId = 0x01; }},
    {.name = "reports with unknown codes", .setup = [](auto& s) { s.faults.unknownCode = 0x33; }},
    {.name = "bursts of reports", .setup = [](auto& s) { s.faults.burstBefore = 3; }},
    // The version reply loses its firmware number with the cut: the window
    // reads 0 and goes on, a session takes it for no reply.
    {.name = "3-byte input reports", .setup = [](auto& s) { s.faults.inputReportLength = 3; },
     .roads = Window, .version = "0"},
    {.name = "3-byte input reports", .setup = [](auto& s) { s.faults.inputReportLength = 3; },
     .roads = Session, .blocks = {0, 0}, .status = cli::NoVersionReply},
    {.name = "ARM acks as 0F 54", .setup = [](auto& s) { s.faults.armAckSecondForm = true; }},
    {.name = "replies 20 ms late", .setup = [](auto& s) { s.faults.replyDelayMs = 20; }},
    // A session is given its path and opens it without a probe.
    {.name = "probe open fails", .setup = [](auto& s) { s.iface.probeFails = true; }, .roads = Window,
     .blocks = {0, 0}, .boxes = {Id::DeviceNotFound, Id::Error1}, .version = "none", .state = ""},
    {.name = "probe open fails", .setup = [](auto& s) { s.iface.probeFails = true; }, .roads = Session},
    {.name = "read open fails", .setup = [](auto& s) { s.iface.readOpenFails = true; },
     .blocks = {0, 0}, .boxes = {Id::Error1}, .version = "none", .state = "started reader",
     .status = cli::LinkFailure},
    {.name = "write open fails", .setup = [](auto& s) { s.iface.writeOpenFails = true; },
     .blocks = {0, 0}, .boxes = {Id::WriteHandleInvalid, Id::WriteHandleInvalid, Id::Error1},
     .version = "none", .state = "reader read-handle", .status = cli::LinkFailure},
    {.name = "64-byte feature report", .setup = [](auto& s) { s.iface.featureLength = 64; }},
    // The window asks and is answered Yes; a session is allowed.
    {.name = "older file, written",
     .setup = [](auto& s) { s.device.setFirmwareNumber(5002), s.session.allowOlder = true; },
     .boxes = {Id::LowerVersion, Id::Completion}, .version = "5002"},
    {.name = "older file, not allowed", .setup = [](auto& s) { s.device.setFirmwareNumber(5002); },
     .roads = Session, .blocks = {0, 0}, .status = cli::ImageOlder},
    {.name = "the device's own version", .setup = [](auto& s) { s.device.setFirmwareNumber(5001); },
     .roads = Session, .blocks = {0, 0}, .status = cli::ImageSame},
    {.name = "another --sha256", .setup = [](auto& s) { s.session.sha256 = QByteArray(32, '\0'); },
     .roads = Session, .blocks = {0, 0}, .status = cli::ImageDigest},
    {.name = "malformed file", .setup = [](auto& s) { s.file.truncate(900); }, .blocks = {0, 0},
     .boxes = {Id::FileFormat}, .state = "reader read-handle file-button", .status = cli::FileFormat},
    // A wheel base whose firmware belongs to no wheel family, though the
    // image is newer.
    {.name = "wheel base of no family",
     .setup = [](auto& s) { s.device.setFirmwareNumber(3000), s.session.productId = 0x0524; },
     .roads = Session, .blocks = {0, 0}, .status = cli::SoftwareTypeMismatch},
};
// clang-format on

// The window and the device after a run, as words: what runs, what was
// sent, what is open, which buttons are on.
QString stateOf(const MainWindow& w, const Rig& rig)
{
    QStringList words;
    const auto note = [&](bool fact, const char* word) {
        if (fact)
            words << QLatin1String(word);
    };
    note(w.upgradeRunning, "running"), note(w.dspTimer->isActive(), "dsp-timer"),
        note(w.armTimer->isActive(), "arm-timer"), note(w.delayTimer->isActive(), "start-wait"),
        note(rig.sent(Kind::Start) > 0, "started"), note(w.dspHandshakeSent, "dsp-handshake"),
        note(w.dspEndSent, "dsp-end"), note(rig.sent(Kind::ArmHandshake) > 0, "arm-handshake"),
        note(rig.device->armEnded(), "arm-ended"), note(w.finishReceived, "finished"),
        note(w.blDeviceRemoved, "removed"), note(currentReader != nullptr, "reader"),
        note(hReadHandle != kInvalidHidHandle, "read-handle"),
        note(w.ui->TBFlush->isEnabled(), "file-button"),
        note(w.ui->toolButton_2->isEnabled(), "start-button");
    return words.join(' ');
}

// Every frame a whole upgrade writes, spelled out here byte by byte.
std::vector<std::vector<std::uint8_t>> expectedFrames(const QByteArray& file)
{
    std::vector<std::vector<std::uint8_t>> out;
    auto add = [&](const char* hex, const QByteArray& block = {}) {
        const QByteArray f = (QByteArray::fromHex(hex) + block).leftJustified(11, '\0');
        out.emplace_back(f.begin(), f.end());
    };
    add("800301"), add("800c5402"), add("800c2301");
    for (int at = 16; at < 16 + kDsp; at += 8)
        add("800d", file.mid(at, 8));
    add("800d2103"), add("800f2501");
    for (int at = 16 + kDsp; at < file.size(); at += 8)
        add("800e", file.mid(at, 8));
    add("800f0103");
    return out;
}

// The window's timers, ticked through its slots. The timers are given an
// interval that never elapses, so only the ticker ticks them. After a stage
// tick that sent nothing it waits 2 ms for the device's answer, up to 50
// ticks in a row, then ticks on at full speed towards the time-outs; the
// start wait gets up to 100 ms (a loaded machine is slow to deliver) for
// the answer to the start frame, which stops it.
Ticker windowTicker(MainWindow& w)
{
    for (QTimer* t : {w.dspTimer, w.armTimer, w.delayTimer})
        t->setInterval(3600 * 1000);
    Ticker k;
    k.running = [&w](upgrade::Timer t) {
        return (t == upgrade::Timer::Dsp   ? w.dspTimer
                : t == upgrade::Timer::Arm ? w.armTimer
                                           : w.delayTimer)
            ->isActive();
    };
    k.fire = [&w](upgrade::Timer t) {
        if (t == upgrade::Timer::Dsp)
            w.SendDSPData();
        else if (t == upgrade::Timer::Arm)
            w.SendARMData();
        else
            w.UpgradeDelayTimer();
    };
    k.progress = [&w] { return long(w.dspBlockIndex) + w.armBlockIndex; };
    k.idle = [&w](int idleTicks) {
        for (int i = 0; idleTicks == 0 && i < 20 && w.delayTimer->isActive(); ++i)
            QTest::qWait(5);
        if (idleTicks > 0 && idleTicks < 50)
            QTest::qWait(2);
        else if (idleTicks > 0)
            QCoreApplication::processEvents();
    };
    return k;
}

} // namespace

class FaultTest : public QObject {
    Q_OBJECT
private slots:
    void faultMatrix_data();
    void faultMatrix();

private:
    void window(const Row& r);
    void session(const Row& r);
    // Runs every session row at once on one bus; their devices and statuses
    // by row.
    void runSessions();
    // What every road must leave in the device.
    void checkDevice(const Row& r, const DeviceModel& device, const QByteArray& file, bool whole);
    QTemporaryDir dir;
    VirtualHidBus sessionBus;
    std::map<int, std::pair<std::shared_ptr<DeviceModel>, int>> sessions; // by row: device, status
};

void FaultTest::faultMatrix_data()
{
    QTest::addColumn<int>("road");
    QTest::addColumn<int>("row");
    for (const Row& r : kRows)
        for (const Road road : {Window, Session})
            if (r.roads & road)
                QTest::addRow("%s: %s", road == Window ? "window" : "session", r.name)
                    << int(road) << int(&r - kRows);
}

void FaultTest::faultMatrix()
{
    QFETCH(int, road);
    QFETCH(int, row);
    road == Window ? window(kRows[row]) : session(kRows[row]);
}

void FaultTest::checkDevice(const Row& r, const DeviceModel& device, const QByteArray& file, bool whole)
{
    QCOMPARE(int(device.count(Kind::DspData)), r.blocks.first);
    QCOMPARE(int(device.count(Kind::ArmData)), r.blocks.second);
    if (!whole)
        return;
    QVERIFY2(device.dspImage() == fwimage::dspImage(file), "the device does not hold the file's DSP image");
    QVERIFY2(device.armImage() == fwimage::armImage(file), "the device does not hold the file's ARM image");
    QVERIFY2(device.frames() == expectedFrames(file), "the frames differ from those spelled out");
}

void FaultTest::window(const Row& r)
{
    Rig rig(false);
    QByteArray file = kFile;
    VirtualHidInterface iface = VirtualHidBus::deviceInterface(rig.device);
    cli::SessionOptions unused;
    if (r.setup)
        r.setup({rig.device->faults(), *rig.device, iface, file, unused, rig.bus});
    rig.device->setExpectedDspLength(kDsp); // tells the end frame from a block
    rig.path = rig.bus.plug(iface);
    rig.services.language(r.language);
    MainWindow w;
    Boxes boxes;
    QTest::qWait(1100); // the version query goes out a second after start-up
    const QString path = writeFile(dir, "image.fw", file);
    ScopedServices services;
    int status = -1; // the window's exit status; -1: the process would go on
    services.exit([&](int s) { status = s; }).files([path](const OpenFileRequest&) { return path; });
    QList<int> progress;
    const QMetaObject::Connection seen = connect(w.ui->progressBarColor, &ProgressBarColor::valueChanged,
                                                 [&](double v) { progress << int(v); });
    // Picks the file, presses start, and ticks the timers until the process
    // would exit, an error box is shown, or no timer runs any more.
    w.ui->TBFlush->click();
    w.ui->toolButton_2->click();
    windowTicker(w).run([&] {
        for (int n : {1, 2, 4, 5})
            if (boxes.ids().contains(notices::numberedError(n)))
                return true;
        return status >= 0;
    });
    disconnect(seen);

    QCOMPARE(boxes.ids(), r.boxes);
    QCOMPARE(status, r.boxes.endsWith(Id::Completion) ? 0 : -1);
    QCOMPARE(w.versionReply.isEmpty() ? QString("none") : QString::number(w.deviceVersion),
             QString(r.version));
    QCOMPARE(stateOf(w, rig), QString::fromLatin1(r.state));
    const bool zh = r.language == QLocale::Chinese;
    if (QByteArray(r.version) == "5000")
        QCOMPARE(w.ui->LB_VersionTip->text(), QString(zh ? "版本信息:  所选文件版本:5001"
                                                         : "Version Message: Selected File Version:5001") +
                                                  "  设备版本:5000");
    const bool whole = QByteArray(r.state).contains("arm-ended");
    checkDevice(r, *rig.device, file, whole);
    if (!whole)
        return;
    QList<int> offsets;
    for (int at = 16; at < file.size(); at += 8)
        offsets << at;
    QCOMPARE(progress, offsets);
    QCOMPARE(w.ui->progressBarColor->getMaxValue(), double(file.size()));
    const BoxRequest& last = boxes.seen.last();
    QCOMPARE(last.form, BoxRequest::Form::Completion);
    QCOMPARE(last.title + last.text, notices::title(Id::Completion, zh) + notices::text(Id::Completion, zh));
    QCOMPARE(last.buttonText, notices::completionButton(zh));
    QVERIFY2(!last.parent, "the completion box has a parent");
    QVERIFY2(last.moved, "the completion box is not placed");
    QCOMPARE(last.position, w.frameGeometry().topLeft() + QPoint(150, 70));
}

void FaultTest::runSessions()
{
    cli::SessionTicker ticker;
    QEventLoop loop;
    int running = 0;
    for (const Row& r : kRows) {
        if (!(r.roads & Session))
            continue;
        const int row = int(&r - kRows);
        auto device = std::make_shared<DeviceModel>();
        device->setExpectedDspLength(kDsp);
        VirtualHidInterface iface = VirtualHidBus::deviceInterface(device, {}, r.name);
        QByteArray file = kFile;
        cli::SessionOptions options;
        if (r.setup)
            r.setup({device->faults(), *device, iface, file, options, sessionBus});
        cli::loadSessionImage(writeFile(dir, QString::number(row), file), &options);
        options.versionTimeoutMs = 2000;
        sessions[row] = {device, -1};
        const cli::DeviceInfo info{sessionBus.plug(iface), r.name, {}, true, {}};
        auto* s = new cli::DeviceSession(sessionBus, info, options, nullptr, ticker, &loop);
        connect(s, &cli::DeviceSession::finished, &loop, [&, row](int status) {
            sessions[row].second = status;
            if (--running == 0)
                loop.quit();
        });
        ++running;
        s->begin();
    }
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
}

void FaultTest::session(const Row& r)
{
    if (sessions.empty())
        runSessions();
    const auto& [device, status] = sessions.at(int(&r - kRows));
    QCOMPARE(status, r.status);
    checkDevice(r, *device, kFile, r.status == cli::Success);
}

QTEST_MAIN(FaultTest)
#include "tst_faults.moc"
