// The window's side of the upgrade that needs no timing: choosing and
// checking the image file, the family rule, the notices in both languages,
// reading the device's replies, the data frames at the image's edges.
#include "harness.h"

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "upgrade/frames.h"
#include "upgrade/notices.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

using Kind = DeviceModel::FrameKind;
using Form = BoxRequest::Form;

namespace {
const notices::Wording* const kFileNotices[] = {&notices::kPathEmpty, &notices::kFileMismatch,
                                                &notices::kSoftwareType, &notices::kFileFormat,
                                                &notices::kLowerVersion};
enum Notice { None = -1, PathEmpty, Mismatch, SoftwareType, Format, Lower };

struct FileCase {
    QByteArray file; // "none": no such file; "cancel": dialog cancelled
    int productId, deviceVersion, notice;
    bool enabled;
};
struct NoticeCase {
    int language, which; // 1..5 numbered error, 20/21 download succeeded/failed
    Form form;
    QString title, text, button;
};
} // namespace
Q_DECLARE_METATYPE(FileCase)
Q_DECLARE_METATYPE(NoticeCase)
Q_DECLARE_METATYPE(frames::Reply)

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void fileChecks_data();
    void fileChecks();
    void familyRule_data();
    void familyRule();
    void startLoadsTheFileFilePathNames();
    void notices_data();
    void notices();
    void replyDecoding_data();
    void replyDecoding();
    void replies();
    void dataFramesStayInsideTheImage();

private:
    QTemporaryDir dir;
};

void WindowTest::fileChecks_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<FileCase>("c");
    const QByteArray good = sampleImage(400, 1000, 5001);
    const QByteArray shorter = good.left(good.size() - 1);
    const std::pair<const char*, FileCase> rows[] = {
        {"newer file", {good, 0x0525, 5000, None, true}},
        {"same version", {sampleImage(8, 8, 5000), 0x0525, 5000, None, true}},
        {"lower than 5000 before any reply", {sampleImage(8, 8, 4999), 0x0525, 5000, Lower, true}},
        {"dialog cancelled", {"cancel", 0x0525, 5000, PathEmpty, false}},
        {"one byte more", {good + 'x', 0x0525, 5000, Format, false}},
        {"one byte less", {shorter, 0x0525, 5000, Format, false}},
        {"all-zero header", {QByteArray(16, '\0'), 0x0525, 5000, Format, false}},
        {"DSP partial block", {sampleImage(401, 1000, 5001), 0x0525, 5000, Format, false}},
        {"ARM partial block", {sampleImage(400, 1001, 5001), 0x0525, 5000, Format, false}},
        {"empty DSP image", {sampleImage(0, 1000, 5001), 0x0525, 5000, Format, false}},
        {"empty ARM image", {sampleImage(400, 0, 5001), 0x0525, 5000, Format, false}},
        {"15 bytes", {QByteArray(15, '\0'), 0x0525, 5000, Format, false}},
        {"lengths wrap at 32 bits",
         {rawImage(0xFFFFFFF0u, 5001, 32, QByteArray(16, 'x')), 0x0525, 5000, Format, false}},
        {"first file cannot be opened", {"none", 0x0525, 5000, Format, false}},
        {"wheel 3399 refuses 3400", {sampleImage(8, 8, 3400), 0x0524, 3399, Mismatch, false}},
        {"wheel 4000 is no family", {sampleImage(8, 8, 3500), 0x0524, 4000, SoftwareType, false}},
        {"family before format", {shorter, 0x0524, 4000, SoftwareType, false}},
    };
    for (QLocale::Language language : {QLocale::English, QLocale::Chinese})
        for (const auto& r : rows)
            QTest::addRow("%s %s", language == QLocale::Chinese ? "zh" : "en", r.first)
                << int(language) << r.second;
}

void WindowTest::fileChecks()
{
    QFETCH(int, language);
    QFETCH(FileCase, c);
    Rig rig(false);
    setLanguageOverride(QLocale::Language(language));
    MainWindow w;
    w.productId = c.productId;
    w.deviceVersion = std::uint16_t(c.deviceVersion);
    const QString path = c.file == "cancel" ? QString()
                         : c.file == "none" ? dir.filePath("missing.fw")
                                            : writeFile(dir, "f.fw", c.file);
    QList<OpenFileRequest> asked;
    setOpenFileChooser([&](const OpenFileRequest& r) { return asked << r, path; });
    Boxes boxes;
    w.ui->toolButton_2->setEnabled(true);
    w.ui->TBFlush->click();

    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].caption, QStringLiteral("打开文件"));
    QCOMPARE(asked[0].dir, QStringLiteral("/home"));
    QCOMPARE(asked[0].filter, fwimage::fileFilter(c.productId));
    QCOMPARE(asked[0].parent, &w);
    QCOMPARE(w.ui->line_path->text(), path);
    QCOMPARE(w.ui->toolButton_2->isEnabled(), c.enabled);
    QCOMPARE(boxes.seen.size(), c.notice == None ? 0 : 1);
    if (c.notice == None)
        return;
    const BoxRequest& box = boxes.seen[0];
    const bool zh = language == QLocale::Chinese;
    const notices::Wording& wording = *kFileNotices[c.notice];
    QCOMPARE(box.text, QString::fromUtf8(zh ? wording.chinese : wording.english));
    QCOMPARE(box.title, zh ? QStringLiteral("信息") : QStringLiteral("Information"));
    QCOMPARE(box.form, zh ? Form::ChineseNotice : Form::EnglishWarning);
    QCOMPARE(box.buttonText, zh ? QStringLiteral("确 定") : QString());
    QCOMPARE(box.parent, zh ? nullptr : &w);
    QVERIFY(!box.moved);
}

