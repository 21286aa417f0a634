// The cli's look for its device on the virtual bus (found, missing, other
// ids, present but not openable, the bounded wait for one plugged later) and
// its command-line manners; several devices of the model: the listing with
// serials, places and firmware numbers, the choice by path or serial and the
// refusal when nothing was chosen, and the
// station (--all, --watch, one device) with sessions in this process, online
// ones fetching their own images from a loopback server, its JSON records
// read back with a JSON parser.
#include "app/mainwindow.h"
#include "cli/devicepresence.h"
#include "cli/eventlog.h"
#include "cli/station.h"
#include "image/firmwareimage.h"
#include "online/imageverify.h"
#include "online/release.h"
#include "online/testserver.h"
#include "support/rig.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <map>
#include <set>
#include <sys/stat.h>
#include <thread>

using namespace cli;

class StationTest : public QObject {
    Q_OBJECT
private slots:
    void look();
    void waits();
    void commandLine();
    void listAndSelect();
    void hungWriteEndsOnlyItsSession();
    void resultRecordPerDevice();
    void interruptTwice();
    void watchFlashesArrivals();
    void onlineSessions();
    void readmeCommands_data();
    void readmeCommands();
    void textForPeople();

private:
    QTemporaryDir dir_;
    QString writeImage() { return writeFile(dir_, "image.fw", sampleImage(400, 1000, 5001)); }
    StationOptions options(HidPlatform* bus, EventLog* events = nullptr, const QString& log = {});
    // The records in the file at `path`; without one, those of `text`.
    static std::vector<QJsonObject> records(const QString& path, const QByteArray& text = {});
};

// Quiet sessions on `bus` writing the sample image, recording into `log`
// through `events` when given.
StationOptions StationTest::options(HidPlatform* bus, EventLog* events, const QString& log)
{
    StationOptions s;
    s.platform = bus;
    QString error;
    if (!loadSessionImage(writeImage(), &s.session) || (events && !events->openLog(log, &error)))
        qFatal("no image or no log: %s", qPrintable(error));
    s.out = s.err = nullptr;
    s.events = events;
    return s;
}

std::vector<QJsonObject> StationTest::records(const QString& path, const QByteArray& text)
{
    std::vector<QJsonObject> out;
    QFile f(path);
    for (const QByteArray& line : (f.open(QIODevice::ReadOnly) ? f.readAll() : text).split('\n')) {
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (!line.isEmpty() && !doc.isObject())
            qFatal("not a JSON object: %s", line.constData());
        if (!line.isEmpty())
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
        paths.push_back(
            rig.bus.plug(VirtualHidBus::deviceInterface(models.back(), {}, "SN" + std::to_string(i))));
    }
    // A device of the model that never answers.
    paths.push_back(rig.bus.plug(VirtualHidBus::deviceInterface(nullptr, {}, "SILENT")));
    VirtualHidInterface other; // another product: not listed
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
        QVERIFY(list[i].path == paths[i] && list[i].writable && locations.insert(list[i].location).second);
        QCOMPARE(list[i].serial, i < 3 ? "SN" + std::to_string(i) : std::string("SILENT"));
        QCOMPARE(list[i].firmware, i < 3 ? 3201 + i : -1);
    }
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
        // An ambiguous look lists the devices for the refusal.
        QVERIFY2(p.ambiguous == row.ambiguous &&
                     p.path == (row.found < 0 ? std::string() : paths[row.found]) &&
                     (!row.ambiguous || p.devices.size() == 4),
                 row.name);
    }
    // Interfaces reporting one serial are one device: no ambiguity.
    Rig twin(false);
    auto model = std::make_shared<DeviceModel>();
    const std::string first = twin.bus.plug(VirtualHidBus::deviceInterface(model, {}, "ONE"));
    twin.bus.plug(VirtualHidBus::deviceInterface(model, {}, "ONE"));
    QCOMPARE(lookForDevice(twin.bus, 0x0483, 0x0525).path, first); // an ambiguous look picks none
}

