// The unattended driver: whole runs ending in success, in a notice that
// stops the road, in a failed verification, without a device or its reply.
#include "harness.h"

#include "app/mainwindow.h"
#include "sim/unattended.h"

#include <QtTest>

#include <cstdio>

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
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("plugged");
    QTest::addColumn<int>("deviceVersion");
    QTest::addColumn<int>("versionTimeoutMs");
    QTest::addColumn<bool>("verifies");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("printed");
    const QByteArray good = sampleImage(400, 1000, 5001);
    using namespace unattended;
    QTest::newRow("written") << good << true << 5000 << 5000 << true << int(Success)
                             << "completion: information";
    QTest::newRow("older file goes on") << good << true << 5002 << 5000 << true << int(Success)
                                        << "notice: Information: The firmware file version is lower";
    QTest::newRow("malformed file") << good.left(900) << true << 5000 << 5000 << true << int(FileFormat)
                                    << "notice: Information: File Format Is Error";
    QTest::newRow("device content differs")
        << good << true << 5000 << 5000 << false << int(ImageMismatch) << "";
    QTest::newRow("no device") << good << false << 5000 << 5000 << true << int(NoDevice) << "no device found";
    QTest::newRow("no version reply") << good << true << 5000 << 200 << true << int(NoVersionReply) << "";
}

void UnattendedTest::runs()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, plugged);
    QFETCH(int, deviceVersion);
    QFETCH(int, versionTimeoutMs);
    QFETCH(bool, verifies);
    QFETCH(int, status);
    QFETCH(QString, printed);
    Rig rig(plugged);
    setLanguageOverride(QLocale::English);
    rig.device->setFirmwareNumber(std::uint16_t(deviceVersion));
    MainWindow w;
    unattended::Options options;
    options.imagePath = writeFile(dir, "run.fw", file);
    options.versionTimeoutMs = versionTimeoutMs;
    options.verify = [&] { return verifies ? unattended::Success : unattended::ImageMismatch; };
    std::FILE* out = std::tmpfile();
    options.out = out;
    unattended::Driver driver(options);
    QCOMPARE(driver.run(w), status);

    std::rewind(out);
    QByteArray text(1 << 16, '\0');
    text.resize(int(std::fread(text.data(), 1, size_t(text.size()), out)));
    std::fclose(out);
    QVERIFY2(text.contains(printed.toUtf8()), text.constData());
    QVERIFY(text.count("progress") <= 12);
    QVERIFY(!w.dspTimer->isActive() && !w.armTimer->isActive() && !w.delayTimer->isActive());
}

QTEST_MAIN(UnattendedTest)
#include "tst_unattended.moc"
