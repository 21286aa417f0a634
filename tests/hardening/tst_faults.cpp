// The fault matrix of the README: every fault the virtual device and the
// virtual bus can inject, run through a whole upgrade from the file button
// to the end, with what the user is shown and the state the window is left
// in. A run that succeeds is also checked frame by frame, with its progress,
// its completion box in the row's language and the link left closed. Rows
// with a `printed` text take the unattended driver's road through the same
// window instead of the buttons pressed here: its exit status, its
// --sha256 check and its check of what the device holds. A stage run with
// no checked image or past the end of a shorter one (found by fuzzing the
// dispatcher): tst_upgrade_engine stalls.
#include "support/rig.h"
#include "support/ticker.h"

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "cli/exitstatus.h"
#include "qtbridge/noticetext.h"
#include "sim/deviceverify.h"
#include "support/windowdriver.h"
#include "widgets/progressbarcolor.h"

#include <QCryptographicHash>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <cstdio>

using Kind = DeviceModel::FrameKind;

namespace {

using Ids = QList<notices::Id>;
using Faults = DeviceModel::Faults;
using Iface = VirtualHidInterface;

// The --sha256 the driver is given: none, the file's, another file's.
enum class Digest { None, Same, Other };

struct Row {
    const char* name;
    void (*setup)(Faults&, Iface&, Rig&);
    Ids ids;           // every box, the version query's included, in order
    int status;        // exit status (the window's, or the driver's), -1 when the process would go on
    int dspFrames;     // DSP data frames the device got, -1: all
    int armFrames;     // ARM data frames, -1: all
    int version;       // the device version read, -1: no version reply at all
    const char* state; // stateOf() afterwards
    QLocale::Language language = QLocale::English;
    const char* printed = nullptr; // the driver's road: a text its output holds
    Digest digest = Digest::None;
    int cut = 0; // the file cut to this many bytes
};

using notices::Id;
using namespace cli;
const Ids done{Id::Completion}, error1{Id::Error1}, error2{Id::Error2}, error4{Id::Error4},
    error5{Id::Error5}, noWrite{Id::WriteHandleInvalid, Id::WriteHandleInvalid};
const Ids lower{Id::LowerVersion}, format{Id::FileFormat}, silent;
const auto en = QLocale::English;
void none(Faults&, Iface&, Rig&) {}
// Version query, start, DSP handshake, then DSP blocks 0 to 16.
constexpr int kUnplugAt = 20;
// The ARM end frame: after the query, the start, the DSP handshake, 51
// blocks, the DSP end, the ARM handshake and 125 blocks.
constexpr int kArmEndFrame = 182;
// After the completion box the process would end: nothing more was stopped.
const char* const written = "running arm-timer started dsp-handshake arm-handshake arm-ended";

const Row kRows[] = {
    {"no fault", none, done, 0, -1, -1, 5000, written},
    {"no fault, zh", none, done, 0, -1, -1, 5000, written, QLocale::Chinese},
    {"start never acknowledged", [](auto& f, auto&, auto&) { f.dropStartAck = true; }, error1, -1, 0, 0, 5000,
     "started reader read-handle"},
    {"handshake never acknowledged", [](auto& f, auto&, auto&) { f.dropDspAck = 1; }, error2, -1, 0, 0, 5000,
     "dsp-timer started dsp-handshake reader read-handle"},
    {"second DSP window never opened", [](auto& f, auto&, auto&) { f.dropDspAck = 2; }, error2, -1, 25, 0,
     5000, "dsp-timer started dsp-handshake reader read-handle"},
    {"DSP end frame unanswered", [](auto& f, auto&, auto&) { f.dropDspEndAck = true; }, error4, -1, -1, 0,
     5000, "running started dsp-handshake reader read-handle"},
    {"ARM handshake never acknowledged", [](auto& f, auto&, auto&) { f.dropArmAck = 1; }, error5, -1, -1, 0,
     5000, "started dsp-handshake arm-handshake reader read-handle"},
    {"no completion reply", [](auto& f, auto&, auto&) { f.dropCompletion = true; }, done, 0, -1, -1, 5000,
     written},
    {"tenth write refused", [](auto& f, auto&, auto&) { f.refuseWrite = 10; }, error2, -1, 6, 0, 5000,
     "dsp-timer started dsp-handshake reader read-handle"},
    {"every write refused", [](auto& f, auto&, auto&) { f.refuseAllWrites = true; }, error1, -1, 0, 0, -1,
     "reader read-handle"},
    {"unplugged mid-transfer", [](auto& f, auto&, auto&) { f.unplugAfterFrames = kUnplugAt; }, error2, -1, 17,
     0, 5000, "dsp-timer started dsp-handshake removed"},
    {"no device notices, unplugged",
     [](auto& f, auto&, auto& rig) {
         f.unplugAfterFrames = kUnplugAt;
         rig.bus.setRegistrationFails(true);
     },
     error2, -1, 17, 0, 5000, "dsp-timer started dsp-handshake reader read-handle"},
    {"reports with another id", [](auto& f, auto&, auto&) { f.foreignReportId = 0x01; }, done, 0, -1, -1,
     5000, written},
    {"reports with unknown codes", [](auto& f, auto&, auto&) { f.unknownCode = 0x33; }, done, 0, -1, -1, 5000,
     written},
    {"bursts of reports", [](auto& f, auto&, auto&) { f.burstBefore = 3; }, done, 0, -1, -1, 5000, written},
    // The version reply loses its firmware number with the cut.
    {"3-byte input reports", [](auto& f, auto&, auto&) { f.inputReportLength = 3; }, done, 0, -1, -1, 0,
     written},
    {"ARM acks as 0F 54", [](auto& f, auto&, auto&) { f.armAckSecondForm = true; }, done, 0, -1, -1, 5000,
     written},
    {"replies 20 ms late", [](auto& f, auto&, auto&) { f.replyDelayMs = 20; }, done, 0, -1, -1, 5000,
     written},
    {"probe open fails", [](auto&, auto& d, auto&) { d.probeFails = true; }, Ids{Id::DeviceNotFound} + error1,
     -1, 0, 0, -1, ""},
    {"read open fails", [](auto&, auto& d, auto&) { d.readOpenFails = true; }, error1, -1, 0, 0, -1,
     "started reader"},
    {"write open fails", [](auto&, auto& d, auto&) { d.writeOpenFails = true; }, noWrite + error1, -1, 0, 0,
     -1, "reader read-handle"},
    {"64-byte feature report", [](auto&, auto& d, auto&) { d.featureLength = 64; }, done, 0, -1, -1, 5000,
     written},
    // The unattended driver's road.
    {"driver: written, --sha256 matches", none, done, Success, -1, -1, 5000,
     "running started dsp-handshake arm-handshake arm-ended", en, "device holds exactly", Digest::Same},
    {"driver: --sha256 differs", none, silent, ImageDigest, 0, 0, 5000, "reader read-handle file-button", en,
     "differs from --sha256", Digest::Other},
    {"driver: older file goes on", [](auto&, auto&, auto& rig) { rig.device->setFirmwareNumber(5002); },
     lower + done, Success, -1, -1, 5002, "running started dsp-handshake arm-handshake arm-ended", en,
     "device holds exactly"},
    {"driver: malformed file", none, format, FileFormat, 0, 0, 5000, "reader read-handle file-button", en,
     "notice: ", Digest::None, 900},
    {"driver: ARM end frame refused", [](auto& f, auto&, auto&) { f.refuseWrite = kArmEndFrame; }, done,
     ImageMismatch, -1, -1, 5000, "running started dsp-handshake arm-handshake", en, "(no end frame)"},
    {"driver: probe open fails", [](auto&, auto& d, auto&) { d.probeFails = true; }, silent, NoDevice, 0, 0,
     -1, "file-button", en, "no device found"},
    {"driver: no version reply", [](auto& f, auto&, auto&) { f.refuseAllWrites = true; }, silent,
     NoVersionReply, 0, 0, -1, "reader read-handle file-button", en, ""},
};

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

// What a run ended with.
struct Outcome {
    Ids ids;         // every box after the version query's, in order
    BoxRequest last; // the last of them
    int status = -1; // exit status, -1 when the process would go on
    QList<int> progress;
    QByteArray printed; // the driver's output
};

// Every frame a whole upgrade writes, spelled out here byte by byte.
std::vector<std::vector<std::uint8_t>> expectedFrames(const QByteArray& file, int dspEnd)
{
    std::vector<std::vector<std::uint8_t>> out;
    auto add = [&](const char* hex, const QByteArray& block = {}) {
        const QByteArray f = (QByteArray::fromHex(hex) + block).leftJustified(11, '\0');
        out.emplace_back(f.begin(), f.end());
    };
    add("800301"), add("800c5402"), add("800c2301");
    for (int at = 16; at < dspEnd; at += 8)
        add("800d", file.mid(at, 8));
    add("800d2103"), add("800f2501");
    for (int at = dspEnd; at < file.size(); at += 8)
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
    // Runs the row's road on `file`. By hand: picks it with the file button,
    // presses start, and ticks the timers until the process would exit, an
    // error box is shown, or no timer runs any more.
    Outcome run(MainWindow& w, const Row& r, const QByteArray& file, const DeviceModel& device);
    QTemporaryDir dir;
};

Outcome FaultTest::run(MainWindow& w, const Row& r, const QByteArray& file, const DeviceModel& device)
{
    Outcome out;
    const QString path = writeFile(dir, "image.fw", r.cut ? file.left(r.cut) : file);
    if (r.printed) {
        Options o;
        o.imagePath = path;
        o.versionTimeoutMs = 200;
        if (r.digest != Digest::None)
            o.sha256 = QCryptographicHash::hash(r.digest == Digest::Same ? file : file + 'x',
                                                QCryptographicHash::Sha256);
        std::FILE* text = o.out = std::tmpfile();
        o.verify = [&] { return verifyDevice(device, path, text); };
        Driver driver(o);
        out.status = driver.run(w);
        out.ids = driver.notices();
        std::rewind(text);
        out.printed.resize(1 << 16);
        out.printed.resize(int(std::fread(out.printed.data(), 1, size_t(out.printed.size()), text)));
        std::fclose(text);
        return out;
    }
    Boxes boxes;
    ScopedServices services;
    Ticker ticker = windowTicker(w);
    services.exit([&](int s) { out.status = s; });
    services.files([path](const OpenFileRequest&) { return path; });
    const QMetaObject::Connection progress = connect(w.ui->progressBarColor, &ProgressBarColor::valueChanged,
                                                     [&](double v) { out.progress << int(v); });
    w.ui->TBFlush->click();
    w.ui->toolButton_2->click();
    ticker.run([&] {
        for (int n : {1, 2, 4, 5})
            if (boxes.ids().contains(notices::numberedError(n)))
                return true;
        return out.status >= 0;
    });
    disconnect(progress);
    out.ids = boxes.ids();
    if (!boxes.seen.isEmpty())
        out.last = boxes.seen.last();
    return out;
}

void FaultTest::faultMatrix_data()
{
    QTest::addColumn<int>("row");
    for (const Row& r : kRows)
        QTest::newRow(r.name) << int(&r - kRows);
}

void FaultTest::faultMatrix()
{
    QFETCH(int, row);
    const Row& r = kRows[row];
    Rig rig(false);
    VirtualHidInterface desc = VirtualHidBus::deviceInterface(rig.device);
    r.setup(rig.device->faults(), desc, rig);
    rig.device->setExpectedDspLength(408); // tells the end frame from a block
    rig.path = rig.bus.plug(desc);
    rig.services.language(r.language);
    MainWindow w;
    Boxes versionBoxes; // the version query goes out a second after start-up
    QTest::qWait(1100);
    // 51 DSP blocks: the last one opens no window, so only the end frame's
    // own acknowledgement closes the stage.
    const QByteArray file = sampleImage(408, 1000, 5001);
    const Outcome out = run(w, r, file, *rig.device);

    const bool zh = r.language == QLocale::Chinese;
    QCOMPARE(versionBoxes.ids() + out.ids, r.ids);
    QCOMPARE(out.status, r.status);
    QVERIFY2(out.printed.contains(r.printed ? r.printed : ""), out.printed.constData());
    QCOMPARE(rig.sent(Kind::DspData), r.dspFrames < 0 ? std::size_t(408 / 8) : std::size_t(r.dspFrames));
    QCOMPARE(rig.sent(Kind::ArmData), r.armFrames < 0 ? std::size_t(1000 / 8) : std::size_t(r.armFrames));
    if (r.status == 0 && !r.printed) {
        QVERIFY(rig.device->dspImage() == fwimage::dspImage(file) &&
                rig.device->armImage() == fwimage::armImage(file));
        QVERIFY(rig.device->frames() == expectedFrames(file, 16 + 408));
        QList<int> offsets;
        for (int at = 16; at < file.size(); at += 8)
            offsets << at;
        QCOMPARE(out.progress, offsets);
        QCOMPARE(w.ui->progressBarColor->getMaxValue(), double(file.size()));
        QCOMPARE(int(out.last.form), int(BoxRequest::Form::Completion));
        const QString texts = notices::title(Id::Completion, zh) + notices::text(Id::Completion, zh);
        QCOMPARE(out.last.title + out.last.text + out.last.buttonText, texts + notices::completionButton(zh));
        QVERIFY(out.last.moved && !out.last.parent &&
                out.last.position == w.frameGeometry().topLeft() + QPoint(150, 70));
    }
    if (r.version == 5000 && !r.printed)
        QCOMPARE(w.ui->LB_VersionTip->text(), QString(zh ? "版本信息:  所选文件版本:5001"
                                                         : "Version Message: Selected File Version:5001") +
                                                  "  设备版本:5000");
    QCOMPARE(w.versionReply.isEmpty() ? -1 : int(w.deviceVersion), r.version);
    QCOMPARE(stateOf(w, rig), QString::fromLatin1(r.state));
}

QTEST_MAIN(FaultTest)
#include "tst_faults.moc"