// The bus, with every feature write to the device of serial HANG taking
// 5 s first: a device slow to take a feature report.
struct SlowBus : VirtualHidBus {
    std::atomic<int> inFlight{0};
    bool setFeature(HidHandle h, const std::uint8_t* d, std::size_t n) override
    {
        ++inFlight;
        std::string serial;
        if (getSerialNumber(h, &serial) && serial == "HANG")
            std::this_thread::sleep_for(std::chrono::seconds(5));
        const bool ok = VirtualHidBus::setFeature(h, d, n);
        return --inFlight, ok;
    }
};

// A write that hangs past its deadline ends only its own session
// (WriteStalled): the other device runs at its own pace (a transfer of a
// second and a half), not at the hung device's 5 s per write, and every
// handle is closed afterwards.
void StationTest::hungWriteEndsOnlyItsSession()
{
    SlowBus bus;
    std::vector<DeviceInfo> devices;
    for (const char* serial : {"S0", "HANG"})
        devices.push_back(
            {bus.plug(VirtualHidBus::deviceInterface(std::make_shared<DeviceModel>(), {}, serial)),
             serial,
             {},
             true,
             {}});
    StationOptions s = options(&bus);
    s.session.writeDeadlineMs = 300;
    Station station(s);
    QCOMPARE(station.flashAll(devices), int(SomeDevicesFailed));
    std::map<std::string, Station::Result> result;
    for (const Station::Result& r : station.results())
        result[r.device.serial] = r;
    QCOMPARE(result["HANG"].status, int(WriteStalled));
    QCOMPARE(result["S0"].status, int(Success));
    const double s0 = result["S0"].seconds;
    QVERIFY2(s0 > 0.5 && s0 < 4.0, qPrintable(QString::number(s0)));
    QTRY_VERIFY_WITH_TIMEOUT(bus.inFlight == 0, 10000); // the hung write's thread is done
    QCOMPARE(bus.openHandleCount(), 0);
}

// The records of sessions: one result record per device, with its status, a
// sane duration and no firmware number afterwards (the device was not
// asked); the last progress record of a success says 100. A station of one
// device returns that device's own status.
void StationTest::resultRecordPerDevice()
{
    VirtualHidBus bus;
    std::vector<DeviceInfo> devices;
    for (const auto& [serial, firmware] : {std::pair("OK", 5000), std::pair("OLDER", 5002)}) {
        auto m = std::make_shared<DeviceModel>();
        m->setFirmwareNumber(std::uint16_t(firmware));
        devices.push_back({bus.plug(VirtualHidBus::deviceInterface(m, {}, serial)), serial, {}, true, {}});
    }
    const QString log = dir_.filePath("sessions.jsonl");
    EventLog events;
    StationOptions s = options(&bus, &events, log);
    QCOMPARE(Station(s).flashAll(devices), int(SomeDevicesFailed));
    std::map<std::string, int> recorded, lastPercent;
    for (const QJsonObject& r : records(log)) {
        const std::string serial = r.value("serial").toString().toStdString();
        const double seconds = r.value("duration_s").toDouble(-1);
        if (r.value("event").toString() == "progress")
            lastPercent[serial] = r.value("percent").toInt();
        else if (r.value("event").toString() == "result" && !r.value("path").toString().isEmpty() &&
                 !r.contains("firmware_after") && seconds >= 0 && seconds < 60)
            recorded[serial] = r.value("status").toInt(-1);
    }
    QCOMPARE(recorded, (std::map<std::string, int>{{"OK", Success}, {"OLDER", ImageOlder}}));
    QCOMPARE(lastPercent["OK"], 100);
    s.single = true;
    s.events = nullptr;
    QCOMPARE(Station(s).flashAll({devices[1]}), int(ImageOlder));
}

