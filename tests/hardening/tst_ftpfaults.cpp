// The update server's side of the fault matrix: the window's whole online
// road (its version check answered Yes and the download through libcurl,
// or the list and then the image through the updater's FTP client), the
// start button pressed on what arrived, against a server that
// streams without end, sends more than it announced, drips, cuts the data
// connection, names a path through URL syntax, or serves a wrong digest or
// signature, and every attack of docs/security.md (rollback, wrong model,
// swapped or planted files, stale lists, endless lists). The window's own
// downloads against a misbehaving server are in tst_onlineflow.
#include "online/testserver.h"
#include "qtbridge/bytes.h"
#include "support/rig.h"

#include "app/checkupdate.h"
#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "online/imageverify.h"
#include "online/onlinefetch.h"
#include "online/release.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QToolButton>
#include <QtTest>

#include <algorithm>
#include <memory>

#include <sys/stat.h>

namespace {
constexpr notices::Id kFailed = notices::Id::FetchFailed, kSucceeded = notices::Id::DownloadSucceeded,
                      kFailure = notices::Id::DownloadFailed, kNetwork = notices::Id::NetworkWarning;

using ServerScript = std::function<void(ScriptedServer&)>;
using Local = std::function<void(const QString&)>;
using Fetch = online::Road;
// What the server does; with the key built in or not; the last notice on
// libcurl's road and on the updater's FTP client's; whether the image is
// kept and written; what a local attacker or an earlier run left in the download
// tree (the tree's root given; those files must stay as they are); another
// image replacing the saved file after its check; a keyless build not
// started with --allow-unsigned (the other keyless rows are).
struct Row {
    const char* name;
    ServerScript server;
    bool key;
    notices::Id curl, ftp;
    bool kept;
    Local local = {};
    bool swap = false, refuse = false;
};
// A whole online run: the row on one road, with that road's last notice.
struct Road {
    Fetch fetch;
    notices::Id notice;
    Row row;
};

// Release metadata for `image`, signed with `key`.
void putRelease(ScriptedServer& s, const QByteArray& image, const QByteArray& key,
                std::uint64_t counter = 3215, qint64 expiresIn = 86400, const QString& model = "KRV3200")
{
    const QByteArray text = release::format({model, "3215", "3215.bin", image.size(),
                                             QCryptographicHash::hash(image, QCryptographicHash::Sha256),
                                             counter, QDateTime::currentSecsSinceEpoch() + expiresIn});
    s.files["KRV3200/KRV3200.release"] = text.toStdString();
    s.files["KRV3200/KRV3200.release.sig"] = imageverify::sign(text, key).toStdString();
}

} // namespace
Q_DECLARE_METATYPE(Road)

class FtpFaultTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(imageverify::makeKeyPair(&publicKey, &secretKey)); }
    void onlineRoad_data();
    void onlineRoad();

private:
    QByteArray publicKey, secretKey;
};

