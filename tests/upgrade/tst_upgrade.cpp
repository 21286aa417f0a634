// Whole upgrades on the virtual device through the main window, and the
// ways an upgrade stops: the numbered errors, the handshake guard, a refused
// write.
#include "harness.h"

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "upgrade/frames.h"
#include "widgets/progressbarcolor.h"

#include <QTimer>
#include <QToolButton>
#include <QtTest>

using Kind = DeviceModel::FrameKind;
using Frames = std::vector<std::vector<std::uint8_t>>;

namespace {
constexpr int kNoTicks = 3600 * 1000; // a timer interval that never elapses in a test

void add(Frames& out, const frames::Frame& f)
{
    out.emplace_back(f.begin(), f.end());
}

// Every frame a complete upgrade of `file` writes, in order.
Frames expectedFrames(const QByteArray& file)
{
    Frames out;
    add(out, frames::versionQuery());
    add(out, frames::start());
    add(out, frames::dspHandshake());
    const int dspEnd = 16 + fwimage::dspImage(file).size();
    for (int at = 16; at < dspEnd; at += 8)
        add(out, frames::dspData(file, at));
    add(out, frames::dspEnd());
    add(out, frames::armHandshake());
    for (int at = dspEnd; at < file.size(); at += 8)
        add(out, frames::armData(file, at));
    add(out, frames::armEnd());
    return out;
}

QList<int> offsets(int from, int to)
{
    QList<int> out;
    for (int at = from; at < to; at += 8)
        out << at;
    return out;
}
} // namespace

class UpgradeTest : public QObject {
    Q_OBJECT
private slots:
    void wholeUpgradeOnTimers_data();
    void wholeUpgradeOnTimers();
    void largeImageTickByTick();
    void stageTimeouts_data();
    void stageTimeouts();
    void startTimeoutAndLateAcknowledgement();
    void handshakeGuardAgainstNestedStartAck();
    void refusedWriteRunsIntoTheTimeout();

private:
    // Picks `file` through the file button and presses the start button.
    void start(MainWindow& w, const QByteArray& file);
    QTemporaryDir dir;
};

void UpgradeTest::start(MainWindow& w, const QByteArray& file)
{
    const QString path = writeFile(dir, "image.fw", file);
    setOpenFileChooser([path](const OpenFileRequest&) { return path; });
    w.ui->TBFlush->click();
    QVERIFY(w.ui->toolButton_2->isEnabled());
    w.ui->toolButton_2->click();
}

void UpgradeTest::wholeUpgradeOnTimers_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("button");
    QTest::newRow("en") << int(QLocale::English) << "information"
                        << "Ok";
    QTest::newRow("zh") << int(QLocale::Chinese) << "信息"
                        << "确定";
}

void UpgradeTest::wholeUpgradeOnTimers()
{
    QFETCH(int, language);
    QFETCH(QString, title);
    QFETCH(QString, button);
    Rig rig;
    setLanguageOverride(QLocale::Language(language));
    MainWindow w;
    w.move(100, 60);
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(!w.versionReply.isEmpty(), 3000);

    QList<int> progress;
    connect(w.ui->progressBarColor, &ProgressBarColor::valueChanged, [&](double v) { progress << int(v); });
    int status = -1;
    bool linkClosedAtExit = false;
    QEventLoop* running = nullptr;
    setExitHandler([&](int s) {
        status = s;
        if (running)
            running->quit();
        linkClosedAtExit = !currentReader && hReadHandle == kInvalidHidHandle;
    });
    Boxes boxes;
    const QByteArray file = sampleImage(400, 1000, 5001);
    // A plain event loop: QTRY's polling would sleep between timer ticks.
    QEventLoop loop;
    running = &loop;
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    start(w, file);
    if (status < 0)
        loop.exec();
    QCOMPARE(status, 0);
    w.armTimer->stop();

    QCOMPARE(boxes.seen.size(), 1);
    const BoxRequest& box = boxes.seen[0];
    QCOMPARE(int(box.form), int(BoxRequest::Form::Completion));
    QCOMPARE(box.title, title);
    QCOMPARE(box.buttonText, button);
    QCOMPARE(box.position, w.frameGeometry().topLeft() + QPoint(150, 70));
    QVERIFY(linkClosedAtExit);
    QCOMPARE(bytesOf(rig.device->dspImage()), fwimage::dspImage(file));
    QCOMPARE(bytesOf(rig.device->armImage()), fwimage::armImage(file));
    QVERIFY(rig.device->frames() == expectedFrames(file));
    QCOMPARE(progress, offsets(16, file.size()));
}

