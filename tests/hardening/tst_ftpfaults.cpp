// The update server's side of the fault matrix: what a download through the
// updater's own FTP client shows when the server misbehaves, through the
// window's LoadFile slot against a scripted server on loopback; the whole
// online road on both fetch roads through the unattended driver against a
// server that streams without end, sends more than it announced, drips,
// cuts the data connection, names a path through URL syntax, or serves a
// wrong digest or signature, and every attack of docs/security.md (rollback,
// wrong model, swapped or planted files, stale lists, endless lists); and
// the version check with no server to reach.
#include "online/testserver.h"
#include "qtbridge/bytes.h"
#include "support/rig.h"

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "online/fetchlimits.h"
#include "online/imageverify.h"
#include "online/release.h"
#include "online/updateserver.h"
#include "sim/unattended.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace {
constexpr notices::Id kFailed = notices::Id::FetchFailed;
constexpr notices::Id kSucceeded = notices::Id::DownloadSucceeded;
constexpr notices::Id kFailure = notices::Id::DownloadFailed;
constexpr notices::Id kNetwork = notices::Id::NetworkWarning;
// What the server sends for RETR: a well-formed image of 32 bytes.
const std::string kImage =
    toQByteArray(fwimage::pack(QByteArray(8, 'd'), QByteArray(8, 'a'), 2015)).toStdString();

// A whole online run: what the server does, the road, what must follow.
struct Road {
    unattended::Options::Fetch fetch;
    std::function<void(ScriptedServer&)> server;
    bool keyBuiltIn;
    int deadlineMs;     // the download's deadline for this run
    notices::Id notice; // the last notice shown
    int status;
    bool imageKept; // the image is in the download directory, and in the device
    // What a local attacker or an earlier run left in the download tree
    // (the tree's root given); those files must stay as they are.
    std::function<void(const QString&)> local = {};
    bool swapAfterDownload = false; // another image replaces the saved file
};

// Release metadata for `image`, signed with `key`.
void putRelease(ScriptedServer& s, const QByteArray& image, const QByteArray& key,
                std::uint64_t counter = 3215, qint64 expiresIn = 86400, const QString& model = "KRV3200")
{
    release::Metadata m{model,
                        "3215",
                        "3215.bin",
                        image.size(),
                        QCryptographicHash::hash(image, QCryptographicHash::Sha256),
                        counter,
                        QDateTime::currentSecsSinceEpoch() + expiresIn};
    const QByteArray text = release::format(m);
    s.files["KRV3200/KRV3200.release"] = text.toStdString();
    s.files["KRV3200/KRV3200.release.sig"] = imageverify::sign(text, key).toStdString();
}

enum class ServerFault {
    None,
    LongSizeReply,
    SizeRefused,
    SizeZero,
    DataRefused,
    CarriedCompletion,
    WidePort,
    MultiLineGreeting
};
} // namespace
Q_DECLARE_METATYPE(ServerFault)
Q_DECLARE_METATYPE(Road)

class FtpFaultTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(imageverify::makeKeyPair(&publicKey, &secretKey)); }
    void init();
    void download_data();
    void download();
    void versionCheckWithTheServerUnreachable();
    void onlineRoad_data();
    void onlineRoad();

private:
    std::unique_ptr<MainWindow> makeWindow();
    std::unique_ptr<QTemporaryDir> appDir;
    QByteArray publicKey, secretKey;
};

void FtpFaultTest::init()
{
    appDir = std::make_unique<QTemporaryDir>();
}

std::unique_ptr<MainWindow> FtpFaultTest::makeWindow()
{
    auto w = std::make_unique<MainWindow>();
    w->appDirPath = appDir->path();
    w->Slot_CheckFile();
    return w;
}

void FtpFaultTest::download_data()
{
    QTest::addColumn<ServerFault>("fault");
    QTest::addColumn<notices::Id>("notice");
    QTest::addColumn<int>("localSize"); // -1: no local file
    QTest::newRow("no fault") << ServerFault::None << kSucceeded << 32;
    QTest::newRow("SIZE reply of 1000 bytes") << ServerFault::LongSizeReply << kFailed << -1;
    QTest::newRow("SIZE refused (550)") << ServerFault::SizeRefused << kFailed << -1;
    QTest::newRow("SIZE of 0") << ServerFault::SizeZero << kFailed << -1;
    QTest::newRow("data connection refused") << ServerFault::DataRefused << kFailed << -1;
    QTest::newRow("150 and 226 in one receive") << ServerFault::CarriedCompletion << kSucceeded << 32;
    QTest::newRow("PASV port past 16 bits") << ServerFault::WidePort << kSucceeded << 32;
    QTest::newRow("multi-line greeting") << ServerFault::MultiLineGreeting << kSucceeded << 32;
}