void FtpFaultTest::onlineRoad_data()
{
    using Stream = ScriptedServer::Stream;
    QTest::addColumn<Road>("road");
    const auto stream = [](Stream how, long long announce = -1) -> ServerScript {
        return [=](ScriptedServer& s) { s.stream = how, s.announce = announce; };
    };
    const auto put = [](std::string name, QByteArray bytes) -> ServerScript {
        return [=](ScriptedServer& s) { s.files[name.empty() ? s.faultFile : name] = bytes.toStdString(); };
    };
    const auto companion = [](const char* suffix, QByteArray bytes) -> ServerScript {
        return [=](ScriptedServer& s) { s.files[s.faultFile + suffix] = bytes.toStdString(); };
    };
    const auto sha256 = [](const std::string& bytes) {
        return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
                   .toHex() +
               "  3215.bin\n";
    };
    const std::string image = sampleImage(400, 1000, 3215).toStdString();
    const QByteArray other = sampleImage(400, 1000, 5015), key = secretKey;
    const auto serve = [=](const char* list, const char* name, QByteArray bytes) -> ServerScript {
        return [=](ScriptedServer& s) {
            s.files["KRV3200/KRV3200.txt"] = list;
            s.files[name] = bytes.toStdString();
            s.files[name + std::string(".sig")] = imageverify::sign(bytes, key).toStdString();
        };
    };
    const auto plant = [](const char* path, QByteArray bytes) -> Local {
        return [=](const QString& root) { QVERIFY(writeFile(root + path, bytes)); };
    };
    const ServerScript segmented = [](ScriptedServer& s) {
        const char seg = ScriptedServer::kSegment;
        s.greeting =
            std::string("220-Welcome\r\n") + seg + "220-to the update server\r\n" + seg + "220 ready\r\n";
        s.replies["PASS"] = {std::string("230-Logged in.\r\n") + seg + "230 Go on.\r\n"};
    };
    const Local links = [](const QString& root) {
        QVERIFY(writeFile(root + "/victim", "mine"));
        for (const char* name : {"KRV3200.txt", "3215.bin", "3215.bin.sha256", "3215.bin.sig"})
            QVERIFY(QFile::link(root + "/victim", root + "/file/KRV3200/" + name));
    };
    const notices::Id no = notices::Id::FileNotice, none = notices::Id::None; // no: not run on that road
    const bool failed = false, ok = true;
    // Faults of the server, then the attacks of docs/security.md.
    const Row rows[] = {
        {"no SIZE, endless stream", stream(Stream::Endless, -2), false, kFailure, kFailed, failed},
        {"SIZE 1000, 10 MB sent", stream(Stream::Extra, 1000), false, kFailure, kFailed, failed},
        {"SIZE 1000, endless stream", stream(Stream::Endless, 1000), false, no, kFailed, failed},
        {"drip", stream(Stream::Drip), false, kFailure, kFailed, failed},
        {"data connection cut", stream(Stream::Cut), false, kFailure, kFailed, failed},
        {"not an image", put({}, "garbage"), false, kFailure, no, failed},
        {"version with URL syntax", put("KRV3200/KRV3200.txt", "9999;type=a\n"), false, kNetwork, no, failed},
        {"wrong digest", companion(".sha256", sha256(image + "x")), false, kFailure, kFailed, failed},
        {"bad signature, key built in", companion(".sig", QByteArray(64, 's')), true, kFailure, no, failed},
        {"no signature, key built in", [](ScriptedServer& s) { s.files.erase(s.faultFile + ".sig"); }, true,
         kFailure, no, failed},
        {"digest and signature good", companion(".sha256", sha256(image)), true, kSucceeded, no, ok},
        {"multi-line replies in segments, signed", segmented, true, no, kSucceeded, ok},
        {"rollback: a lower release counter than seen", nullptr, true, kNetwork, none, failed,
         plant("/release-counters", "KRV3200 3216\n")},
        {"rollback: older image under a newer name",
         serve("3299\n", "KRV3200/3299.bin", QByteArray::fromStdString(image)), false, kFailure, kFailed,
         failed},
        {"freeze: expired release metadata",
         [=](ScriptedServer& s) { putRelease(s, QByteArray::fromStdString(image), key, 3215, -1); }, true,
         kNetwork, none, failed},
        {"freeze: the list names the device's version, the release a newer one",
         put("KRV3200/KRV3200.txt", "3201\n"), true, kSucceeded, kSucceeded, ok},
        {"freeze: release metadata withheld",
         [](ScriptedServer& s) { s.files.erase("KRV3200/KRV3200.release"); }, true, kNetwork, none, failed},
        {"unsigned image, keyless build", nullptr, false, notices::Id::UnsignedRefused,
         notices::Id::UnsignedRefused, failed, nullptr, false, true},
        {"mix-and-match: metadata of another image", [=](ScriptedServer& s) { putRelease(s, other, key); },
         true, kFailure, kFailed, failed},
        {"wrong model: another family's image", serve("5015\n", "KRV3200/5015.bin", other), false, kFailure,
         kFailed, failed},
        {"wrong model: version 9 is older by number", serve("9\n", "KRV3200/9.bin", other), false,
         notices::Id::LatestVersion, no, failed},
        {"empty .sha256", companion(".sha256", ""), false, kFailure, kFailed, failed},
        {"SIZE refused for a wrong .sha256",
         [=](ScriptedServer& s) {
             s.faultFile += ".sha256", s.announce = -2,
                                       s.files[s.faultFile] = sha256(image + "x").toStdString();
         },
         false, kFailure, kFailed, failed},
        {".sha256 of another file", companion(".sha256", sha256(image).replace("3215.bin", "3216.bin")),
         false, kFailure, no, failed},
        {"endless list", put("KRV3200/KRV3200.txt", "3215" + QByteArray(70000, '\n')), false, kNetwork, no,
         failed},
        {"stale list in the cache, none on the server",
         [](ScriptedServer& s) { s.files.erase("KRV3200/KRV3200.txt"); }, false, kNetwork, no, failed,
         plant("/file/KRV3200/KRV3200.txt", "3215\n")},
        {"planted links in the download folder", nullptr, true, kSucceeded, kSucceeded, ok, links},
        {"partial download of a killed run", nullptr, true, kSucceeded, no, ok,
         plant("/file/.fetch-2147483647-0/KRV3200/3215.bin", "part")},
        {"file swapped after its check", nullptr, true, kSucceeded, kSucceeded, ok, nullptr, true},
        {"counter store damaged (a CR)", nullptr, true, kNetwork, none, failed,
         plant("/release-counters", "KRV3200 3216\r\n")},
        {"counter store a FIFO", nullptr, true, no, none, failed,
         [](const QString& root) { QVERIFY(::mkfifo(qPrintable(root + "/release-counters"), 0600) == 0); }},
        {"download folder others can write", nullptr, false, kNetwork, no, failed,
         [](const QString& root) { QVERIFY(::chmod(qPrintable(root + "/file"), 0777) == 0); }},
    };
    for (const Row& r : rows) {
        if (r.curl != no)
            QTest::addRow("curl: %s", r.name) << Road{Fetch::Curl, r.curl, r};
        if (r.ftp != no)
            QTest::addRow("ftpclient: %s", r.name) << Road{Fetch::FtpClient, r.ftp, r};
    }
}