// Ctrl-C: the first lets the running devices finish; the second stops them,
// and each still gets its result record.
void StationTest::interruptTwice()
{
    Rig rig(false);
    std::vector<DeviceInfo> devices(2);
    for (DeviceInfo& d : devices)
        d = {rig.bus.plug(VirtualHidBus::deviceInterface(std::make_shared<DeviceModel>())), {}, {}, true, {}};
    const QString log = dir_.filePath("interrupt.jsonl");
    EventLog events;
    const StationOptions s = options(&rig.bus, &events, log);
    for (const int interrupts : {1, 2}) {
        Station station(s);
        // In the transfer: the version query goes out after 1 s.
        QTimer::singleShot(1300, &station, [&] {
            for (int i = 0; i < interrupts; ++i)
                station.interrupt();
        });
        QCOMPARE(station.flashAll(devices), interrupts == 1 ? int(Success) : int(SomeDevicesFailed));
        for (const Station::Result& r : station.results())
            QCOMPARE(r.status, interrupts == 1 ? int(Success) : int(Interrupted));
    }
    int stopped = 0;
    for (const QJsonObject& r : records(log))
        stopped += r.value("event").toString() == "result" && r.value("status").toInt() == Interrupted;
    QCOMPARE(stopped, 2);
}

void StationTest::watchFlashesArrivals()
{
    Rig rig(false);
    StationOptions s = options(&rig.bus);
    s.session.allowReinstall = true; // the same device comes back
    Station station(s);

    // Three devices arrive one after the other; once all are done the first
    // leaves and comes back (flashed again), the others stay (not again).
    auto model = std::make_shared<DeviceModel>();
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i)
        QTimer::singleShot(200 + 700 * i, &rig.bus, [&, i] {
            paths.push_back(rig.bus.plug(VirtualHidBus::deviceInterface(model, {}, "N" + std::to_string(i))));
        });
    int phase = 0;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (phase == 0 && station.results().size() == 3) {
            phase = 1;
            rig.bus.unplug(paths[0]);
            QTimer::singleShot(300, &rig.bus,
                               [&] { rig.bus.plug(VirtualHidBus::deviceInterface(model, paths[0], "N0")); });
        } else if (phase == 1 && station.results().size() == 4) {
            phase = 2;
            // Ctrl-C, with a few rechecks first that must start nothing.
            QTimer::singleShot(1200, &station, [&] { station.interrupt(); });
        }
    });
    poll.start(50);
    QTimer::singleShot(60000, &station, [&] { station.interrupt(), station.interrupt(); });
    QCOMPARE(station.watch(rig.bus, 0x0483, 0x0525, 200), int(Success));
    QCOMPARE(phase, 2);
    QStringList order; // serial=status
    for (const Station::Result& r : station.results())
        order << QString::fromStdString(r.device.serial) + "=" + QString::number(r.status);
    QCOMPARE(order, (QStringList{"N0=0", "N1=0", "N2=0", "N0=0"}));
}

