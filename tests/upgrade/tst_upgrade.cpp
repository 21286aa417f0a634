// Whole upgrades on the virtual device through the main window, in each
// language. The engine alone (windows, stalls, the start wait, re-entry):
// tst_upgrade_engine; the numbered errors and when they come:
// tst_hardening_faults faultMatrix; their box form by language: tst_usb_link.
#include "support/rig.h"

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "qtbridge/bytes.h"
#include "qtbridge/noticetext.h"
#include "upgrade/frames.h"
#include "widgets/progressbarcolor.h"

#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

using Kind = DeviceModel::FrameKind;

namespace {

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

struct Run {
    int language, dsp, arm;
};
} // namespace
Q_DECLARE_METATYPE(Run)

class UpgradeTest : public QObject {
    Q_OBJECT
private slots:
    void wholeUpgradeOnTimers_data();
    void wholeUpgradeOnTimers();

private:
    // Picks `file` through the file button and presses the start button.
    void start(Rig& rig, MainWindow& w, const QByteArray& file);
    QTemporaryDir dir;
};

void UpgradeTest::start(Rig& rig, MainWindow& w, const QByteArray& file)
{
    const QString path = writeFile(dir, "image.fw", file);
    rig.services.files([path](const OpenFileRequest&) { return path; });
    w.ui->TBFlush->click();
    QVERIFY(w.ui->toolButton_2->isEnabled());
    w.ui->toolButton_2->click();
}

void UpgradeTest::wholeUpgradeOnTimers_data()
{
    QTest::addColumn<Run>("run");
    QTest::newRow("en") << Run{QLocale::English, 400, 1000};
    QTest::newRow("zh") << Run{QLocale::Chinese, 400, 1000};
}

void UpgradeTest::wholeUpgradeOnTimers()
{
    QFETCH(Run, run);
    Rig rig;
    rig.services.language(QLocale::Language(run.language));
    MainWindow w;
    w.move(100, 60);
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(!w.versionReply.isEmpty(), 3000);
    QList<int> progress;
    connect(w.ui->progressBarColor, &ProgressBarColor::valueChanged, [&](double v) { progress << int(v); });
    int status = -1;
    bool linkClosedAtExit = false;
    QEventLoop loop; // a plain event loop: QTRY's polling would sleep between ticks
    rig.services.exit([&](int s) {
        status = s;
        loop.quit();
        linkClosedAtExit = !currentReader && hReadHandle == kInvalidHidHandle;
    });
    Boxes boxes;
    boxes.hook = [&](const BoxRequest&) { QCOMPARE(rig.sent(Kind::ArmEnd), 1u); };
    const QByteArray file = rawImage(run.dsp, 5001, run.arm,
                                     toQByteArray(fwimage::sampleBytes(run.dsp, 11)) +
                                         toQByteArray(fwimage::sampleBytes(run.arm, 12)));
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    start(rig, w, file);
    QCOMPARE(w.ui->LB_VersionTip->text(),
             run.language == QLocale::Chinese
                 ? QStringLiteral("版本信息:  所选文件版本:5001  设备版本:5000")
                 : QStringLiteral("Version Message: Selected File Version:5001  设备版本:5000"));
    QCOMPARE(w.ui->progressBarColor->getMaxValue(), double(file.size()));
    if (status < 0)
        loop.exec();
    QCOMPARE(status, 0);
    w.armTimer->stop();

    QCOMPARE(boxes.ids(), QList<notices::Id>{notices::Id::Completion});
    const BoxRequest& box = boxes.seen[0];
    QCOMPARE(int(box.form), int(BoxRequest::Form::Completion));
    const bool zh = run.language == QLocale::Chinese;
    QCOMPARE(box.title + box.text,
             notices::title(notices::Id::Completion, zh) + notices::text(notices::Id::Completion, zh));
    QCOMPARE(box.buttonText, notices::completionButton(zh));
    QVERIFY(box.moved && !box.parent);
    QCOMPARE(box.position, w.frameGeometry().topLeft() + QPoint(150, 70));
    QVERIFY(linkClosedAtExit);
    QVERIFY(rig.device->dspImage() == fwimage::sampleBytes(run.dsp, 11));
    QVERIFY(rig.device->armImage() == fwimage::sampleBytes(run.arm, 12));
    QVERIFY(rig.device->frames() == expectedFrames(file, 16 + run.dsp));
    QList<int> offsets;
    for (int at = 16; at < file.size(); at += 8)
        offsets << at;
    QCOMPARE(progress, offsets);
    QCOMPARE(progress.last(), file.size() - 8);
}

QTEST_MAIN(UpgradeTest)
#include "tst_upgrade.moc"