void FtpFaultTest::onlineRoad()
{
    QFETCH(Road, road);
    const Row& r = road.row;
    // The image is kept (in the download directory and in the device) only
    // by a good run. Short for the faults a deadline must end; a verified
    // run gets time.
    const bool kept = r.kept;
    const int deadlineMs = kept || r.key ? 30000 : 3000;
    const QByteArray image = sampleImage(400, 1000, 3215);
    ScriptedServer server;
    server.faultFile = "KRV3200/3215.bin";
    server.files = {{"KRV3200/KRV3200.txt", "3215\n3201\n"},
                    {server.faultFile, image.toStdString()},
                    {server.faultFile + ".sig", imageverify::sign(image, secretKey).toStdString()}};
    putRelease(server, image, secretKey);
    if (r.server)
        r.server(server);
    server.start();
    ScopedServices services;
    int status = -1; // the window's exit status; -1: the process would go on
    services.server({QStringLiteral("127.0.0.1"), server.port()}).exit([&](int s) { status = s; });

    Rig rig;
    rig.device->setFirmwareNumber(3201);
    const QTemporaryDir dir;
    Boxes boxes;
    MainWindow w;
    w.onlineContext = {
        r.key ? QString::fromLatin1(publicKey.toHex()) : QString(), {deadlineMs, 1 << 20}, false, !r.refuse};
    w.appDirPath = dir.path();
    w.Slot_CheckFile();
    const auto tree = [&] {
        QStringList files;
        for (QDirIterator it(dir.filePath("file"), QDir::Files | QDir::Hidden | QDir::System,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            files << it.next().mid(dir.path().size());
        return files.sort(), files;
    };
    if (r.local)
        r.local(dir.path());
    const QStringList planted = tree();
    QElapsedTimer clock;
    clock.start();
    if (road.fetch == Fetch::Curl) {
        // As --check-update runs it: once the version reply is in (a second
        // after start-up); Yes downloads.
        const CheckUpdateWhenVersionKnown check(w);
        QTRY_VERIFY(check.done());
    } else {
        QTRY_VERIFY(!w.versionReply.isEmpty());
        // The list as the window reads it, then the image it names through
        // the window's FTP client.
        QStringList list;
        if (w.Slot_LoadingMessageFile("KRV3200/KRV3200.txt", {}, list) == 0) {
            w.serverFilePath = "KRV3200/" + list.first() + ".bin";
            const QString into = dir.filePath("file/");
            QMetaObject::invokeMethod(&w, "LoadFile", Q_ARG(QString, w.serverFilePath), Q_ARG(QString, into));
            w.filePath = into + w.serverFilePath;
        }
    }
    const qint64 elapsed = clock.elapsed();
    if (w.ui->toolButton_2->isEnabled()) {
        if (r.swap)
            QVERIFY(QFile::remove(w.filePath) &&
                    writeFile(w.filePath, toQByteArray(fwimage::pack(fwimage::sampleBytes(400, 7),
                                                                     fwimage::sampleBytes(1000, 8), 3216))));
        w.ui->toolButton_2->click();
        QTRY_VERIFY_WITH_TIMEOUT(status >= 0, 20000);
    }
    // The session's road (the cli, its station, the simulator) on the same
    // server, for the signed rows and the refusal (on the own client's slow
    // road the freeze rows only): an image where the window got one, "up to
    // date" only where it said so (the counter only checked).
    const bool session =
        r.refuse || (r.key && (road.fetch == Fetch::Curl || QByteArray(r.name).startsWith("freeze")));
    bool upToDate = false;
    const online::ImageResult got =
        session ? online::fetchNewest({road.fetch, "127.0.0.1", server.port()}, dir.path(), 3201,
                                      w.onlineContext, &upToDate, false)
                : online::ImageResult();
    QVERIFY2(!session || (got.ok == kept && upToDate == (road.notice == notices::Id::LatestVersion) &&
                          got.refused == r.refuse),
             qPrintable(got.why));
    // Metadata that expired after its check (the window's box left open)
    // no longer lets the image pass.
    release::Metadata stale;
    if (session && kept &&
        release::parse(QByteArray::fromStdString(server.files["KRV3200/KRV3200.release"]), &stale)) {
        stale.expires = QDateTime::currentSecsSinceEpoch() - 1;
        QVERIFY(QDir(dir.path()).mkpath("late"));
        const online::ImageResult late =
            online::fetchVerifiedImage({{road.fetch, "127.0.0.1", server.port()},
                                        dir.filePath("late"),
                                        "KRV3200",
                                        "3215",
                                        3201,
                                        w.onlineContext,
                                        online::counterFileOf(dir.path()),
                                        false,
                                        std::make_shared<const release::Metadata>(stale)});
        QVERIFY2(!late.ok && late.why.contains("expired"), qPrintable(late.why));
    }
    const std::vector<std::string> commands = server.finish();
    // What decides is fetched once per check (the window's download takes
    // what its check found); with a key the plain list not at all.
    const auto retrs = [&](const std::string& name) {
        return std::count(commands.begin(), commands.end(), "RETR " + name) +
               std::count(commands.begin(), commands.end(), "RETR KRV3200/" + name);
    };
    QVERIFY(retrs(r.key ? "KRV3200.txt" : "KRV3200.release") == 0 &&
            retrs(r.key ? "KRV3200.release" : "KRV3200.txt") <= 1 + int(session));

    // Every notice answered; the success notice only for a good run.
    QList<notices::Id> notices = boxes.ids();
    QCOMPARE(notices.removeAll(notices::Id::Completion), int(kept));
    QCOMPARE(notices.value(notices.size() - 1), road.notice);
    QCOMPARE(notices.contains(kSucceeded), kept);
    // Generous: the version query, the deadline, the login pauses and a
    // loaded machine.
    QVERIFY2(elapsed < deadlineMs + 9000, qPrintable(QString::number(elapsed)));
    // Nothing but the whole, verified image stays; no scratch files.
    // Planted files stay (a link at the image's name is replaced, its
    // target untouched), a killed run's partial download goes.
    QStringList expected = planted.filter(QRegularExpression("^(?!.*/\\.fetch-)"));
    if (kept && !expected.contains("/file/KRV3200/3215.bin"))
        expected << "/file/KRV3200/3215.bin";
    expected.sort();
    QCOMPARE(tree(), expected);
    QVERIFY(!QFileInfo::exists(dir.filePath("victim")) || readFile(dir.filePath("victim")) == "mine");
    if (kept && !r.swap)
        QCOMPARE(readFile(dir.filePath("file/KRV3200/3215.bin")), image);
    QCOMPARE(rig.sent(DeviceModel::FrameKind::Start), std::size_t(kept ? 1 : 0));
    if (kept) // what passed the checks, not what lies in the file now
        QCOMPARE(toQByteArray(rig.device->dspImage()) + toQByteArray(rig.device->armImage()), image.mid(16));
    // The escaped name never reached the server as a path.
    for (const std::string& c : commands)
        QVERIFY2(c.find("9999") == std::string::npos && c.find("..") == std::string::npos, c.c_str());
}

QTEST_MAIN(FtpFaultTest)
#include "tst_ftpfaults.moc"
