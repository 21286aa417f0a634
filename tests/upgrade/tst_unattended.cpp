// The unattended driver: whole runs ending in success, in a notice that
// stops the road, in a failed verification (the simulator's check of the
// virtual device), without a device or its reply.
#include "support/rig.h"

#include "app/mainwindow.h"
#include "sim/deviceverify.h"
#include "sim/unattended.h"

#include <QCryptographicHash>
#include <QtTest>

#include <cstdio>

namespace {
struct Case {
    QByteArray file;
    bool plugged;
    int deviceVersion, versionTimeoutMs;
    int refuseWrite, unplugAfter; // device faults, 1-based frame numbers
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
    // DSP 408 / ARM 216: frames 1 to 83 are the query, the start, the DSP
    // handshake, 51 blocks, the DSP end, the ARM handshake and 27 blocks;
    // frame 84 is the ARM end.
    const QByteArray small = sampleImage(408, 216, 5001);
    QTest::newRow("written") << Case{good, true, 5000, 5000, 0, 0, Success, "device holds exactly"};
    QTest::newRow("older file goes on") << Case{good, true, 5002, 5000, 0, 0, Success, "notice: "};
    QTest::newRow("malformed file") << Case{good.left(900), true, 5000, 5000, 0, 0, FileFormat, "notice: "};
    QTest::newRow("ARM end frame refused")
        << Case{small, true, 5000, 5000, 84, 0, ImageMismatch, "(no end frame)"};
    QTest::newRow("unplugged before the ARM end frame")
        << Case{small, true, 5000, 5000, 0, 83, ImageMismatch, "(no end frame)"};
    QTest::newRow("no device") << Case{good, false, 5000, 5000, 0, 0, NoDevice, "no device found"};
    QTest::newRow("no version reply") << Case{good, true, 5000, 200, 0, 0, NoVersionReply, ""};
    const QByteArray digest = QCryptographicHash::hash(good, QCryptographicHash::Sha256);
    QTest::newRow("--sha256 matches") << Case{good, true, 5000, 5000, 0, 0, Success, "matches", digest};
    QTest::newRow("--sha256 differs")
        << Case{good.left(900), true, 5000, 5000, 0, 0, ImageDigest, "differs from --sha256", digest};
}

void UnattendedTest::runs()
{
    QFETCH(Case, c);
    Rig rig(c.plugged);
    rig.services.language(QLocale::English);
    rig.device->setFirmwareNumber(std::uint16_t(c.deviceVersion));
    rig.device->setExpectedDspLength(fwimage::dspImage(c.file).size());
    rig.device->faults().refuseWrite = c.refuseWrite;
    rig.device->faults().unplugAfterFrames = c.unplugAfter;
    MainWindow w;
    unattended::Options options;
    options.imagePath = writeFile(dir, "run.fw", c.file);
    options.versionTimeoutMs = c.versionTimeoutMs;
    options.sha256 = c.sha256;
    std::FILE* out = options.out = std::tmpfile();
    options.verify = [&] { return unattended::verifyDevice(*rig.device, options.imagePath, out); };
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