void WindowTest::familyRule_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<int>("deviceVersion");
    QTest::addColumn<int>("fileVersion");
    QTest::addColumn<int>("expected");
    QTest::newRow("0522 device 4000, file 4999") << 0x0522 << 4000 << 4999 << 1;
    QTest::newRow("0522 device 4999, file 5000") << 0x0522 << 4999 << 5000 << -1;
    QTest::newRow("0522 device 0, file 4000") << 0x0522 << 0 << 4000 << 1;
    QTest::newRow("0522 device 0, file 3999") << 0x0522 << 0 << 3999 << -1;
    QTest::newRow("0522 device 5000") << 0x0522 << 5000 << 4500 << -2;
    QTest::newRow("0522 device 3999") << 0x0522 << 3999 << 4500 << -2;
    QTest::newRow("0524 3399 with 3399") << 0x0524 << 3399 << 3399 << 1;
    QTest::newRow("0524 3399 with 3400") << 0x0524 << 3399 << 3400 << -1;
    QTest::newRow("0524 3200 with 3399") << 0x0524 << 3200 << 3399 << 1;
    QTest::newRow("0524 3600 with 3799") << 0x0524 << 3600 << 3799 << 1;
    QTest::newRow("0524 3999 with 3800") << 0x0524 << 3999 << 3800 << 1;
    QTest::newRow("0524 3800 with 3799") << 0x0524 << 3800 << 3799 << -1;
    QTest::newRow("0524 3800 with negative") << 0x0524 << 3800 << -1 << -1;
    QTest::newRow("0524 device 4000") << 0x0524 << 4000 << 3500 << -2;
    QTest::newRow("0524 device 3199") << 0x0524 << 3199 << 3199 << -2;
    QTest::newRow("0526 device 1200") << 0x0526 << 1200 << 0 << 1;
    QTest::newRow("0526 device 1299") << 0x0526 << 1299 << 99999 << 1;
    QTest::newRow("0526 device 1300") << 0x0526 << 1300 << 1250 << -1;
    QTest::newRow("0525 anything") << 0x0525 << 65535 << -5 << 1;
    QTest::newRow("0523 anything") << 0x0523 << 0 << 0 << 1;
}

void WindowTest::familyRule()
{
    QFETCH(int, productId);
    QFETCH(int, deviceVersion);
    QFETCH(int, fileVersion);
    QTEST(fwimage::familyRule(productId, std::uint16_t(deviceVersion), fileVersion), "expected");
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
    auto press = [&](QToolButton* button) {
        boxes.seen.clear();
        button->setEnabled(true);
        button->click();
    };

    // A downloaded file: filePath set, button enabled, nothing loaded.
    w.filePath = writeFile(dir, "second.fw", second);
    press(w.ui->toolButton_2);
    QCOMPARE(w.imageData, second);
    QCOMPARE(rig.sent(Kind::Start), 1u);
    QVERIFY(w.delayTimer->isActive());
    w.delayTimer->stop();

    // A malformed download is refused before the start frame.
    w.filePath = writeFile(dir, "bad.fw", second.left(100));
    press(w.ui->toolButton_2);
    QCOMPARE(boxes.texts(), QStringList{"File Format Is Error"});
    QCOMPARE(rig.sent(Kind::Start), 1u);
    QVERIFY(!w.delayTimer->isActive() && !w.ui->toolButton_2->isEnabled());

    // A file that cannot be opened keeps the old image for the checks, but
    // the start button will not write the old image under the new name.
    press(w.ui->TBFlush);
    chosen = dir.filePath("gone.fw");
    press(w.ui->TBFlush);
    QVERIFY(boxes.seen.isEmpty() && w.ui->toolButton_2->isEnabled());
    QCOMPARE(w.imageData, first);
    w.ui->toolButton_2->click();
    QCOMPARE(boxes.texts(), QStringList{"File Format Is Error"});
    QCOMPARE(rig.sent(Kind::Start), 1u);

    // The file changed on disk since it was checked: checked again.
    chosen = firstPath;
    press(w.ui->TBFlush);
    writeFile(dir, "first.fw", sampleImage(400, 1000, 4000));
    w.ui->toolButton_2->click();
    QCOMPARE(boxes.texts(), QStringList{QString::fromUtf8(notices::kLowerVersion.english)});
    QCOMPARE(rig.sent(Kind::Start), 2u);
    QCOMPARE(w.fileVersion, 4000);
}