void StationTest::onlineSessions()
{
    // Online, each session fetches its own image over loopback after its
    // version reply, on either fetch road, and writes exactly the verified
    // bytes: two devices, one already up to date, one of no model; no
    // scratch left behind. Then a drip-fed download cut short by the
    // session's time limit while it still runs: nothing is written. Then a
    // check: the same outcomes, nothing written; the release counter is
    // kept by a signed run, not by a check.
    const QByteArray image = sampleImage(400, 1000, 3215);
    QByteArray key, secret;
    QVERIFY(imageverify::makeKeyPair(&key, &secret));
    const QByteArray meta = release::format({"KRV3200", "3215", "3215.bin", image.size(),
                                             QCryptographicHash::hash(image, QCryptographicHash::Sha256), 7,
                                             QDateTime::currentSecsSinceEpoch() + 3600});
    // Last, a keyless run not allowed unsigned images: none is fetched.
    const std::tuple<online::Road, bool, bool, bool> runs[] = {{online::Road::Curl, false, false, false},
                                                               {online::Road::FtpClient, false, false, false},
                                                               {online::Road::Curl, true, false, false},
                                                               {online::Road::Curl, false, true, false},
                                                               {online::Road::FtpClient, false, false, true}};
    for (const auto& [road, drip, check, refuse] : runs) {
        ScriptedServer server;
        server.faultFile = "KRV3200/3215.bin";
        server.files = {{"KRV3200/KRV3200.txt", "3215\n"},
                        {server.faultFile, image.toStdString()},
                        {server.faultFile + ".sig", imageverify::sign(image, secret).toStdString()},
                        {"KRV3200/KRV3200.release", meta.toStdString()},
                        {"KRV3200/KRV3200.release.sig", imageverify::sign(meta, secret).toStdString()}};
        server.stream = drip ? ScriptedServer::Stream::Drip : server.stream;
        server.start();
        Rig rig(false);
        const std::map<std::string, int> expected =
            drip ? std::map<std::string, int>{{"A", Timeout}}
                 : std::map<std::string, int>{{"A", refuse ? DownloadFailed : Success},
                                              {"B", refuse ? DownloadFailed : Success},
                                              {"C", UpToDate},
                                              {"D", DownloadFailed}};
        std::map<std::string, std::shared_ptr<DeviceModel>> models;
        std::vector<DeviceInfo> devices;
        for (const auto& [serial, status] : expected) {
            auto& m = models[serial] = std::make_shared<DeviceModel>();
            m->setFirmwareNumber(serial == "C" ? 3215 : serial == "D" ? 999 : 3201);
            devices.push_back(
                {rig.bus.plug(VirtualHidBus::deviceInterface(m, {}, serial)), serial, {}, true, {}});
        }
        const QString root = dir_.filePath(
            QStringLiteral("online-%1-%2-%3-%4").arg(int(road)).arg(drip).arg(check).arg(refuse));
        StationOptions s = options(&rig.bus); // the image given is replaced by the fetched one
        s.session.check = check;
        // Signed on libcurl's road (the scripted server takes one client at a
        // time: two sessions' five fetches each on the own client's road queue
        // past its greeting bound).
        const bool signed_ = road == online::Road::Curl;
        s.session.context = {
            signed_ ? QString::fromLatin1(key.toHex()) : QString(), {4000, 1 << 20}, false, !refuse};
        s.session.online = true;
        s.session.source = {road, QStringLiteral("127.0.0.1"), server.port()};
        s.session.dataRoot = root;
        s.session.timeoutMs = drip ? 1500 : 20000;
        Station station(s);
        QElapsedTimer clock;
        clock.start();
        station.flashAll(devices);
        QVERIFY(!drip || clock.elapsed() < 3000);
        std::map<std::string, int> status;
        for (const Station::Result& r : station.results())
            status[r.device.serial] = r.status;
        QCOMPARE(status, expected);
        // No scratch left (a fetch cut short ends on its own thread later).
        QVERIFY(drip ||
                QDir(root + "/file").entryList(QDir::Hidden | QDir::AllEntries).filter(".fetch").isEmpty());
        QTest::qWait(100); // the cut fetch's result, posted back, reaches no one
        for (const auto& [serial, m] : models)
            QVERIFY(check
                        ? m->frames().size() == 1
                        : m->count(DeviceModel::FrameKind::Start) == std::size_t(status[serial] == Success) &&
                              (status[serial] != Success || (m->dspImage() == fwimage::dspImage(image) &&
                                                             m->armImage() == fwimage::armImage(image))));
        QFile store(online::counterFileOf(root)); // the counter: kept by a signed run, not by a check
        QCOMPARE(store.open(QIODevice::ReadOnly) ? store.readAll() : QByteArray(),
                 QByteArray(signed_ && !check && !drip ? "KRV3200 7\n" : ""));
        // Each session its own download of the image.
        QStringList commands;
        for (const std::string& c : server.finish())
            commands << QString::fromStdString(c);
        QCOMPARE(commands.filter(QRegularExpression("^RETR .*3215\\.bin$")).size(), drip     ? 1
                                                                                    : refuse ? 0
                                                                                             : 2);
    }
}

void StationTest::readmeCommands_data()
{
    // README's commands of fwimage and the simulator, fwimage's first (they
    // make the files the others name, from the dsp.bin and arm.bin made
    // here). The paragraph before a block states its outcome: "exit status
    // N" (else 0) and the "quoted" texts the output holds.
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QStringList>("outcome"); // the status, then the texts
    QFile readme(UPDATER_SOURCE_DIR "/README.md");
    QVERIFY(readme.open(QIODevice::ReadOnly) && QDir(dir_.path()).mkpath("readme"));
    writeFile(dir_, "readme/dsp.bin", QByteArray(400, 'd')),
        writeFile(dir_, "readme/arm.bin", QByteArray(1000, 'a'));
    QString said;
    QList<QPair<QStringList, QStringList>> rows;
    for (const QString& block : QString::fromUtf8(readme.readAll()).split("\n\n")) {
        QStringList outcome{QRegularExpression("exit status (\\d+)").match(said).captured(1)};
        for (auto q = QRegularExpression("\"([^\"]+)\"").globalMatch(said); q.hasNext();)
            outcome << q.next().captured(1).simplified();
        for (const QString& line :
             block.startsWith("    ") ? block.split('\n') : (said = block, QStringList()))
            if (line.contains(QRegularExpression("^ +(fwimage|firmware-updater[-a-z]*) ")))
                rows << qMakePair(line.section('#', 0, 0).simplified().split(' '), outcome);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return a.first[0] == "fwimage" && b.first[0] != "fwimage";
    });
    for (const auto& [command, outcome] : rows)
        QTest::newRow(qPrintable(command.join(' '))) << command << outcome;
    QVERIFY(rows.size() > 8);
}

