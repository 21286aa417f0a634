// Several devices of the model on the virtual bus: the listing with serials,
// places and firmware numbers, the choice by path or serial and the refusal
// when nothing was chosen, a window bound to one device, and the station
// (--all, --watch) with firmware-updater-sim children and with sessions in
// this process, its JSON records read back with a JSON parser.
#include "app/mainwindow.h"
#include "cli/devicepresence.h"
#include "cli/eventlog.h"
#include "cli/station.h"
#include "image/firmwareimage.h"
#include "support/rig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <map>
#include <set>

using namespace unattended;

class StationTest : public QObject {
    Q_OBJECT
private slots:
    void listAndSelect();
    void windowBoundToOnePath();
    void allWithOneUnplugged();
    void sessionsInOneLoop();
    void watchFlashesArrivals();
    void hungChildIsStopped();
    void rehearsal();
    void progressLineText();

private:
    QTemporaryDir dir_;
    QString writeImage();
    static std::vector<QJsonObject> records(const QString& path);
};

QString StationTest::writeImage()
{
    const QString path = dir_.filePath("image.fw");
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(sampleImage(400, 1000, 5001));
    return path;
}

std::vector<QJsonObject> StationTest::records(const QString& path)
{
    std::vector<QJsonObject> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            qWarning("not a JSON object: %s", line.constData());
            return {};
        }
        out.push_back(doc.object());
    }
    return out;
}

void StationTest::listAndSelect()
{
    Rig rig(false);
    std::vector<std::shared_ptr<DeviceModel>> models;
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i) {
        models.push_back(std::make_shared<DeviceModel>());
        models.back()->setFirmwareNumber(std::uint16_t(3201 + i));
        paths.push_back(rig.bus.plug(VirtualHidBus::deviceSpec(models.back(), {}, "SN" + std::to_string(i))));
    }
    VirtualInterfaceSpec silent; // a device of the model that never answers
    silent.serial = "SILENT";
    paths.push_back(rig.bus.plug(silent));
    VirtualInterfaceSpec other; // another product: not listed
    other.productId = 0x0526;
    rig.bus.plug(other);

    std::vector<DeviceInfo> list = listDevices(rig.bus, 0x0483, 0x0525);
    QElapsedTimer t;
    t.start();
    queryFirmwareNumbers(rig.bus, &list, 500);
    QVERIFY(t.elapsed() < 5000); // the silent one is given up on at the bound
    QCOMPARE(list.size(), std::size_t(4));
    std::set<std::string> locations;
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(list[i].path, paths[i]);
        QCOMPARE(list[i].serial, i < 3 ? "SN" + std::to_string(i) : std::string("SILENT"));
        QCOMPARE(list[i].firmware, i < 3 ? 3201 + i : -1);
        QVERIFY(list[i].writable);
        locations.insert(list[i].location);
    }
    QCOMPARE(locations.size(), std::size_t(4));
    QCOMPARE(rig.bus.openHandleCount(), 0);

    const struct {
        const char* name;
        Selection selection;
        int found; // index into paths; -1: none
        bool ambiguous;
    } rows[] = {
        {"nothing chosen among four", {}, -1, true},
        {"by path", {paths[2], {}}, 2, false},
        {"by serial", {{}, "SN1"}, 1, false},
        {"path and serial agree", {paths[0], "SN0"}, 0, false},
        {"path and serial disagree", {paths[0], "SN1"}, -1, false},
        {"unknown serial", {{}, "NOPE"}, -1, false},
    };
    for (const auto& row : rows) {
        const Presence p = lookForDevice(rig.bus, 0x0483, 0x0525, row.selection);
        QVERIFY2(p.ambiguous == row.ambiguous, row.name);
        QVERIFY2(p.path == (row.found < 0 ? std::string() : paths[row.found]), row.name);
        if (row.ambiguous)
            QCOMPARE(p.devices.size(), std::size_t(4)); // listed for the refusal
    }
    // Interfaces reporting one serial are one device: no ambiguity.
    Rig twin(false);
    auto model = std::make_shared<DeviceModel>();
    const std::string first = twin.bus.plug(VirtualHidBus::deviceSpec(model, {}, "ONE"));
    twin.bus.plug(VirtualHidBus::deviceSpec(model, {}, "ONE"));
    const Presence p = lookForDevice(twin.bus, 0x0483, 0x0525);
    QVERIFY(!p.ambiguous);
    QCOMPARE(p.path, first);
}

