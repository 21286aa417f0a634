// The fault matrix of the README: every fault the virtual device and the
// virtual bus can inject, run through a whole upgrade from the file button
// to the end, with what the user is shown and the state the window is left
// in. A stage run with no checked image or past the end of a shorter one
// (found by fuzzing the dispatcher): tst_upgrade_engine stalls.
#include "support/rig.h"
#include "support/ticker.h"

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "upgrade/frames.h"
#include "widgets/roundcircle.h"

#include <QTimer>
#include <QToolButton>
#include <QtTest>

using Kind = DeviceModel::FrameKind;

namespace {

using Ids = QList<notices::Id>;

enum class Fault {
    None,
    DropStartAck,
    DropFirstDspAck,
    DropSecondDspAck,
    DropDspEndAck,
    DropFirstArmAck,
    DropCompletion,
    RefuseTenthWrite,
    RefuseAllWrites,
    UnplugAfter20Frames,
    ForeignReportId,
    UnknownCode,
    Burst,
    ShortInputReports,
    ArmAckSecondForm,
    ReplyDelay,
    ProbeFails,
    ReadOpenFails,
    WriteOpenFails,
    LongFeatureReport,
    NoticesNotRegistered,
};

// What a run ended with.
struct Outcome {
    Ids ids;         // every box, in order
    int status = -1; // exit status, -1 when the process would go on
};

} // namespace
Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(Ids)

class FaultTest : public QObject {
    Q_OBJECT
private slots:
    void faultMatrix_data();
    void faultMatrix();

private:
    // Picks `file` with the file button, presses start, and ticks the timers
    // by hand until the process would exit, an error box is shown, or no
    // timer runs any more.
    Outcome run(MainWindow& w, const QByteArray& file);
    QTemporaryDir dir;
};

Outcome FaultTest::run(MainWindow& w, const QByteArray& file)
{
    Outcome out;
    Boxes boxes;
    ScopedServices services;
    Ticker ticker = windowTicker(w);
    const QString path = writeFile(dir, "image.fw", file);
    services.exit([&](int s) { out.status = s; }).files([path](const OpenFileRequest&) { return path; });
    w.ui->TBFlush->click();
    w.ui->toolButton_2->click();
    ticker.run([&] {
        for (int n : {1, 2, 4, 5})
            if (boxes.ids().contains(notices::numberedError(n)))
                return true;
        return out.status >= 0;
    });
    out.ids = boxes.ids();
    return out;
}

void FaultTest::faultMatrix_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<Ids>("ids");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("dspFrames"); // DSP data frames the device got, -1: all
    QTest::addColumn<int>("armFrames");
    using notices::Id;
    const Ids done{Id::Completion};
    const Ids error1{Id::Error1}, error2{Id::Error2}, error4{Id::Error4}, error5{Id::Error5};
    QTest::newRow("no fault") << Fault::None << done << 0 << -1 << -1;
    QTest::newRow("start never acknowledged") << Fault::DropStartAck << error1 << -1 << 0 << 0;
    QTest::newRow("handshake never acknowledged") << Fault::DropFirstDspAck << error2 << -1 << 0 << 0;
    QTest::newRow("second DSP window never opened") << Fault::DropSecondDspAck << error2 << -1 << 25 << 0;
    QTest::newRow("DSP end frame unanswered") << Fault::DropDspEndAck << error4 << -1 << -1 << 0;
    QTest::newRow("ARM handshake never acknowledged") << Fault::DropFirstArmAck << error5 << -1 << -1 << 0;
    QTest::newRow("no completion reply") << Fault::DropCompletion << done << 0 << -1 << -1;
    QTest::newRow("tenth write refused") << Fault::RefuseTenthWrite << error2 << -1 << 6 << 0;
    QTest::newRow("every write refused") << Fault::RefuseAllWrites << error1 << -1 << 0 << 0;
    QTest::newRow("unplugged mid-transfer") << Fault::UnplugAfter20Frames << error2 << -1 << 17 << 0;
    QTest::newRow("reports with another id") << Fault::ForeignReportId << done << 0 << -1 << -1;
    QTest::newRow("reports with unknown codes") << Fault::UnknownCode << done << 0 << -1 << -1;
    QTest::newRow("bursts of reports") << Fault::Burst << done << 0 << -1 << -1;
    QTest::newRow("3-byte input reports") << Fault::ShortInputReports << done << 0 << -1 << -1;
    QTest::newRow("ARM acks as 0F 54") << Fault::ArmAckSecondForm << done << 0 << -1 << -1;
    QTest::newRow("replies 20 ms late") << Fault::ReplyDelay << done << 0 << -1 << -1;
    QTest::newRow("probe open fails")
        << Fault::ProbeFails << Ids{Id::DeviceNotFound, Id::Error1} << -1 << 0 << 0;
    QTest::newRow("read open fails") << Fault::ReadOpenFails << error1 << -1 << 0 << 0;
    QTest::newRow("write open fails")
        << Fault::WriteOpenFails << Ids{Id::WriteHandleInvalid, Id::WriteHandleInvalid, Id::Error1} << -1 << 0
        << 0;
    QTest::newRow("64-byte feature report") << Fault::LongFeatureReport << done << 0 << -1 << -1;
    QTest::newRow("no device notices, unplugged") << Fault::NoticesNotRegistered << error2 << -1 << 17 << 0;
}