void StationTest::readmeCommands()
{
    QFETCH(QStringList, command);
    QFETCH(QStringList, outcome);
    if (command.contains("--server") || !QStringList{"fwimage", "firmware-updater-sim"}.contains(command[0]))
        QSKIP(command.contains("--server") ? "needs an update server" : "needs a device (hardware)");
    QProcess p;
    p.setWorkingDirectory(dir_.filePath("readme"));
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(command[0] == "fwimage" ? FWIMAGE : FIRMWARE_UPDATER_SIM, command.mid(1));
    QVERIFY(p.waitForFinished(60000));
    const QString out = p.readAll();
    QVERIFY2(p.exitCode() == outcome[0].toInt(), qPrintable(out));
    for (const QString& text : outcome.mid(1))
        QVERIFY2(out.contains(text), qPrintable(text + " not in:\n" + out));
}

void StationTest::textForPeople()
{
    const struct {
        const char* in;
        const char* shown;
    } rows[] = {
        {"A1", "A1"},
        {"A\n\x1b[2J\rOK", "A\\n\\x1b[2J\\x0dOK"},
        {"back\\slash\ttab\x7f", "back\\\\slash\\ttab\\x7f"},
        {"\u009b31m", "\\u009b31m"},   // the one-byte CSI
        {"\u202eevil", "\\u202eevil"}, // right-to-left override
        {"Gr\u00fc\u00dfe", "Gr\u00fc\u00dfe"},
    };
    for (const auto& row : rows)
        QCOMPARE(QString::fromStdString(printable(row.in)), QString::fromUtf8(row.shown));
    QCOMPARE(shownPath("/dev/hidraw0?VID_0483&PID_0525"), std::string("/dev/hidraw0"));
    QCOMPARE(shownPath("\\\\?\\hid#VID_0483&PID_0525#1"), std::string("\\\\?\\hid#VID_0483&PID_0525#1"));
    const DeviceInfo hidraw{"/dev/hidraw0?VID_0483&PID_0525", rows[1].in, {}, false, {}};
    const QString line = resultLine(hidraw, 0, 1);
    QVERIFY(!line.contains('\n') && !line.contains('\x1b') && !line.contains('?'));
    QVERIFY((Selection{"/dev/hidraw0", {}}.matches(hidraw)));
    QCOMPARE(progressLine(50, 100, 1000, 4), QStringLiteral("[##..]  50%  50/100 B  ETA 1 s"));
    QCOMPARE(progressLine(250, 100, 1000, 4), QStringLiteral("[####] 100%  100/100 B  ETA 0 s"));
}