void FtpFaultTest::download()
{
    QFETCH(ServerFault, fault);
    QFETCH(notices::Id, notice);
    QFETCH(int, localSize);

    ScriptedServer server;
    server.replies["SIZE"] = {"213 32\r\n", ""};
    server.data = kImage;
    switch (fault) {
    case ServerFault::None:
        break;
    case ServerFault::LongSizeReply: {
        std::string reply = "213 32";
        reply += std::string(1000 - reply.size() - 2, ' ') + "\r\n";
        server.replies["SIZE"] = {reply, ""};
        break;
    }
    case ServerFault::SizeRefused:
        server.replies["SIZE"] = {"550 no such file\r\n", ""};
        break;
    case ServerFault::SizeZero:
        server.replies["SIZE"] = {"213 0\r\n", ""};
        break;
    case ServerFault::DataRefused: {
        const int closed = closedLoopbackPort();
        server.passiveReply = [closed](int) {
            return "227 Entering Passive Mode (127,0,0,1," + std::to_string(closed / 256) + "," +
                   std::to_string(closed % 256) + ")\r\n";
        };
        // Nothing can arrive, so no completion reply follows the refusal.
        server.replies["RETR"] = {"150 sending\r\n", ""};
        server.replies["LIST"] = {"150 listing\r\n", ""};
        break;
    }
    case ServerFault::CarriedCompletion:
        server.replies["RETR"] = {"150 sending\r\n226 sent\r\n", ""};
        break;
    case ServerFault::WidePort:
        server.passiveReply = [](int port) {
            return "227 Entering Passive Mode (10,0,0,5," + std::to_string(port / 256 + 256) + "," +
                   std::to_string(port % 256) + ")\r\n";
        };
        break;
    case ServerFault::MultiLineGreeting:
        server.greeting = "220-welcome\r\n220-to the update server\r\n220 ready\r\n";
        break;
    }
    server.start();
    Rig rig(false);
    rig.services.language(QLocale::English).server({QStringLiteral("127.0.0.1"), server.port()});
    Boxes boxes;
    auto w = makeWindow();
    const QString local = appDir->filePath(QStringLiteral("file/KRV2000/2015.bin"));
    QVERIFY(QMetaObject::invokeMethod(w.get(), "LoadFile", Qt::DirectConnection,
                                      Q_ARG(QString, QStringLiteral("KRV2000/2015.bin")),
                                      Q_ARG(QString, appDir->filePath(QStringLiteral("file")))));
    server.finish();

    QCOMPARE(boxes.ids(), QList<notices::Id>{notice});
    QCOMPARE(w->ui->toolButton_2->isEnabled(), notice == kSucceeded);
    QCOMPARE(QFileInfo::exists(local) ? int(QFileInfo(local).size()) : -1, localSize);
}

void FtpFaultTest::versionCheckWithTheServerUnreachable()
{
    Rig rig(false);
    rig.services.language(QLocale::English).server({QStringLiteral("127.0.0.1"), closedLoopbackPort()});
    Boxes boxes;
    auto w = makeWindow();
    QByteArray reply(20, '\0');
    reply[0] = char(0x80);
    reply[1] = 0x0A;
    reply[6] = char(3215 & 0xff);
    reply[7] = char(3215 >> 8);
    w->versionReply = reply;

    QCOMPARE(w->Slot_GetRobotVersion(true), -1);
    QCOMPARE(boxes.ids(), QList<notices::Id>{notices::Id::NetworkWarning});
    // The check does not run again, and the file button stays off.
    QVERIFY(w->versionChecked && !w->ui->TBFlush->isEnabled());
    QCOMPARE(w->Slot_GetRobotVersion(true), -1);
    QCOMPARE(boxes.seen.size(), 1);
}