void UpgradeTest::largeImageTickByTick()
{
    // 256 KiB at one frame per 2 ms tick would take over a minute; here the
    // test calls the tick slots itself and waits only for the device.
    Rig rig;
    setLanguageOverride(QLocale::English);
    MainWindow w;
    QTRY_VERIFY_WITH_TIMEOUT(!w.versionReply.isEmpty(), 3000);
    w.dspTimer->setInterval(kNoTicks);
    w.armTimer->setInterval(kNoTicks);
    int status = -1;
    setExitHandler([&](int s) { status = s; });
    Boxes boxes;
    int lastProgress = 0;
    connect(w.ui->progressBarColor, &ProgressBarColor::valueChanged,
            [&](double v) { lastProgress = int(v); });
    const QByteArray file = sampleImage(64 * 1024, 192 * 1024, 5001);
    start(w, file);

    bool stuck = false;
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [&] { stuck = true; });
    guard.start(60000);
    QList<int> windows{0};
    while (status < 0 && !stuck) {
        const int before = w.dspBlockIndex + w.armBlockIndex;
        if (w.dspTimer->isActive())
            w.SendDSPData();
        else if (w.armTimer->isActive())
            w.SendARMData();
        if (w.dspBlockIndex + w.armBlockIndex != before) {
            ++windows.last();
            continue;
        }
        if (windows.last() != 0)
            windows << 0;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    QVERIFY(!stuck);
    QCOMPARE(status, 0);
    QCOMPARE(boxes.texts(), QStringList{"Update Complete!\nClick OK to close the software!"});
    QCOMPARE(bytesOf(rig.device->dspImage()), fwimage::dspImage(file));
    QCOMPARE(bytesOf(rig.device->armImage()), fwimage::armImage(file));
    QVERIFY(rig.device->frames() == expectedFrames(file));
    QCOMPARE(lastProgress, file.size() - 8);
    // 8192 DSP blocks: 327 windows of 25 and one of 17; 24576 ARM blocks:
    // 983 windows of 25 and one of 1.
    windows.removeAll(0);
    QList<int> expected;
    for (int i = 0; i < 327; ++i)
        expected << 25;
    expected << 17;
    for (int i = 0; i < 983; ++i)
        expected << 25;
    expected << 1;
    QCOMPARE(windows, expected);
}

void UpgradeTest::stageTimeouts_data()
{
    QTest::addColumn<bool>("arm");
    QTest::addColumn<bool>("endSent");
    QTest::addColumn<bool>("finish");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("timerAfter");
    QTest::addColumn<bool>("runningAfter");
    QTest::newRow("DSP window never acknowledged") << false << false << false << 2 << true << false;
    QTest::newRow("DSP end frame unanswered") << false << true << false << 4 << false << true;
    QTest::newRow("DSP end, completion reply seen") << false << true << true << 2 << true << false;
    QTest::newRow("ARM window never acknowledged") << true << false << false << 5 << false << false;
    QTest::newRow("ARM end frame unanswered") << true << true << false << 4 << false << true;
    QTest::newRow("ARM end, completion reply seen") << true << true << true << 5 << false << false;
}

void UpgradeTest::stageTimeouts()
{
    QFETCH(bool, arm);
    QFETCH(bool, endSent);
    QFETCH(bool, finish);
    QFETCH(int, error);
    QFETCH(bool, timerAfter);
    QFETCH(bool, runningAfter);
    Rig rig(false);
    setLanguageOverride(QLocale::English);
    MainWindow w;
    Boxes boxes;
    QTimer* timer = arm ? w.armTimer : w.dspTimer;
    timer->setInterval(kNoTicks);
    timer->start();
    w.upgradeRunning = true;
    (arm ? w.armEndSent : w.dspEndSent) = endSent;
    w.finishReceived = finish;
    auto tick = [&] { return arm ? w.SendARMData() : w.SendDSPData(); };
    for (int i = 1; i < frames::kAckTimeoutTicks; ++i)
        QCOMPARE(tick(), 0);
    QVERIFY(boxes.seen.isEmpty());
    QCOMPARE(tick(), -1);
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Error %1").arg(error)});
    QCOMPARE(timer->isActive(), timerAfter);
    QCOMPARE(w.upgradeRunning, runningAfter);
    QCOMPARE(arm ? w.armEndSent : w.dspEndSent, endSent && error != 4);
    if (!runningAfter)
        QCOMPARE(tick(), -1);
}