void StationTest::windowBoundToOnePath()
{
    Rig rig(false);
    auto a = std::make_shared<DeviceModel>();
    auto b = std::make_shared<DeviceModel>();
    const std::string pathA = rig.bus.plug(VirtualHidBus::deviceSpec(a, {}, "A"));
    const std::string pathB = rig.bus.plug(VirtualHidBus::deviceSpec(b, {}, "B"));
    QCoreApplication::processEvents();
    bindLinkToDevice(pathB);
    MainWindow window;
    QVERIFY(window.MyDevFound);
    QTRY_COMPARE(b->count(DeviceModel::FrameKind::VersionQuery), std::size_t(1));
    QCOMPARE(a->writes(), 0);

    // The other device leaving and coming back means nothing to this window.
    rig.bus.unplug(pathA);
    QTest::qWait(50);
    QVERIFY(!window.blDeviceRemoved);
    rig.bus.plug(VirtualHidBus::deviceSpec(a, pathA, "A"));
    QTest::qWait(50);
    QCOMPARE(b->count(DeviceModel::FrameKind::VersionQuery), std::size_t(1)); // no query for a stranger
    QCOMPARE(a->writes(), 0);
    // Its own device leaving does.
    rig.bus.unplug(pathB);
    QTRY_VERIFY(window.blDeviceRemoved);
}

void StationTest::allWithOneUnplugged()
{
    const QString image = writeImage();
    const QString log = dir_.filePath("all.jsonl");
    EventLog events;
    QString error;
    QVERIFY2(events.openLog(log, &error), qPrintable(error));

    // Four devices; the third leaves the bus in its DSP stage (frame 20 of
    // the 50 DSP blocks).
    std::vector<DeviceInfo> devices(4);
    for (int i = 0; i < 4; ++i) {
        devices[i].path = "station-" + std::to_string(i);
        devices[i].serial = "W" + std::to_string(i);
        devices[i].writable = true;
    }
    StationOptions s;
    s.program = QStringLiteral(FIRMWARE_UPDATER_SIM);
    s.arguments = [image](const DeviceInfo& d) {
        QStringList args{"--json", "--image", image, "--serial", QString::fromStdString(d.serial)};
        if (d.serial == "W2")
            args << "--unplug-after-frames"
                 << "20";
        return args;
    };
    s.out = nullptr;
    s.events = &events;
    Station station(s);
    QCOMPARE(station.flashAll(devices), int(SomeDevicesFailed));

    std::map<std::string, int> statusBySerial;
    for (const Station::Result& r : station.results())
        statusBySerial[r.device.serial] = r.status;
    const std::map<std::string, int> expected{{"W0", 0}, {"W1", 0}, {"W2", 2}, {"W3", 0}};
    QCOMPARE(statusBySerial, expected);

    // The records: one result per device with its serial, status and the
    // image's digest; the sim children exit 0 only when their device holds
    // exactly the image.
    QFile f(image);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString sha =
        QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());
    std::map<std::string, int> resultRecords;
    bool sawError2Notice = false;
    int progress = 0;
    for (const QJsonObject& r : records(log)) {
        const std::string serial = r.value("serial").toString().toStdString();
        const QString event = r.value("event").toString();
        if (event == "result") {
            resultRecords[serial] = r.value("status").toInt(-1);
            QCOMPARE(r.value("image_sha256").toString(), sha);
            QCOMPARE(r.value("firmware_before").toInt(), 5000);
        } else if (event == "notice" && serial == "W2") {
            sawError2Notice = r.value("status").toInt() == 2;
        } else if (event == "progress") {
            ++progress;
        }
    }
    QCOMPARE(resultRecords, expected);
    QVERIFY(sawError2Notice);
    QVERIFY(progress > 4 * 10);
}

