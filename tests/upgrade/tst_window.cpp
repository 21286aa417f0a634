// The window's side of the upgrade that needs no timing: choosing and
// checking the image file and its notices in both languages, the family
// rule. The replies through the window: tst_hardening_faults.
#include "support/rig.h"

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "qtbridge/noticetext.h"
#include "upgrade/frames.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

using Kind = DeviceModel::FrameKind;

namespace {
using Ids = QList<notices::Id>;
using notices::Id;
constexpr Id None = Id::None, PathEmpty = Id::PathEmpty, Mismatch = Id::FileMismatch, Format = Id::FileFormat,
             Lower = Id::LowerVersion;

struct FileCase {
    QByteArray file; // "none": no such file; "cancel": dialog cancelled
    int productId, deviceVersion;
    Id notice; // the start button stays on only after None and Lower
};
} // namespace
Q_DECLARE_METATYPE(FileCase)

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void fileChecks_data();
    void fileChecks();
    void familyRule();
    void startLoadsTheFileFilePathNames();

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
        {"newer file", {good, 0x0525, 5000, None}},
        {"same version", {sampleImage(8, 8, 5000), 0x0525, 5000, None}},
        {"lower than 5000 before any reply", {sampleImage(8, 8, 4999), 0x0525, 5000, Lower}},
        {"dialog cancelled", {"cancel", 0x0525, 5000, PathEmpty}},
        {"one byte more", {good + 'x', 0x0525, 5000, Format}},
        {"one byte less", {shorter, 0x0525, 5000, Format}},
        {"all-zero header", {QByteArray(16, '\0'), 0x0525, 5000, Format}},
        {"DSP partial block", {sampleImage(401, 1000, 5001), 0x0525, 5000, Format}},
        {"ARM partial block", {sampleImage(400, 1001, 5001), 0x0525, 5000, Format}},
        {"empty DSP image", {sampleImage(0, 1000, 5001), 0x0525, 5000, Format}},
        {"empty ARM image", {sampleImage(400, 0, 5001), 0x0525, 5000, Format}},
        {"15 bytes", {QByteArray(15, '\0'), 0x0525, 5000, Format}},
        {"DSP length wraps at 32 bits",
         {QByteArray::fromHex("fffffff0000013890000002000000000").leftJustified(32, 'x'), 0x0525, 5000,
          Format}},
        {"ARM length wraps at 32 bits",
         {QByteArray::fromHex("0000002000001389fffffff000000000").leftJustified(32, 'x'), 0x0525, 5000,
          Format}},
        {"first file cannot be opened", {"none", 0x0525, 5000, Format}},
        {"wheel 3399 refuses 3400", {sampleImage(8, 8, 3400), 0x0524, 3399, Mismatch}},
        {"wheel 4000 is no family", {sampleImage(8, 8, 3500), 0x0524, 4000, Id::SoftwareType}},
        {"family before format", {shorter, 0x0524, 4000, Id::SoftwareType}},
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
    rig.services.language(QLocale::Language(language));
    MainWindow w;
    w.productId = c.productId;
    w.deviceVersion = std::uint16_t(c.deviceVersion);
    const QString path = c.file == "cancel" ? QString()
                         : c.file == "none" ? dir.filePath("missing.fw")
                                            : writeFile(dir, "f.fw", c.file);
    QList<OpenFileRequest> asked;
    rig.services.files([&](const OpenFileRequest& r) { return asked << r, path; });
    Boxes boxes;
    w.ui->toolButton_2->setEnabled(true);
    w.ui->TBFlush->click();

    QVERIFY(asked.size() == 1 && asked[0].parent == &w);
    QCOMPARE(asked[0].caption + asked[0].dir + asked[0].filter,
             QStringLiteral("打开文件/home") + fwimage::fileFilter(c.productId));
    QCOMPARE(w.ui->line_path->text(), path);
    QCOMPARE(w.ui->toolButton_2->isEnabled(), c.notice == None || c.notice == Lower);
    QCOMPARE(boxes.ids(), c.notice == None ? Ids{} : Ids{c.notice});
    const bool zh = language == QLocale::Chinese;
    // The box's form by language is the device notices' (tst_usb_link).
    for (const BoxRequest& box : qAsConst(boxes.seen))
        QCOMPARE(box.title + box.text, notices::title(box.notice, zh) + notices::text(box.notice, zh));
}

