// The window's side of the upgrade that needs no timing: choosing and
// checking the image file, the notices in both languages, the replies.
#include "harness.h"

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "upgrade/frames.h"
#include "upgrade/notices.h"
#include "widgets/progressbarcolor.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

using Kind = DeviceModel::FrameKind;

namespace {
const notices::Wording* const kFileNotices[] = {&notices::kPathEmpty, &notices::kFileMismatch,
                                                &notices::kSoftwareType, &notices::kFileFormat,
                                                &notices::kLowerVersion};
enum Notice { None = -1, PathEmpty, Mismatch, SoftwareType, Format, Lower };
} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void fileChecks_data();
    void fileChecks();
    void loadingShowsVersionsAndSetsTheRange();
    void startLoadsTheFileFilePathNames();
    void notices_data();
    void notices();
    void replies();

private:
    QTemporaryDir dir;
};

void WindowTest::fileChecks_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QByteArray>("file"); // "none": no such file; "cancel": dialog cancelled
    QTest::addColumn<int>("productId");
    QTest::addColumn<int>("deviceVersion");
    QTest::addColumn<int>("notice");
    QTest::addColumn<bool>("enabled");
    const QByteArray good = sampleImage(400, 1000, 5001);
    QByteArray longer = good + 'x', shorter = good.left(good.size() - 1);
    const struct {
        const char* name;
        QByteArray file;
        int productId, deviceVersion, notice;
        bool enabled;
    } rows[] = {
        {"newer file", good, 0x0525, 5000, None, true},
        {"same version", sampleImage(8, 8, 5000), 0x0525, 5000, None, true},
        {"lower than 5000 before any reply", sampleImage(8, 8, 4999), 0x0525, 5000, Lower, true},
        {"dialog cancelled", "cancel", 0x0525, 5000, PathEmpty, false},
        {"one byte more", longer, 0x0525, 5000, Format, false},
        {"one byte less", shorter, 0x0525, 5000, Format, false},
        {"all-zero header", QByteArray(16, '\0'), 0x0525, 5000, Format, false},
        {"partial block", sampleImage(400, 1001, 5001), 0x0525, 5000, Format, false},
        {"empty ARM image", sampleImage(400, 0, 5001), 0x0525, 5000, Format, false},
        {"shorter than the header", QByteArray(12, '\0'), 0x0525, 5000, Format, false},
        {"first file cannot be opened", "none", 0x0525, 5000, Format, false},
        {"wheel 3399 takes 3399", sampleImage(8, 8, 3399), 0x0524, 3399, None, true},
        {"wheel 3399 refuses 3400", sampleImage(8, 8, 3400), 0x0524, 3399, Mismatch, false},
        {"wheel 4000 is no family", sampleImage(8, 8, 3500), 0x0524, 4000, SoftwareType, false},
        {"family before format", shorter, 0x0524, 4000, SoftwareType, false},
        {"0522 device 0 takes 4500", sampleImage(8, 8, 4500), 0x0522, 0, None, true},
    };
    for (QLocale::Language language : {QLocale::English, QLocale::Chinese}) {
        for (const auto& r : rows) {
            QTest::addRow("%s %s", language == QLocale::Chinese ? "zh" : "en", r.name)
                << int(language) << r.file << r.productId << r.deviceVersion << r.notice << r.enabled;
        }
    }
}

void WindowTest::fileChecks()
{
    QFETCH(int, language);
    QFETCH(QByteArray, file);
    QFETCH(int, productId);
    QFETCH(int, deviceVersion);
    QFETCH(int, notice);
    QFETCH(bool, enabled);
    Rig rig(false);
    setLanguageOverride(QLocale::Language(language));
    MainWindow w;
    w.productId = productId;
    w.deviceVersion = std::uint16_t(deviceVersion);
    QString path = file == "cancel" ? QString()
                   : file == "none" ? dir.filePath("missing.fw")
                                    : writeFile(dir, "f.fw", file);
    QList<OpenFileRequest> asked;
    setOpenFileChooser([&](const OpenFileRequest& r) {
        asked << r;
        return path;
    });
    Boxes boxes;
    w.ui->toolButton_2->setEnabled(true);
    w.ui->TBFlush->click();

    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].caption, QStringLiteral("打开文件"));
    QCOMPARE(asked[0].dir, QStringLiteral("/home"));
    QCOMPARE(asked[0].filter, fwimage::fileFilter(productId));
    QCOMPARE(asked[0].parent, &w);
    QCOMPARE(w.ui->line_path->text(), path);
    QCOMPARE(w.ui->toolButton_2->isEnabled(), enabled);
    if (notice == None) {
        QCOMPARE(boxes.texts(), QStringList());
        return;
    }
    QCOMPARE(boxes.seen.size(), 1);
    const BoxRequest& box = boxes.seen[0];
    const bool chinese = language == QLocale::Chinese;
    const notices::Wording& wording = *kFileNotices[notice];
    QCOMPARE(box.text, QString::fromUtf8(chinese ? wording.chinese : wording.english));
    QCOMPARE(box.title, chinese ? QStringLiteral("信息") : QStringLiteral("Information"));
    QCOMPARE(int(box.form),
             int(chinese ? BoxRequest::Form::ChineseNotice : BoxRequest::Form::EnglishWarning));
}