void StationTest::sessionsInOneLoop()
{
    // Sessions in this process on one bus: four devices, the third leaving
    // in its DSP stage, a fifth that never answers the version query. A
    // device written by the window first gives the frames the sessions must
    // send too.
    const QString image = writeImage();
    QFile imageFile(image);
    QVERIFY(imageFile.open(QIODevice::ReadOnly));
    const QByteArray file = imageFile.readAll();
    Rig rig(false);
    fwimage::Header header;
    QVERIFY(fwimage::parseHeader(file, &header));
    std::map<std::string, std::shared_ptr<DeviceModel>> models;
    auto plug = [&](const std::string& serial) {
        auto m = std::make_shared<DeviceModel>();
        m->setExpectedDspLength(header.dspLength);
        models[serial] = m;
        DeviceInfo d;
        d.serial = serial;
        d.path = rig.bus.plug(VirtualHidBus::deviceSpec(m, {}, serial));
        d.writable = true;
        return d;
    };
    const DeviceInfo reference = plug("REF");
    Options windowRun;
    windowRun.imagePath = image;
    windowRun.out = stderr;
    QCOMPARE(flashDevice(reference, windowRun, nullptr, true), int(Success));
    rig.bus.unplug(reference.path);
    const int windowHandles = rig.bus.openHandleCount(); // the window's link keeps its own

    std::vector<DeviceInfo> devices;
    for (int i = 0; i < 4; ++i)
        devices.push_back(plug("S" + std::to_string(i)));
    models["S2"]->faults().unplugAfterFrames = 20;
    VirtualInterfaceSpec silent;
    silent.serial = "SILENT";
    DeviceInfo mute;
    mute.serial = "SILENT";
    mute.path = rig.bus.plug(silent);
    devices.push_back(mute);

    const QString log = dir_.filePath("sessions.jsonl");
    EventLog events;
    QString error;
    QVERIFY2(events.openLog(log, &error), qPrintable(error));
    StationOptions s;
    s.platform = &rig.bus;
    loadSessionImage(image, &s.session);
    s.session.versionTimeoutMs = 2000;
    s.session.verify = [&](const DeviceInfo& d) {
        const DeviceModel& m = *models.at(d.serial);
        const bool same = QByteArray(reinterpret_cast<const char*>(m.dspImage().data()),
                                     int(m.dspImage().size())) == fwimage::dspImage(file) &&
                          QByteArray(reinterpret_cast<const char*>(m.armImage().data()),
                                     int(m.armImage().size())) == fwimage::armImage(file);
        return same ? int(Success) : int(ImageMismatch);
    };
    s.out = nullptr;
    s.events = &events;
    {
        Station station(s);
        QCOMPARE(station.flashAll(devices), int(SomeDevicesFailed));
        std::map<std::string, int> status;
        for (const Station::Result& r : station.results())
            status[r.device.serial] = r.status;
        QCOMPARE(status, (std::map<std::string, int>{
                             {"S0", 0}, {"S1", 0}, {"S2", 2}, {"S3", 0}, {"SILENT", int(NoVersionReply)}}));
    }
    for (const char* serial : {"S0", "S1", "S3"})
        QVERIFY2(models[serial]->frames() == models["REF"]->frames(), serial);
    QCOMPARE(rig.bus.openHandleCount(), windowHandles);

    std::map<std::string, int> results;
    for (const QJsonObject& r : records(log)) {
        if (r.value("event").toString() == "result") {
            results[r.value("serial").toString().toStdString()] = r.value("status").toInt(-1);
            QCOMPARE(r.value("path").toString().isEmpty(), false);
        }
    }
    QCOMPARE(results.size(), std::size_t(5));
    QCOMPARE(results["S2"], 2);

    // A digest the image does not have: nothing but the version query goes out.
    const std::size_t framesBefore = models["S0"]->frames().size();
    s.session.sha256 = QByteArray(32, '\0');
    Station wrongDigest(s);
    QCOMPARE(wrongDigest.flashAll({devices[0]}), int(SomeDevicesFailed));
    QCOMPARE(wrongDigest.results().at(0).status, int(ImageDigest));
    QCOMPARE(models["S0"]->frames().size(), framesBefore + 1);
}

void StationTest::watchFlashesArrivals()
{
    const QString image = writeImage();
    Rig rig(false);
    StationOptions s;
    s.program = QStringLiteral(FIRMWARE_UPDATER_SIM);
    s.arguments = [image](const DeviceInfo& d) {
        return QStringList{"--json", "--image", image, "--serial", QString::fromStdString(d.serial)};
    };
    s.out = nullptr;
    Station station(s);

    // Three devices arrive one after the other; once all are done the first
    // leaves and comes back (flashed again), the others stay (not again).
    auto model = std::make_shared<DeviceModel>();
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i) {
        QTimer::singleShot(200 + 700 * i, &rig.bus, [&, i] {
            paths.push_back(rig.bus.plug(VirtualHidBus::deviceSpec(model, {}, "N" + std::to_string(i))));
        });
    }
    int phase = 0;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (phase == 0 && station.results().size() == 3) {
            phase = 1;
            rig.bus.unplug(paths[0]);
            QTimer::singleShot(300, &rig.bus,
                               [&] { rig.bus.plug(VirtualHidBus::deviceSpec(model, paths[0], "N0")); });
        } else if (phase == 1 && station.results().size() == 4) {
            phase = 2;
            // Ctrl-C, with a few rechecks first that must start nothing.
            QTimer::singleShot(1200, &station, [&] { station.interrupt(); });
        }
    });
    poll.start(50);
    QTimer::singleShot(60000, &station, [&] {
        station.interrupt();
        station.interrupt();
    });
    QCOMPARE(station.watch(rig.bus, 0x0483, 0x0525, 200), int(Success));
    QCOMPARE(phase, 2);
    QStringList order;
    for (const Station::Result& r : station.results()) {
        order << QString::fromStdString(r.device.serial);
        QCOMPARE(r.status, 0);
    }
    QCOMPARE(order, (QStringList{"N0", "N1", "N2", "N0"}));
}