void FtpFaultTest::onlineRoad_data()
{
    using Fetch = unattended::Options::Fetch;
    using Stream = ScriptedServer::Stream;
    QTest::addColumn<Road>("road");
    const auto stream = [](Stream how, long long announce = -1) {
        return [=](ScriptedServer& s) {
            s.stream = how;
            s.announce = announce;
        };
    };
    const auto companion = [](const char* suffix, QByteArray bytes) {
        return [=](ScriptedServer& s) { s.files[s.faultFile + suffix] = bytes.toStdString(); };
    };
    const auto sha256 = [](const std::string& bytes) {
        return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
                   .toHex() +
               "  3215.bin\n";
    };
    const std::string image = sampleImage(400, 1000, 3215).toStdString();
    const int kShort = 3000, kLong = 30000;
    // libcurl, the window's own road.
    QTest::newRow("curl: no SIZE, endless stream") << Road{
        Fetch::Curl, stream(Stream::Endless, -2), false, kShort, kFailure, unattended::DownloadFailed, false};
    QTest::newRow("curl: SIZE 1000, 10 MB sent") << Road{
        Fetch::Curl, stream(Stream::Extra, 1000), false, kShort, kFailure, unattended::DownloadFailed, false};
    QTest::newRow("curl: drip") << Road{Fetch::Curl, stream(Stream::Drip),       false, kShort,
                                        kFailure,    unattended::DownloadFailed, false};
    QTest::newRow("curl: data connection cut")
        << Road{Fetch::Curl, stream(Stream::Cut), false, kShort, kFailure, unattended::DownloadFailed, false};
    QTest::newRow("curl: not an image")
        << Road{Fetch::Curl, [](ScriptedServer& s) { s.files[s.faultFile] = "garbage"; },
                false,       kShort,
                kFailure,    unattended::DownloadFailed,
                false};
    QTest::newRow("curl: version with URL syntax")
        << Road{Fetch::Curl, [](ScriptedServer& s) { s.files["KRV3200/KRV3200.txt"] = "9999;type=a\n"; },
                false,       kShort,
                kNetwork,    unattended::DownloadFailed,
                false};
    QTest::newRow("curl: wrong digest") << Road{Fetch::Curl, companion(".sha256", sha256(image + "x")),
                                                false,       kShort,
                                                kFailure,    unattended::DownloadFailed,
                                                false};
    QTest::newRow("curl: bad signature, key built in")
        << Road{Fetch::Curl, companion(".sig", QByteArray(64, 's')),
                true,        kShort,
                kFailure,    unattended::DownloadFailed,
                false};
    QTest::newRow("curl: no signature, key built in")
        << Road{Fetch::Curl, [](ScriptedServer& s) { s.files.erase(s.faultFile + ".sig"); },
                true,        kShort,
                kFailure,    unattended::DownloadFailed,
                false};
    QTest::newRow("curl: digest and signature good") << Road{
        Fetch::Curl, companion(".sha256", sha256(image)), true, kLong, kSucceeded, unattended::Success, true};
    // The updater's own FTP client.
    QTest::newRow("ftpclient: SIZE 1000, 10 MB sent")
        << Road{Fetch::FtpClient, stream(Stream::Extra, 1000), false, kShort,
                kFailed,          unattended::DownloadFailed,  false};
    QTest::newRow("ftpclient: SIZE 1000, endless stream")
        << Road{Fetch::FtpClient, stream(Stream::Endless, 1000), false, kShort,
                kFailed,          unattended::DownloadFailed,    false};
    QTest::newRow("ftpclient: drip") << Road{Fetch::FtpClient, stream(Stream::Drip),       false, kShort,
                                             kFailed,          unattended::DownloadFailed, false};
    QTest::newRow("ftpclient: data connection cut") << Road{
        Fetch::FtpClient, stream(Stream::Cut), false, kShort, kFailed, unattended::DownloadFailed, false};
    QTest::newRow("ftpclient: wrong digest")
        << Road{Fetch::FtpClient, companion(".sha256", sha256("x")), false, kLong,
                kFailed,          unattended::DownloadFailed,        false};
    QTest::newRow("ftpclient: multi-line replies in segments, signed")
        << Road{Fetch::FtpClient,
                [](ScriptedServer& s) {
                    const char seg = ScriptedServer::kSegment;
                    s.greeting = std::string("220-Welcome\r\n") + seg + "220-to the update server\r\n" + seg +
                                 "220 ready\r\n";
                    s.replies["PASS"] = {std::string("230-Logged in.\r\n") + seg + "230 Go on.\r\n"};
                },
                true,
                kLong,
                kSucceeded,
                unattended::Success,
                true};

    // Attacks (docs/security.md), on both roads where the road matters.
    const QByteArray other = sampleImage(400, 1000, 5015), key = secretKey;
    const auto serve = [=](const char* list, const char* name, QByteArray bytes) {
        return [=](ScriptedServer& s) {
            s.files["KRV3200/KRV3200.txt"] = list;
            s.files[name] = bytes.toStdString();
            s.files[name + std::string(".sig")] = imageverify::sign(bytes, key).toStdString();
        };
    };
    const auto plant = [](const char* path, QByteArray bytes) {
        return [=](const QString& root) { QVERIFY(writeFile(root + path, bytes)); };
    };
    const auto seen = [](std::uint64_t counter) {
        return [=](const QString& root) {
            QVERIFY(writeFile(root + "/release-counters",
                              "KRV3200 " + QByteArray::number(quint64(counter)) + "\n"));
        };
    };
    const struct {
        const char* name;
        std::function<void(ScriptedServer&)> server;
        bool key;
        notices::Id curl, ftp; // None: the row runs on the libcurl road only
        int status;
        std::function<void(const QString&)> local;
        bool swap;
    } attacks[] = {
        {"rollback: a lower release counter than seen",
         {},
         true,
         kFailure,
         kFailed,
         unattended::DownloadFailed,
         seen(3216),
         false},
        {"rollback: older image under a newer name",
         serve("3299\n", "KRV3200/3299.bin", QByteArray::fromStdString(image)),
         false,
         kFailure,
         kFailed,
         unattended::DownloadFailed,
         {},
         false},
        {"freeze: expired release metadata",
         [=](ScriptedServer& s) { putRelease(s, QByteArray::fromStdString(image), key, 3215, -1); },
         true,
         kFailure,
         notices::Id::None,
         unattended::DownloadFailed,
         {},
         false},
        {"mix-and-match: metadata of another image",
         [=](ScriptedServer& s) { putRelease(s, other, key); },
         true,
         kFailure,
         notices::Id::None,
         unattended::DownloadFailed,
         {},
         false},
        {"wrong model: another family's image",
         serve("5015\n", "KRV3200/5015.bin", other),
         false,
         kFailure,
         kFailed,
         unattended::DownloadFailed,
         {},
         false},
        {"wrong model: version 9 is older by number",
         serve("9\n", "KRV3200/9.bin", other),
         false,
         notices::Id::LatestVersion,
         notices::Id::None,
         unattended::UpToDate,
         {},
         false},
        {"empty .sha256",
         companion(".sha256", ""),
         false,
         kFailure,
         kFailed,
         unattended::DownloadFailed,
         {},
         false},
        {".sha256 of another file",
         companion(".sha256", sha256(image).replace("3215.bin", "3216.bin")),
         false,
         kFailure,
         notices::Id::None,
         unattended::DownloadFailed,
         {},
         false},
        {"endless list",
         [](ScriptedServer& s) { s.files["KRV3200/KRV3200.txt"] = "3215" + std::string(70000, '\n'); },
         false,
         kNetwork,
         notices::Id::None,
         unattended::DownloadFailed,
         {},
         false},
        {"stale list in the cache, none on the server",
         [](ScriptedServer& s) { s.files.erase("KRV3200/KRV3200.txt"); }, false, kNetwork, notices::Id::None,
         unattended::DownloadFailed, plant("/file/KRV3200/KRV3200.txt", "3215\n"), false},
        {"planted links in the download folder",
         {},
         true,
         kSucceeded,
         kSucceeded,
         unattended::Success,
         [](const QString& root) {
             QVERIFY(writeFile(root + "/victim", "mine"));
             for (const char* name : {"KRV3200.txt", "3215.bin", "3215.bin.sha256", "3215.bin.sig"})
                 QVERIFY(QFile::link(root + "/victim", root + "/file/KRV3200/" + name));
         },
         false},
        {"partial download of a killed run",
         {},
         true,
         kSucceeded,
         notices::Id::None,
         unattended::Success,
         plant("/file/.fetch-2147483647-0/KRV3200/3215.bin", "part"),
         false},
        {"file swapped after its check", {}, true, kSucceeded, kSucceeded, unattended::Success, {}, true},
    };
    for (const auto& a : attacks) {
        const bool good = a.status == unattended::Success;
        const int deadline = good || a.key ? kLong : kShort;
        QTest::addRow("curl: %s", a.name)
            << Road{Fetch::Curl, a.server, a.key, deadline, a.curl, a.status, good, a.local, a.swap};
        if (a.ftp != notices::Id::None)
            QTest::addRow("ftpclient: %s", a.name)
                << Road{Fetch::FtpClient, a.server, a.key, deadline, a.ftp, a.status, good, a.local, a.swap};
    }
}