void WindowTest::loadingShowsVersionsAndSetsTheRange()
{
    Rig rig(false);
    MainWindow w;
    const QByteArray image = sampleImage(400, 1000, 5001);
    w.filePath = writeFile(dir, "load.fw", image);
    for (QLocale::Language language : {QLocale::English, QLocale::Chinese}) {
        setLanguageOverride(language);
        QCOMPARE(w.OpenTheFile(), 0);
        QCOMPARE(w.ui->LB_VersionTip->text(),
                 language == QLocale::Chinese
                     ? QStringLiteral("版本信息:  所选文件版本:5001  设备版本:5000")
                     : QStringLiteral("Version Message: Selected File Version:5001  设备版本:5000"));
    }
    QCOMPARE(w.imageData, image);
    QCOMPARE(w.loadedFilePath, w.filePath);
    QCOMPARE(w.dspImageEnd, 416);
    QCOMPARE(w.armImageLength, 1000);
    QCOMPARE(w.fileVersion, 5001);
    QCOMPARE(w.ui->progressBarColor->getMaxValue(), 1416.0);
    w.deviceVersion = 5002;
    QCOMPARE(w.OpenTheFile(), 2);
    w.filePath.clear();
    QCOMPARE(w.OpenTheFile(), -1);
}

void WindowTest::startLoadsTheFileFilePathNames()
{
    Rig rig;
    rig.device->faults().dropStartAck = true;
    setLanguageOverride(QLocale::English);
    MainWindow w;
    Boxes boxes;
    const QByteArray first = sampleImage(400, 1000, 5001), second = sampleImage(200, 200, 5003);
    const QString firstPath = writeFile(dir, "first.fw", first);
    QString chosen = firstPath;
    setOpenFileChooser([&](const OpenFileRequest&) { return chosen; });
    auto press = [&] {
        w.ui->toolButton_2->setEnabled(true);
        w.ui->toolButton_2->click();
    };
    auto choose = [&] {
        w.ui->TBFlush->setEnabled(true);
        w.ui->TBFlush->click();
    };

    // A downloaded file: filePath set, button enabled, nothing loaded.
    w.filePath = writeFile(dir, "second.fw", second);
    press();
    QCOMPARE(w.imageData, second);
    QCOMPARE(rig.sent(Kind::Start), 1u);
    QVERIFY(w.delayTimer->isActive());
    w.delayTimer->stop();

    // A malformed download is refused before the start frame.
    w.filePath = writeFile(dir, "bad.fw", second.left(100));
    press();
    QCOMPARE(boxes.texts(), QStringList{"File Format Is Error"});
    QCOMPARE(rig.sent(Kind::Start), 1u);
    QVERIFY(!w.delayTimer->isActive());
    QVERIFY(!w.ui->toolButton_2->isEnabled());

    // A file that cannot be opened keeps the old image for the checks, but
    // the start button will not write the old image under the new name.
    boxes.seen.clear();
    choose();
    chosen = dir.filePath("gone.fw");
    choose();
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(w.ui->toolButton_2->isEnabled());
    QCOMPARE(w.imageData, first);
    w.ui->toolButton_2->click();
    QCOMPARE(boxes.texts(), QStringList{"File Format Is Error"});
    QCOMPARE(rig.sent(Kind::Start), 1u);

    // The file changed on disk since it was checked: checked again.
    boxes.seen.clear();
    chosen = firstPath;
    choose();
    writeFile(dir, "first.fw", sampleImage(400, 1000, 4000));
    w.ui->toolButton_2->click();
    QCOMPARE(boxes.texts(), QStringList{QString::fromUtf8(notices::kLowerVersion.english)});
    QCOMPARE(rig.sent(Kind::Start), 2u);
    QCOMPARE(w.fileVersion, 4000);
}