void FaultTest::faultMatrix()
{
    QFETCH(Fault, fault);
    QFETCH(Ids, ids);
    QFETCH(int, status);
    QFETCH(int, dspFrames);
    QFETCH(int, armFrames);

    Rig rig(false);
    VirtualInterfaceSpec desc = VirtualHidBus::deviceSpec(rig.device);
    DeviceModel::Faults& f = rig.device->faults();
    switch (fault) {
    case Fault::None:
        break;
    case Fault::DropStartAck:
        f.dropStartAck = true;
        break;
    case Fault::DropFirstDspAck:
        f.dropDspAck = 1;
        break;
    case Fault::DropSecondDspAck:
        f.dropDspAck = 2;
        break;
    case Fault::DropDspEndAck:
        f.dropDspEndAck = true;
        break;
    case Fault::DropFirstArmAck:
        f.dropArmAck = 1;
        break;
    case Fault::DropCompletion:
        f.dropCompletion = true;
        break;
    case Fault::RefuseTenthWrite:
        f.refuseWrite = 10;
        break;
    case Fault::RefuseAllWrites:
        f.refuseAllWrites = true;
        break;
    case Fault::UnplugAfter20Frames:
    case Fault::NoticesNotRegistered:
        // Version query, start, DSP handshake, then DSP blocks 0 to 16.
        f.unplugAfterFrames = 20;
        rig.bus.setRegistrationFails(fault == Fault::NoticesNotRegistered);
        break;
    case Fault::ForeignReportId:
        f.foreignReportId = 0x01;
        break;
    case Fault::UnknownCode:
        f.unknownCode = 0x33;
        break;
    case Fault::Burst:
        f.burstBefore = 3;
        break;
    case Fault::ShortInputReports:
        f.inputReportLength = 3;
        break;
    case Fault::ArmAckSecondForm:
        f.armAckSecondForm = true;
        break;
    case Fault::ReplyDelay:
        f.replyDelayMs = 20;
        break;
    case Fault::ProbeFails:
        desc.probeFails = true;
        break;
    case Fault::ReadOpenFails:
        desc.readOpenFails = true;
        break;
    case Fault::WriteOpenFails:
        desc.writeOpenFails = true;
        break;
    case Fault::LongFeatureReport:
        desc.featureLength = 64;
        break;
    }
    rig.device->setExpectedDspLength(408); // tells the end frame from a block
    rig.path = rig.bus.plug(desc);
    rig.services.language(QLocale::English);
    MainWindow w;
    Boxes versionBoxes; // the version query goes out a second after start-up
    QTest::qWait(1100);
    // 51 DSP blocks: the last one opens no window, so only the end frame's
    // own acknowledgement closes the stage.
    const QByteArray file = sampleImage(408, 1000, 5001);
    const Outcome out = run(w, file);
    const Ids seen = versionBoxes.ids() + out.ids;

    QCOMPARE(seen, ids);
    QCOMPARE(out.status, status);
    const std::size_t dspAll = 408 / 8, armAll = 1000 / 8;
    QCOMPARE(rig.sent(Kind::DspData), dspFrames < 0 ? dspAll : std::size_t(dspFrames));
    QCOMPARE(rig.sent(Kind::ArmData), armFrames < 0 ? armAll : std::size_t(armFrames));
    if (status == 0) {
        QCOMPARE(bytesOf(rig.device->dspImage()), fwimage::dspImage(file));
        QCOMPARE(bytesOf(rig.device->armImage()), fwimage::armImage(file));
    }

    // The state each fault leaves behind.
    switch (fault) {
    case Fault::DropStartAck:
    case Fault::RefuseAllWrites:
    case Fault::ProbeFails:
    case Fault::ReadOpenFails:
    case Fault::WriteOpenFails:
        QVERIFY(!w.upgradeRunning && !w.delayTimer->isActive() && !w.dspHandshakeSent);
        QVERIFY(!w.ui->toolButton_2->isEnabled() && !w.ui->TBFlush->isEnabled());
        break;
    case Fault::DropFirstDspAck:
    case Fault::DropSecondDspAck:
    case Fault::RefuseTenthWrite:
        QVERIFY(!w.upgradeRunning && w.dspTimer->isActive() && !w.armTimer->isActive());
        break;
    case Fault::DropDspEndAck:
        QVERIFY(w.upgradeRunning && !w.dspTimer->isActive() && !w.dspEndSent);
        QCOMPARE(rig.sent(Kind::ArmHandshake), 0u);
        break;
    case Fault::DropFirstArmAck:
        QVERIFY(!w.upgradeRunning && !w.armTimer->isActive());
        QCOMPARE(rig.sent(Kind::ArmHandshake), 1u);
        break;
    case Fault::DropCompletion:
        QVERIFY(!w.finishReceived && rig.device->armEnded());
        break;
    case Fault::UnplugAfter20Frames:
        // The removal was noticed: reader stopped, read handle closed, red.
        QVERIFY(w.blDeviceRemoved && !currentReader && hReadHandle == kInvalidHidHandle);
        QCOMPARE(w.ui->roundCircle->getPieColor1Start(), QColor(255, 0, 0));
        QVERIFY(!w.upgradeRunning);
        break;
    case Fault::NoticesNotRegistered:
        // Nobody told the window: it still shows the device as there.
        QVERIFY(!w.blDeviceRemoved && currentReader);
        QCOMPARE(w.ui->roundCircle->getPieColor1Start(), QColor(0, 0, 255));
        break;
    case Fault::ShortInputReports:
        // The version reply lost its firmware number with the cut.
        QCOMPARE(int(w.deviceVersion), 0);
        break;
    default:
        QCOMPARE(int(w.deviceVersion), 5000);
        break;
    }
    if (fault == Fault::ProbeFails)
        QVERIFY(!w.MyDevFound);
    if (fault == Fault::RefuseAllWrites || fault == Fault::ReadOpenFails)
        QVERIFY(w.versionReply.isEmpty());
}

QTEST_MAIN(FaultTest)
#include "tst_faults.moc"