void StationTest::look()
{
    // The interfaces plugged in order, as "vid:pid" with "!" when nobody may
    // open it and "r" when only for reading; the one found (-1: none).
    const struct {
        QStringList interfaces;
        int found;
        bool writable;
    } rows[] = {
        {{"1234:5678", "0483:0526", "0483:0525"}, 2, true}, // among others
        {{}, -1, false},
        {{"0483:0526"}, -1, false},  // another product
        {{"0483:0525!r"}, 0, false}, // no access at all: known by its path
        {{"0483:0525r"}, 0, false},  // read-only access
        {{"1234:5678!"}, -1, false}, // a foreign one nobody may open
        // Two devices, none chosen: no pick at random, even when only one opens.
        {{"0483:0525!", "0483:0525"}, -1, false},
    };
    for (const auto& row : rows) {
        VirtualHidBus bus;
        std::vector<std::string> paths;
        for (const QString& i : row.interfaces) {
            VirtualHidInterface s = VirtualHidBus::deviceInterface(std::make_shared<DeviceModel>());
            s.vendorId = std::uint16_t(i.left(4).toUInt(nullptr, 16));
            s.productId = std::uint16_t(i.mid(5, 4).toUInt(nullptr, 16));
            s.probeFails = i.contains('!');
            s.writeOpenFails = i.contains('r');
            paths.push_back(bus.plug(s));
        }
        const Presence p = lookForDevice(bus, 0x0483, 0x0525);
        // Not writable though found: the reason is given. Every probe and test
        // open is closed again.
        QVERIFY2(p.path == (row.found < 0 ? std::string() : paths[row.found]) && p.writable == row.writable &&
                     p.error.empty() == (row.found < 0 || row.writable) && bus.openHandleCount() == 0,
                 qPrintable(row.interfaces.join(' ')));
    }
}

void StationTest::waits()
{
    // A device plugged later is waited for, once told of; one present from
    // the start needs no wait. Bounded: 0 looks once; a device that stays
    // unopenable is reported once the time is up.
    VirtualHidBus bus, empty;
    std::string plugged;
    QTimer::singleShot(300, &bus, [&] {
        plugged = bus.plug(VirtualHidBus::deviceInterface(std::make_shared<DeviceModel>()));
    });
    static int waitingCalls = 0;
    const auto wait = [](VirtualHidBus& b, double s) {
        return waitForDevice(b, 0x0483, 0x0525, s, 50, [] { ++waitingCalls; });
    };
    const Presence p = wait(bus, 20);
    QVERIFY(p.path == plugged && p.writable);
    QVERIFY(wait(bus, 20).writable);
    QVERIFY(wait(empty, 0).path.empty() && wait(empty, 0.4).path.empty());
    QCOMPARE(waitingCalls, 2); // told only when it waits: the first and the 0.4 s look
    VirtualHidInterface locked = VirtualHidBus::deviceInterface(std::make_shared<DeviceModel>());
    locked.writeOpenFails = true;
    const std::string path = empty.plug(locked);
    const Presence q = wait(empty, 0.3);
    QVERIFY(q.path == path && !q.writable);
}

