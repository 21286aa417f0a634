// The unattended driver: whole runs ending in success, in a notice that
// stops the road, in a failed verification, without a device or its reply.
#include "harness.h"

#include "app/mainwindow.h"
#include "sim/unattended.h"

#include <QtTest>

#include <cstdio>

namespace {
struct Case {
    QByteArray file;
    bool plugged;
    int deviceVersion, versionTimeoutMs;
    bool verifies;
    int status;
    QByteArray printed;
    QByteArray sha256 = {}; // --sha256
};
} // namespace
Q_DECLARE_METATYPE(Case)

class UnattendedTest : public QObject {
    Q_OBJECT
private slots:
    void runs_data();
    void runs();

private:
    QTemporaryDir dir;
};

void UnattendedTest::runs_data()
{
    using namespace unattended;
    QTest::addColumn<Case>("c");
    const QByteArray good = sampleImage(400, 1000, 5001);
    QTest::newRow("written") << Case{good, true, 5000, 5000, true, Success, "completion: information"};
    QTest::newRow("older file goes on") << Case{
        good, true, 5002, 5000, true, Success, "notice: Information: The firmware file version is lower"};
    QTest::newRow("malformed file") << Case{
        good.left(900), true, 5000, 5000, true, FileFormat, "notice: Information: File Format Is Error"};
    QTest::newRow("device content differs") << Case{good, true, 5000, 5000, false, ImageMismatch, ""};
    QTest::newRow("no device") << Case{good, false, 5000, 5000, true, NoDevice, "no device found"};
    QTest::newRow("no version reply") << Case{good, true, 5000, 200, true, NoVersionReply, ""};
    const QByteArray digest = QCryptographicHash::hash(good, QCryptographicHash::Sha256);
    QTest::newRow("--sha256 matches") << Case{good, true, 5000, 5000, true, Success, "matches", digest};
    QTest::newRow("--sha256 differs")
        << Case{good.left(900), true, 5000, 5000, true, ImageDigest, "differs from --sha256", digest};
}

void UnattendedTest::runs()
{
    QFETCH(Case, c);
    Rig rig(c.plugged);
    setLanguageOverride(QLocale::English);
    rig.device->setFirmwareNumber(std::uint16_t(c.deviceVersion));
    MainWindow w;
    unattended::Options options;
    options.imagePath = writeFile(dir, "run.fw", c.file);
    options.versionTimeoutMs = c.versionTimeoutMs;
    options.sha256 = c.sha256;
    options.verify = [&] { return c.verifies ? unattended::Success : unattended::ImageMismatch; };
    std::FILE* out = options.out = std::tmpfile();
    QCOMPARE(unattended::Driver(options).run(w), c.status);

    std::rewind(out);
    QByteArray text(1 << 16, '\0');
    text.resize(int(std::fread(text.data(), 1, size_t(text.size()), out)));
    std::fclose(out);
    QVERIFY2(text.contains(c.printed), text.constData());
    QVERIFY(text.count("progress") <= 12);
    if (c.status == unattended::ImageDigest) // nothing was read, nothing reached the device
        QCOMPARE(rig.sent(DeviceModel::FrameKind::Start), std::size_t(0));
    QVERIFY(!w.dspTimer->isActive() && !w.armTimer->isActive() && !w.delayTimer->isActive());
}

QTEST_MAIN(UnattendedTest)
#include "tst_unattended.moc"