void FtpFaultTest::onlineRoad()
{
    QFETCH(Road, road);
    const QByteArray image = sampleImage(400, 1000, 3215);
    ScriptedServer server;
    server.faultFile = "KRV3200/3215.bin";
    server.files = {{"KRV3200/KRV3200.txt", "3215\n3201\n"},
                    {server.faultFile, image.toStdString()},
                    {server.faultFile + ".sig", imageverify::sign(image, secretKey).toStdString()}};
    putRelease(server, image, secretKey);
    if (road.server)
        road.server(server);
    server.start();
    ScopedServices services;
    services.server({QStringLiteral("127.0.0.1"), server.port()});
    fetchlimits::set({road.deadlineMs, 1 << 20});
    imageverify::setTrustedKeyText(road.keyBuiltIn ? QString::fromLatin1(publicKey.toHex()) : QString());

    Rig rig;
    rig.device->setFirmwareNumber(3201);
    auto w = makeWindow();
    QStringList planted;
    if (road.local) {
        road.local(appDir->path());
        for (QDirIterator it(appDir->filePath("file"), QDir::Files | QDir::Hidden | QDir::System,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            planted << it.next().mid(appDir->path().size());
    }
    unattended::Options options;
    options.online = true;
    options.fetch = road.fetch;
    options.verify = [&] {
        return toQByteArray(rig.device->dspImage()) + toQByteArray(rig.device->armImage()) == image.mid(16)
                   ? unattended::Success
                   : unattended::ImageMismatch;
    };
    if (road.swapAfterDownload)
        options.downloaded = [&](const QString& path) {
            QFile::remove(path);
            QVERIFY(writeFile(path, toQByteArray(fwimage::pack(fwimage::sampleBytes(400, 7),
                                                               fwimage::sampleBytes(1000, 8), 3216))));
        };
    std::FILE* out = options.out = std::tmpfile();
    QElapsedTimer clock;
    clock.start();
    unattended::Driver driver(options);
    const int status = driver.run(*w);
    const qint64 elapsed = clock.elapsed();
    const std::vector<std::string> commands = server.finish();
    qInfo("run %lld ms, server done after %lld ms", elapsed, clock.elapsed());
    fetchlimits::set({});
    imageverify::setTrustedKeyText(QString());
    std::rewind(out);
    QByteArray printed(1 << 16, '\0');
    printed.resize(int(std::fread(printed.data(), 1, std::size_t(printed.size()), out)));
    std::fclose(out);

    QCOMPARE(status, road.status);
    // The driver answers every notice; the success notice only for a good run.
    QList<notices::Id> notices = driver.notices();
    notices.removeAll(notices::Id::Completion);
    QVERIFY2(!notices.isEmpty() && notices.last() == road.notice, printed.constData());
    QCOMPARE(notices.contains(kSucceeded), road.imageKept);
    // Generous: the deadline, plus the login pauses and a loaded machine.
    QVERIFY2(elapsed < road.deadlineMs + 8000, qPrintable(QString::number(elapsed)));
    // Nothing but the whole, verified image stays; no scratch files.
    // Planted files stay (a link at the image's name is replaced, its
    // target untouched), a killed run's partial download goes.
    QStringList left, expected;
    for (QDirIterator it(appDir->filePath("file"), QDir::Files | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        left << it.next().mid(appDir->path().size());
    for (const QString& p : qAsConst(planted))
        if (!p.contains("/.fetch-"))
            expected << p;
    if (road.imageKept && !expected.contains("/file/KRV3200/3215.bin"))
        expected << "/file/KRV3200/3215.bin";
    left.sort();
    expected.sort();
    QCOMPARE(left, expected);
    QVERIFY(!QFileInfo::exists(appDir->filePath("victim")) || readFile(appDir->filePath("victim")) == "mine");
    if (road.imageKept && !road.swapAfterDownload)
        QCOMPARE(readFile(appDir->filePath("file/KRV3200/3215.bin")), image);
    QCOMPARE(rig.sent(DeviceModel::FrameKind::Start), std::size_t(road.imageKept ? 1 : 0));
    // The escaped name never reached the server as a path.
    for (const std::string& c : commands)
        QVERIFY2(c.find("9999") == std::string::npos && c.find("..") == std::string::npos, c.c_str());
}

QTEST_MAIN(FtpFaultTest)
#include "tst_ftpfaults.moc"
