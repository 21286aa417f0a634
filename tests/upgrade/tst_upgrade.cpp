// Whole upgrades on the virtual device through the main window, and the
// ways an upgrade stops: the numbered errors and their notices in both
// languages. The engine alone (windows, stalls, re-entry): tst_upgrade_engine;
// a refused write: tst_hardening_faults faultMatrix(tenth write refused).
#include "harness.h"

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "upgrade/frames.h"
#include "widgets/progressbarcolor.h"

#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <tuple>

using Kind = DeviceModel::FrameKind;

namespace {
constexpr int kNoTicks = 3600 * 1000; // a timer interval that never elapses in a test

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

struct Stall {
    bool arm, endSent, finish;
    int error;
    bool timerAfter, runningAfter;
};
struct Run {
    int language, dsp, arm;
    QString title, button;
};
} // namespace
Q_DECLARE_METATYPE(Run)
Q_DECLARE_METATYPE(Stall)

class UpgradeTest : public QObject {
    Q_OBJECT
private slots:
    void wholeUpgradeOnTimers_data();
    void wholeUpgradeOnTimers();
    void stageTimeouts_data();
    void stageTimeouts();
    void startTimeoutAndLateAcknowledgement();

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
    QTest::addColumn<Run>("run");
    QTest::newRow("en") << Run{QLocale::English, 400, 1000, "information", "Ok"};
    QTest::newRow("zh") << Run{QLocale::Chinese, 400, 1000, "信息", "确定"};
}

void UpgradeTest::wholeUpgradeOnTimers()
{
    QFETCH(Run, run);
    Rig rig;
    setLanguageOverride(QLocale::Language(run.language));
    MainWindow w;
    w.move(100, 60);
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(!w.versionReply.isEmpty(), 3000);
    QList<int> progress;
    connect(w.ui->progressBarColor, &ProgressBarColor::valueChanged, [&](double v) { progress << int(v); });
    int status = -1;
    bool linkClosedAtExit = false;
    QEventLoop loop; // a plain event loop: QTRY's polling would sleep between ticks
    setExitHandler([&](int s) {
        status = s;
        loop.quit();
        linkClosedAtExit = !currentReader && hReadHandle == kInvalidHidHandle;
    });
    Boxes boxes;
    boxes.hook = [&](const BoxRequest&) { QCOMPARE(rig.sent(Kind::ArmEnd), 1u); };
    const QByteArray file = rawImage(run.dsp, 5001, run.arm,
                                     fwimage::sampleBytes(run.dsp, 11) + fwimage::sampleBytes(run.arm, 12));
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    start(w, file);
    QCOMPARE(w.ui->LB_VersionTip->text(),
             run.language == QLocale::Chinese
                 ? QStringLiteral("版本信息:  所选文件版本:5001  设备版本:5000")
                 : QStringLiteral("Version Message: Selected File Version:5001  设备版本:5000"));
    QCOMPARE(w.ui->progressBarColor->getMaxValue(), double(file.size()));
    if (status < 0)
        loop.exec();
    QCOMPARE(status, 0);
    w.armTimer->stop();

    QCOMPARE(boxes.seen.size(), 1);
    const BoxRequest& box = boxes.seen[0];
    QCOMPARE(int(box.form), int(BoxRequest::Form::Completion));
    QCOMPARE(box.title, run.title);
    QCOMPARE(box.buttonText, run.button);
    QVERIFY(box.moved && !box.parent);
    QCOMPARE(box.position, w.frameGeometry().topLeft() + QPoint(150, 70));
    QVERIFY(linkClosedAtExit);
    QCOMPARE(bytesOf(rig.device->dspImage()), fwimage::sampleBytes(run.dsp, 11));
    QCOMPARE(bytesOf(rig.device->armImage()), fwimage::sampleBytes(run.arm, 12));
    QVERIFY(rig.device->frames() == expectedFrames(file, 16 + run.dsp));
    QList<int> offsets;
    for (int at = 16; at < file.size(); at += 8)
        offsets << at;
    QCOMPARE(progress, offsets);
    QCOMPARE(progress.last(), file.size() - 8);
}

void UpgradeTest::stageTimeouts_data()
{
    // The stage, whether its end frame was sent and the completion reply
    // seen; the error, and whether the stage timer and the upgrade go on.
    QTest::addColumn<int>("language");
    QTest::addColumn<Stall>("c");
    // The engine's own test covers every stall; here the window carries the
    // actions out: the notice in its language's form, the timers.
    const std::tuple<QLocale::Language, const char*, Stall> rows[] = {
        {QLocale::English, "DSP window never acknowledged", {false, false, false, 2, true, false}},
        {QLocale::English, "ARM end frame unanswered", {true, true, false, 4, false, true}},
        {QLocale::English, "ARM window never acknowledged", {true, false, false, 5, false, false}},
        {QLocale::Chinese, "DSP end frame unanswered", {false, true, false, 4, false, true}},
        {QLocale::Chinese, "ARM end, completion reply seen", {true, true, true, 5, false, false}},
        // German has no notices of its own: the English ones.
        {QLocale::German, "DSP end, completion reply seen", {false, true, true, 2, true, false}},
    };
    for (const auto& r : rows)
        QTest::addRow("%s %s", qPrintable(QLocale::languageToString(std::get<0>(r))), std::get<1>(r))
            << int(std::get<0>(r)) << std::get<2>(r);
}

void UpgradeTest::stageTimeouts()
{
    QFETCH(int, language);
    QFETCH(Stall, c);
    Rig rig(false);
    setLanguageOverride(QLocale::Language(language));
    MainWindow w;
    Boxes boxes;
    QTimer* timer = c.arm ? w.armTimer : w.dspTimer;
    timer->setInterval(kNoTicks);
    timer->start();
    w.upgradeRunning = true;
    (c.arm ? w.armEndSent : w.dspEndSent) = c.endSent;
    w.finishReceived = c.finish;
    auto tick = [&] { return c.arm ? w.SendARMData() : w.SendDSPData(); };
    for (int i = 1; i < frames::kAckTimeoutTicks; ++i)
        QCOMPARE(tick(), 0);
    QVERIFY(boxes.seen.isEmpty());
    QCOMPARE(tick(), -1);
    const bool zh = language == QLocale::Chinese;
    const QString text = zh ? QStringLiteral("升级未成功，错误%1") : QStringLiteral("Error %1");
    QCOMPARE(boxes.texts(), QStringList{text.arg(c.error)});
    const BoxRequest& box = boxes.seen[0];
    QCOMPARE(box.form, zh ? BoxRequest::Form::ChineseNotice : BoxRequest::Form::EnglishWarning);
    QCOMPARE(box.title, zh ? QStringLiteral("信息") : QStringLiteral("Warning"));
    QCOMPARE(box.buttonText, zh ? QStringLiteral("确 定") : QString());
    QVERIFY(box.parent == (zh ? nullptr : &w) && !box.moved);
    QCOMPARE(timer->isActive(), c.timerAfter);
    QCOMPARE(w.upgradeRunning, c.runningAfter);
    QCOMPARE(c.arm ? w.armEndSent : w.dspEndSent, c.endSent && c.error != 4);
    if (!c.runningAfter)
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

    // An acknowledgement that ends the wait in time: tst_upgrade_window replies.
    QCOMPARE(boxes.seen.size(), 1);
}

QTEST_MAIN(UpgradeTest)
#include "tst_upgrade.moc"