void UpgradeTest::startTimeoutAndLateAcknowledgement()
{
    Rig rig;
    rig.device->faults().dropStartAck = true;
    setLanguageOverride(QLocale::English);
    MainWindow w;
    w.delayTimer->setInterval(kNoTicks);
    w.dspTimer->setInterval(kNoTicks);
    Boxes boxes;
    start(w, sampleImage(400, 1000, 5001));
    QVERIFY(w.delayTimer->isActive());
    QVERIFY(!w.ui->toolButton_2->isEnabled() && !w.ui->TBFlush->isEnabled());
    for (int i = 1; i < 10; ++i)
        w.UpgradeDelayTimer();
    QVERIFY(boxes.seen.isEmpty());
    w.UpgradeDelayTimer();
    QCOMPARE(boxes.texts(), QStringList{"Error 1"});
    QVERIFY(!w.delayTimer->isActive());
    QCOMPARE(int(w.startWaitTicks), 0);

    // The device answers after all: the DSP stage starts.
    rig.bus.inject(rig.path, {DeviceModel::ack(0x0C, 0x55)});
    QTRY_VERIFY(w.upgradeRunning);
    QVERIFY(w.dspTimer->isActive());
    QCOMPARE(rig.sent(Kind::DspHandshake), 1u);

    // An acknowledgement on the ninth tick ends the wait without an error.
    w.delayTimer->start();
    for (int i = 1; i < 10; ++i)
        w.UpgradeDelayTimer();
    deliver(&w, "800c55");
    QVERIFY(!w.delayTimer->isActive());
    QCOMPARE(int(w.startWaitTicks), 0);
    QCOMPARE(boxes.seen.size(), 1);
}

void UpgradeTest::handshakeGuardAgainstNestedStartAck()
{
    // The handshake's send opens a box (no usable write handle); while it is
    // open the device sends another start acknowledgement.
    Rig rig;
    setLanguageOverride(QLocale::English);
    MainWindow w;
    w.dspTimer->setInterval(kNoTicks);
    const HidHandle writeHandle = hWriteHandle;
    hWriteHandle = kInvalidHidHandle;
    Boxes boxes;
    bool nestedAckHandled = false;
    boxes.hook = [&](const BoxRequest&) {
        rig.bus.inject(rig.path, {DeviceModel::ack(0x0C, 0x55)});
        QTRY_VERIFY(w.dspTimer->isActive());
        nestedAckHandled = true;
    };
    deliver(&w, "800c55");
    hWriteHandle = writeHandle;
    QVERIFY(nestedAckHandled);
    QCOMPARE(boxes.texts(), QStringList{"Failed to open device"}); // one handshake, one box
    QVERIFY(w.handshakeGuard && w.dspHandshakeSent && w.upgradeRunning && w.dspTimer->isActive());
}

void UpgradeTest::refusedWriteRunsIntoTheTimeout()
{
    // Writes: version query, start, DSP handshake, then data; the tenth
    // write (DSP block 6) is refused and the link drops every later frame.
    Rig rig;
    rig.device->faults().refuseWrite = 10;
    setLanguageOverride(QLocale::English);
    MainWindow w;
    QTRY_VERIFY_WITH_TIMEOUT(!w.versionReply.isEmpty(), 3000);
    Boxes boxes;
    start(w, sampleImage(400, 1000, 5001));
    QTRY_COMPARE(w.dspBlockIndex, 25);
    w.dspTimer->stop();
    QVERIFY(sendInProgress);
    QCOMPARE(rig.sent(Kind::DspData), 6u);
    while (w.SendDSPData() == 0) {
    }
    QCOMPARE(boxes.texts(), QStringList{"Error 2"});
    QCOMPARE(rig.sent(Kind::DspData), 6u);
    QCOMPARE(rig.device->writes(), 10);
}

QTEST_MAIN(UpgradeTest)
#include "tst_upgrade.moc"