void StationTest::commandLine()
{
    // The cli with no device of the model attached, and the simulator with
    // three virtual devices (firmware 3201) that restart after the
    // completion: exit status, stdout and stderr (regular expressions over
    // the text with its lines joined by spaces; "^$": empty), and what the
    // records say (of --log, or of stdout with --json): a listed device as
    // serial@path=firmware, a result as serial=status/firmware_after/
    // confirmed ("-": absent), sorted. An image that cannot be used is said
    // before any device is looked for, also where the wait would be endless.
    const QString image = writeImage(), log = dir_.filePath("records.jsonl"), dir = dir_.path(),
                  empty = writeFile(dir_, "empty.fw", {}),
                  shortFile = writeFile(dir_, "short.fw", "0123456789"),
                  text = writeFile(dir_, "text.fw", QByteArray(200, 'x')), fifo = dir_.filePath("fifo.fw"),
                  wait = " --wait-device 30", zeros = " --sha256 " + QString(64, '0');
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0); // its open would wait for a writer
    const struct {
        bool sim;
        QString args;
        int exit;
        const char* out;
        QString err;
        const char* records;
        int interruptMs = 0; // Ctrl-C after this long (0: none)
    } rows[] = {
        {false, "", Usage, "^$", "--image or --server is required", ""},
        {false, "--json --image x.fw --wait-device soon", Usage, "", "--wait-device needs", "=64/-/-"},
        {false, "--server host:0", Usage, "^$", "--server needs HOST\\[:PORT\\]", ""},
        {false, "--all --watch --image x.fw", Usage, "^$", "exclude each other", ""},
        {false, "--all --serial S --image x.fw", Usage, "^$", "no --device or --serial with them", ""},
        {false, "--image x.fw extra", Usage, "^$", "-cli: unexpected argument .extra. \\(see --help\\)$", ""},
        {false, "--json --image " + image + " --log " + dir, LogUnusable, "", "log " + dir, "=73/-/-"},
        {false, "--image x.fw --log /nonexistent-dir/log", LogUnusable, "^$", "No such file", ""},
        {false, "--image " + dir + "/none.fw" + wait, FileFormat, "^$", "none.fw: No such file", "=23/-/-"},
        {false, "--json --image " + dir + wait, FileFormat, "", "directory", "=23/-/-"},
        {false, "-q --image " + empty + wait, FileFormat, "^$", "empty", "=23/-/-"},
        {false, "--image " + fifo + wait, FileFormat, "^$", "not a regular file", "=23/-/-"},
        {false, "--image " + shortFile + " --all", FileFormat, "^$", "shorter than", "=23/-/-"},
        {false, "--image " + text + " --watch", FileFormat, "^$", "text.fw: not a firmware image", "=23/-/-"},
        {false, "--image " + image + zeros + wait, ImageDigest, "^$", "not the 0+ of", "=24/-/-"},
        {false, "--list --json", 0, "^$", "^$", ""},
        {false, "--json --wait-device 0 --image " + image, NoDevice, "", "no device", "=10/-/-"},
        {true, "--list", 0, "^PATH .*SIM-3", "^$",
         "SIM-1@/dev/hidraw0=3201 SIM-2@/dev/hidraw1=3201 SIM-3@/dev/hidraw2=3201"},
        {true, "--all --confirm 3 --fault 2:no-return --fault 3:reboot-old-version", SomeDevicesFailed,
         " 1 of 3 devices written$", "", "SIM-1=0/5001/1 SIM-2=36/null/0 SIM-3=37/3201/0"},
        {true, "--all --fault 2:refuse-all-writes", SomeDevicesFailed,
         "SIM-2\\): status 11, .* 2 of 3 devices written$", "", "SIM-1=0/-/- SIM-2=11/-/- SIM-3=0/-/-"},
        // Judged before any device: once, not per device.
        {true, "--all --image " + text, FileFormat, "^$", "not a firmware image", "=23/-/-"},
        {true, "--all" + zeros, ImageDigest, "^$", "SHA-256 is [0-9a-f]{64}, not", "=24/-/-"},
        // One device, chosen by the shown path; one that took a frame wrong
        // unseen; an image older than the devices, the same.
        {true, "--device /dev/hidraw1 --confirm", 0, "^start .*OK ", ": update complete", "SIM-2=0/5001/1"},
        {true, "--serial SIM-2 --fault 2:corrupt-write=9", ImageMismatch, "", "", "SIM-2=30/-/-"},
        {true, "--serial SIM-1 --device-version 5002", ImageOlder, "", "image is older", "SIM-1=25/-/-"},
        {true, "--serial SIM-1 --device-version 5001", ImageSame, "", "", "SIM-1=26/-/-"},
        {true, "--serial SIM-3 --confirm=3 --reboot-ms 0", NotBack, "", "", "SIM-3=36/null/0"},
        // A fetch that fails says where and why in words.
        {true, "--serial SIM-1 --server 127.0.0.1:1", DownloadFailed, "",
         "^(?!.*curl told us).*server 127.0.0.1:1, file KRV3200/KRV3200.txt: [A-Z].* \\(libcurl 7\\)",
         "SIM-1=41/-/-"},
        // None chosen: refused, the devices listed, a result without a device.
        {true, "", SeveralDevices, "", "",
         "=13/-/- SIM-1@/dev/hidraw0=null SIM-2@/dev/hidraw1=null SIM-3@/dev/hidraw2=null"},
        {true, "--all --fault 4:drop-start-ack", Usage, "^$", "--fault needs", ""},
        {true, "--all --fault 1:drop-start-ack=1", Usage, "^$", "--fault 1", ""},
        // The devices restart after their run: no new devices to write again.
        {true, "--watch", 0, " 3 of 3 devices written$", "", "SIM-1=0/5001/1 SIM-2=0/5001/1 SIM-3=0/5001/1",
         7000},
    };
    for (const auto& row : rows) {
        QFile::remove(log);
        QProcess p;
        p.start(row.sim ? QStringLiteral(FIRMWARE_UPDATER_SIM) : QStringLiteral(FIRMWARE_UPDATER_CLI),
                (row.sim ? QStringList{"--devices", "3", "--image", image} : QStringList()) +
                    QStringList{"--log", log} + row.args.split(' ', Qt::SkipEmptyParts));
        if (row.interruptMs > 0 && !p.waitForFinished(row.interruptMs))
            ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY2(p.waitForFinished(row.sim ? 60000 : 10000) && p.exitStatus() == QProcess::NormalExit,
                 qPrintable(row.args));
        const QByteArray out = p.readAllStandardOutput();
        const QString flatOut = QString(out).replace('\n', ' ').trimmed(),
                      flatErr = QString(p.readAllStandardError()).replace('\n', ' ').trimmed();
        QVERIFY2(
            p.exitCode() == row.exit && flatOut.contains(QRegularExpression(row.out)) &&
                flatErr.contains(QRegularExpression(row.err)),
            qPrintable(row.args + ": " + QString::number(p.exitCode()) + " " + flatOut + " / " + flatErr));
        QStringList seen;
        auto field = [](const QJsonObject& r, const char* name) {
            const QJsonValue v = r.value(name);
            return v.isUndefined() ? QStringLiteral("-")
                   : v.isNull()    ? QStringLiteral("null")
                                   : QString::number(v.toVariant().toInt());
        };
        for (const QJsonObject& r : records(row.args.contains("--json") ? QString() : log, out)) {
            const QString serial = r.value("serial").toString();
            // An absent value is null, never an empty text; a file that is
            // no image has no version.
            for (const QJsonValue& v : r)
                QVERIFY2(v != QJsonValue(QString()), qPrintable(row.args));
            QVERIFY(r.value("status") != FileFormat || r.value("image_version").isNull());
            if (r.value("event") == "device" && r.contains("writable"))
                seen << serial + "@" + r.value("path").toString() + "=" + field(r, "firmware");
            else if (r.value("event") == "result")
                seen << serial + "=" + field(r, "status") + "/" + field(r, "firmware_after") + "/" +
                            field(r, "confirmed") +
                            (r["check"] == true
                                 ? "/" + field(r, "firmware_before") + ">" + field(r, "image_version")
                                 : "");
        }
        seen.sort();
        QCOMPARE(seen.join(' '), QString(row.records));
    }
    // README's exit statuses are the table's (1, 2, 4, 5 and 20-23 in a row
    // of their own), and so are those each program's --help (its man page)
    // lists.
    QFile readme(UPDATER_SOURCE_DIR "/README.md");
    QVERIFY(readme.open(QIODevice::ReadOnly));
    auto numbers = [](const QString& text, const char* row) {
        std::set<int> found;
        const QRegularExpression rows(row, QRegularExpression::MultilineOption), number("(\\d+)(-(\\d+))?");
        for (auto r = rows.globalMatch(text); r.hasNext();)
            for (auto n = number.globalMatch(r.next().captured(1)); n.hasNext();) {
                const QRegularExpressionMatch m = n.next();
                for (int i = m.captured(1).toInt(); i <= m.captured(m.lastCapturedIndex()).toInt(); ++i)
                    found.insert(i);
            }
        return found;
    };
    const std::set<int> documented =
        numbers(QString::fromUtf8(readme.readAll()).section("## Exit statuses", 1).section("\n## ", 0, 0),
                "^\\| ([0-9, -]+) \\|");
    QVERIFY(documented == numbers(statusHelp(), "^ +(\\d+)  "));
    for (const char* program : {FIRMWARE_UPDATER_CLI, FIRMWARE_UPDATER_SIM}) {
        QProcess help;
        help.start(program, {"--help"});
        QVERIFY(help.waitForFinished(10000));
        const QString text = help.readAllStandardOutput();
        const std::set<int> listed = numbers(text, "^ +(\\d+)  ");
        QVERIFY(!text.contains("station-child")); // the station's own option, not the user's
        QVERIFY2(listed.size() > 20 &&
                     std::includes(documented.begin(), documented.end(), listed.begin(), listed.end()),
                 program);
    }
}

QTEST_MAIN(StationTest)
#include "tst_station.moc"