void StationTest::hungChildIsStopped()
{
    // One device never answers the start command (its own "Error 1" would
    // take 10 s): the station stops it at its limit; the other is written.
    const QString image = writeImage();
    std::vector<DeviceInfo> devices(2);
    devices[0].path = "fine";
    devices[1].path = "hung";
    StationOptions s;
    s.program = QStringLiteral(FIRMWARE_UPDATER_SIM);
    s.arguments = [image](const DeviceInfo& d) {
        QStringList args{"--json", "--image", image};
        if (d.path == "hung")
            args << "--drop-start-ack";
        return args;
    };
    s.childTimeoutMs = 8000;
    s.out = nullptr;
    Station station(s);
    QCOMPARE(station.flashAll(devices), int(SomeDevicesFailed));
    std::map<std::string, int> status;
    for (const Station::Result& r : station.results())
        status[r.device.path] = r.status;
    QCOMPARE(status, (std::map<std::string, int>{{"fine", 0}, {"hung", int(Timeout)}}));
}

void StationTest::rehearsal()
{
    // firmware-updater-sim --devices 3: the cli's station on virtual devices
    // that restart after the completion. What its records say: a listed
    // device as serial@path=firmware; a result as
    // serial=status/firmware_after/confirmed ("-": absent), by serial.
    const QString image = writeImage();
    const struct {
        const char* args;
        int exit;
        const char* records;
        int interruptMs = 0; // Ctrl-C after this long (0: none)
    } rows[] = {
        {"--list", 0, "SIM-1@/dev/hidraw0=5000 SIM-2@/dev/hidraw1=5000 SIM-3@/dev/hidraw2=5000"},
        {"--all", 0, "SIM-1=0/-/- SIM-2=0/-/- SIM-3=0/-/-"},
        {"--all --confirm=3 --fault 2:no-return --fault 3:reboot-old-version", int(SomeDevicesFailed),
         "SIM-1=0/5001/1 SIM-2=36/null/0 SIM-3=37/5000/0"},
        // One device through the window, chosen by the shown path.
        {"--device /dev/hidraw1 --confirm", 0, "SIM-2=0/5001/1"},
        {"--serial SIM-3 --confirm=3 --reboot-ms 0", int(NotBack), "SIM-3=36/null/0"},
        // None chosen: refused, the devices listed.
        {"", int(SeveralDevices), "SIM-1@/dev/hidraw0=null SIM-2@/dev/hidraw1=null SIM-3@/dev/hidraw2=null"},
        {"--all --fault 4:drop-start-ack", int(Usage), ""},
        {"--all --fault 1:drop-start-ack=1", int(Usage), ""},
        {"--all --confirm 3", int(Usage), ""}, // not a 30 s wait with a stray word
        // The devices restart after their run: no new devices to write again.
        {"--watch", 0, "SIM-1=0/5001/1 SIM-2=0/5001/1 SIM-3=0/5001/1", 7000},
    };
    for (const auto& row : rows) {
        const QString log = dir_.filePath("rehearsal.jsonl");
        QFile::remove(log);
        QProcess sim;
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim.start(QStringLiteral(FIRMWARE_UPDATER_SIM),
                  QStringList{"--devices", "3", "--image", image, "--log", log} +
                      QString(row.args).split(' ', Qt::SkipEmptyParts));
        if (row.interruptMs > 0 && !sim.waitForFinished(row.interruptMs))
            ::kill(pid_t(sim.processId()), SIGINT);
        QVERIFY2(sim.waitForFinished(60000), row.args);
        QCOMPARE(sim.exitCode(), row.exit);
        QStringList seen;
        auto field = [](const QJsonObject& r, const char* name) {
            const QJsonValue v = r.value(name);
            return v.isUndefined() ? QStringLiteral("-")
                   : v.isNull()    ? QStringLiteral("null")
                                   : QString::number(v.toVariant().toInt());
        };
        for (const QJsonObject& r : records(log)) {
            const QString serial = r.value("serial").toString();
            if (r.value("event") == "device" && r.contains("writable"))
                seen << serial + "@" + r.value("path").toString() + "=" + field(r, "firmware");
            else if (r.value("event") == "result")
                seen << serial + "=" + field(r, "status") + "/" + field(r, "firmware_after") + "/" +
                            field(r, "confirmed");
        }
        seen.sort();
        QCOMPARE(seen.join(' '), QString(row.records));
    }
}

void StationTest::progressLineText()
{
    QCOMPARE(progressLine(0, 100, 0, 4), QStringLiteral("[....]   0%  0/100 B  ETA --"));
    QCOMPARE(progressLine(50, 100, 1000, 4), QStringLiteral("[##..]  50%  50/100 B  ETA 1 s"));
    QCOMPARE(progressLine(250, 100, 1000, 4), QStringLiteral("[####] 100%  100/100 B  ETA 0 s"));
}

QTEST_MAIN(StationTest)
#include "tst_station.moc"