void WindowTest::familyRule()
{
    // Product, device firmware number, file version, and the rule's answer.
    const int rows[][4] = {
        {0x0522, 4000, 4999, 1}, {0x0522, 4999, 5000, -1}, {0x0522, 0, 4000, 1},
        {0x0522, 0, 3999, -1},   {0x0522, 5000, 4500, -2}, {0x0522, 3999, 4500, -2},
        {0x0524, 3399, 3399, 1}, {0x0524, 3399, 3400, -1}, {0x0524, 3200, 3399, 1},
        {0x0524, 3600, 3799, 1}, {0x0524, 3999, 3800, 1},  {0x0524, 3800, 3799, -1},
        {0x0524, 3800, -1, -1},  {0x0524, 4000, 3500, -2}, {0x0524, 3199, 3199, -2},
        {0x0526, 1200, 0, 1},    {0x0526, 1299, 99999, 1}, {0x0526, 1300, 1250, -1},
        {0x0525, 65535, -5, 1},  {0x0523, 0, 0, 1},
    };
    for (const auto& r : rows)
        QVERIFY2(fwimage::familyRule(r[0], std::uint16_t(r[1]), r[2]) == r[3],
                 qPrintable(QString::asprintf("%04x device %d, file %d", r[0], r[1], r[2])));
}

void WindowTest::startLoadsTheFileFilePathNames()
{
    Rig rig;
    rig.device->faults().dropStartAck = true;
    rig.services.language(QLocale::English);
    MainWindow w;
    Boxes boxes;
    const QByteArray first = sampleImage(400, 1000, 5001), second = sampleImage(200, 200, 5003);
    const QString firstPath = writeFile(dir, "first.fw", first);
    QString chosen = firstPath;
    rig.services.files([&](const OpenFileRequest&) { return chosen; });
    auto press = [&](QToolButton* button) {
        boxes.seen.clear();
        button->setEnabled(true);
        button->click();
    };

    // A downloaded file: filePath set, button enabled, nothing loaded.
    w.filePath = writeFile(dir, "second.fw", second);
    press(w.ui->toolButton_2);
    QCOMPARE(w.imageData, second);
    QVERIFY(rig.sent(Kind::Start) == 1 && w.delayTimer->isActive());
    w.delayTimer->stop();

    // A malformed download is refused before the start frame.
    w.filePath = writeFile(dir, "bad.fw", second.left(100));
    press(w.ui->toolButton_2);
    QCOMPARE(boxes.ids(), Ids{notices::Id::FileFormat});
    QVERIFY(rig.sent(Kind::Start) == 1 && !w.delayTimer->isActive() && !w.ui->toolButton_2->isEnabled());

    // Refused at selection, the image loaded before kept in memory but no
    // longer started: a file larger than the header can describe (refused
    // before it is read; sparse, so it takes no space). Files that cannot be
    // opened or are too short: fileChecks.
    press(w.ui->TBFlush);
    QVERIFY(boxes.seen.isEmpty() && w.ui->toolButton_2->isEnabled());
    QFile huge(dir.filePath("huge.fw"));
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(3) << 30));
    huge.close();
    chosen = huge.fileName();
    press(w.ui->TBFlush);
    QVERIFY(!w.ui->toolButton_2->isEnabled() && w.fileVersion == 5001);
    QCOMPARE(w.imageData, first);
    w.ui->toolButton_2->click();
    QCOMPARE(boxes.ids(), Ids{notices::Id::FileFormat}); // once: the old image is not started
    QCOMPARE(rig.sent(Kind::Start), 1u);

    // The start button reads the file again only when its size or time
    // changed: same size and time, other bytes, the checked image goes out.
    chosen = firstPath;
    press(w.ui->TBFlush);
    const QDateTime stamp = QFileInfo(firstPath).lastModified();
    writeFile(dir, "first.fw", sampleImage(400, 1000, 4000));
    {
        QFile f(firstPath);
        QVERIFY(f.open(QIODevice::ReadWrite) && f.setFileTime(stamp, QFileDevice::FileModificationTime));
    }
    w.ui->toolButton_2->click();
    QVERIFY(boxes.seen.isEmpty() && rig.sent(Kind::Start) == 2);
    QCOMPARE(w.imageData, first);
    w.delayTimer->stop();

    // Changed on disk since it was checked: read and checked again.
    writeFile(dir, "first.fw", sampleImage(400, 1008, 4000));
    press(w.ui->toolButton_2);
    QCOMPARE(boxes.ids(), Ids{notices::Id::LowerVersion});
    QVERIFY(rig.sent(Kind::Start) == 3 && w.fileVersion == 4000);
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