void WindowTest::notices_data()
{
    // The file notices and the completion box are shown by fileChecks and
    // tst_upgrade_flow.
    QTest::addColumn<NoticeCase>("c");
    const int en = QLocale::English, zh = QLocale::Chinese, de = QLocale::German;
    const QString warning = "Warning", info = "信息", ok = "确 定";
    QTest::newRow("en Error 1") << NoticeCase{en, 1, Form::EnglishWarning, warning, "Error 1", ""};
    QTest::newRow("zh Error 1") << NoticeCase{zh, 1, Form::ChineseNotice, info, "升级未成功，错误1", ok};
    QTest::newRow("de Error 2") << NoticeCase{de, 2, Form::EnglishWarning, warning, "Error 2", ""};
    QTest::newRow("zh Error 4") << NoticeCase{zh, 4, Form::ChineseNotice, info, "升级未成功，错误4", ok};
    QTest::newRow("en Error 5") << NoticeCase{en, 5, Form::EnglishWarning, warning, "Error 5", ""};
    QTest::newRow("en download ok") << NoticeCase{
        en, 20, Form::EnglishWarning, warning, "Update is Successful", ""};
    QTest::newRow("zh download ok") << NoticeCase{zh, 20, Form::ChineseInformation, "提示", "更新成功", ""};
    QTest::newRow("en download failed")
        << NoticeCase{en, 21, Form::EnglishWarning, warning, "Update is failed", ""};
    QTest::newRow("zh download failed")
        << NoticeCase{zh, 21, Form::ChineseInformation, "提示", "更新失败", ""};
}

void WindowTest::notices()
{
    QFETCH(NoticeCase, c);
    Rig rig(false);
    setLanguageOverride(QLocale::Language(c.language));
    MainWindow w;
    Boxes boxes;
    if (c.which < 10)
        notices::numberedError(w, c.which);
    else
        w.FlushFileTip(c.which == 20 ? 0 : 3);
    QCOMPARE(boxes.seen.size(), 1);
    const BoxRequest& box = boxes.seen[0];
    QCOMPARE(box.form, c.form);
    QCOMPARE(box.title, c.title);
    QCOMPARE(box.text, c.text);
    QCOMPARE(box.buttonText, c.button);
    QCOMPARE(box.parent, c.form == Form::ChineseNotice ? nullptr : &w);
    QVERIFY(!box.moved);
}

void WindowTest::replyDecoding_data()
{
    // The replies the device really sends are read by replies() below.
    using R = frames::Reply;
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<R>("expected");
    QTest::addColumn<int>("version");
    const QByteArray pad(17, '\0');
    QTest::newRow("largest version") << QByteArray::fromHex("800a00000000ffff") + pad << R::Version << 65535;
    QTest::newRow("short version reply") << QByteArray::fromHex("800a00000000ac") << R::Ignored << 0;
    QTest::newRow("0C unknown sub-code") << QByteArray::fromHex("800c57") + pad << R::Ignored << -1;
    QTest::newRow("unknown code") << QByteArray::fromHex("807e55") + pad << R::Ignored << -1;
    QTest::newRow("two bytes") << QByteArray::fromHex("800c") << R::Ignored << -1;
    QTest::newRow("empty") << QByteArray() << R::Ignored << -1;
}

void WindowTest::replyDecoding()
{
    QFETCH(QByteArray, report);
    QFETCH(frames::Reply, expected);
    QFETCH(int, version);
    QCOMPARE(frames::decodeReply(report), expected);
    if (version >= 0)
        QCOMPARE(int(frames::replyVersion(report)), version);
}

void WindowTest::replies()
{
    Rig rig;
    MainWindow w;
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

void WindowTest::dataFramesStayInsideTheImage()
{
    // Near, at and past the end, before the start, a count over 8: only bytes inside.
    const QByteArray image = QByteArray::fromHex("0102030405060708090a0b0c");
    auto hex = [](const frames::Frame& f) {
        return QByteArray(reinterpret_cast<const char*>(f.data()), 11).toHex();
    };
    QCOMPARE(hex(frames::armData(image, 1)), QByteArray("800e020304050607080900"));
    QCOMPARE(hex(frames::dspData(image, 8)), QByteArray("800d090a0b0c0000000000"));
    QCOMPARE(hex(frames::dspData(image, 12)), QByteArray("800d000000000000000000"));
    QCOMPARE(hex(frames::dspData(image, 1 << 30)), QByteArray("800d000000000000000000"));
    QCOMPARE(hex(frames::armData(image, -4)), QByteArray("800e000000000000000000"));
    QCOMPARE(hex(frames::dspData(image, 0, 12)), QByteArray("800d010203040506070800"));
    QCOMPARE(hex(frames::dspData(image, 0, 3)), QByteArray("800d010203000000000000"));
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