void WindowTest::notices_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("which"); // 1..5 numbered error, 10 file notice, 20/21 download, 30 completion
    QTest::addColumn<int>("form");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("button");
    using F = BoxRequest::Form;
    const int en = QLocale::English, zh = QLocale::Chinese, de = QLocale::German;
    QTest::newRow("en Error 1") << en << 1 << int(F::EnglishWarning) << "Warning"
                                << "Error 1"
                                << "";
    QTest::newRow("zh Error 1") << zh << 1 << int(F::ChineseNotice) << "信息"
                                << "升级未成功，错误1"
                                << "确 定";
    QTest::newRow("de Error 2") << de << 2 << int(F::EnglishWarning) << "Warning"
                                << "Error 2"
                                << "";
    QTest::newRow("zh Error 4") << zh << 4 << int(F::ChineseNotice) << "信息"
                                << "升级未成功，错误4"
                                << "确 定";
    QTest::newRow("en Error 5") << en << 5 << int(F::EnglishWarning) << "Warning"
                                << "Error 5"
                                << "";
    QTest::newRow("en file") << en << 10 << int(F::EnglishWarning) << "Information"
                             << "E"
                             << "";
    QTest::newRow("zh file") << zh << 10 << int(F::ChineseNotice) << "信息"
                             << "中"
                             << "确 定";
    QTest::newRow("en download ok") << en << 20 << int(F::EnglishWarning) << "Warning"
                                    << "Update is Successful"
                                    << "";
    QTest::newRow("zh download ok") << zh << 20 << int(F::ChineseInformation) << "提示"
                                    << "更新成功"
                                    << "";
    QTest::newRow("en download failed") << en << 21 << int(F::EnglishWarning) << "Warning"
                                        << "Update is failed"
                                        << "";
    QTest::newRow("zh download failed") << zh << 21 << int(F::ChineseInformation) << "提示"
                                        << "更新失败"
                                        << "";
    QTest::newRow("en completion") << en << 30 << int(F::Completion) << "information"
                                   << "Update Complete!\nClick OK to close the software!"
                                   << "Ok";
    QTest::newRow("zh completion") << zh << 30 << int(F::Completion) << "信息"
                                   << "更新成功!\n点击确定按钮关闭软件！"
                                   << "确定";
}

void WindowTest::notices()
{
    QFETCH(int, language);
    QFETCH(int, which);
    QFETCH(int, form);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, button);
    Rig rig(false);
    setLanguageOverride(QLocale::Language(language));
    MainWindow w;
    w.move(40, 30);
    w.show();
    Boxes boxes;
    if (which < 10)
        notices::numberedError(w, which);
    else if (which == 10)
        w.onInformationTip("中", "E");
    else if (which < 30)
        w.FlushFileTip(which == 20 ? 0 : 3);
    else
        QVERIFY(notices::completion(w));
    QCOMPARE(boxes.seen.size(), 1);
    const BoxRequest& box = boxes.seen[0];
    QCOMPARE(int(box.form), form);
    QCOMPARE(box.title, title);
    QCOMPARE(box.text, text);
    QCOMPARE(box.buttonText, button);
    const bool parented =
        form == int(BoxRequest::Form::EnglishWarning) || form == int(BoxRequest::Form::ChineseInformation);
    QCOMPARE(box.parent, parented ? &w : nullptr);
    QCOMPARE(box.moved, form == int(BoxRequest::Form::Completion));
    if (box.moved)
        QCOMPARE(box.position, w.frameGeometry().topLeft() + QPoint(150, 70));
}

void WindowTest::replies()
{
    Rig rig;
    MainWindow w;
    QCOMPARE(w.dspAckSubCode, frames::kDspAckSub);
    QCOMPARE(w.armAckSubCode, frames::kArmAckSub);
    QCOMPARE(w.startAckSubCode, frames::kStartAckSub);
    QCOMPARE(w.finishSubCode, frames::kFinishSub);

    deliver(&w, "800a00000000ac0d");
    QCOMPARE(int(w.deviceVersion), 3500);
    QCOMPARE(w.versionReply, QByteArray::fromHex("800a00000000ac0d").leftJustified(20, '\0'));
    deliver(&w, "800a00000000ac0d", 0x81); // not our report id
    deliver(&w, "800f56");                 // no such reply
    QEvent other(QEvent::Type(USBEventType + 1));
    QCoreApplication::sendEvent(&w, &other);
    QVERIFY(!w.dspMaySend && !w.armMaySend && !w.upgradeRunning);

    // Two start acknowledgements: one handshake, the DSP stage running.
    w.delayTimer->start();
    w.startWaitTicks = 7;
    deliver(&w, "800c55");
    deliver(&w, "800c55");
    QCOMPARE(rig.sent(Kind::DspHandshake), 1u);
    QVERIFY(w.upgradeRunning && w.dspTimer->isActive() && !w.delayTimer->isActive());
    QCOMPARE(int(w.startWaitTicks), 0);
    QVERIFY(w.handshakeGuard && w.dspHandshakeSent);

    deliver(&w, "800c56"); // a window, no stage switch
    QVERIFY(w.dspMaySend && w.dspTimer->isActive());
    QCOMPARE(rig.sent(Kind::ArmHandshake), 0u);
    w.dspEndSent = true;
    deliver(&w, "800c56"); // closes the DSP stage
    QVERIFY(!w.dspEndSent && !w.dspTimer->isActive() && w.armTimer->isActive());
    QCOMPARE(rig.sent(Kind::ArmHandshake), 1u);

    deliver(&w, "800c54");
    QVERIFY(w.armMaySend);
    w.armMaySend = false;
    deliver(&w, "800f54");
    QVERIFY(w.armMaySend);
    deliver(&w, "800c59");
    QVERIFY(w.finishReceived);
    w.armTimer->stop();
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
