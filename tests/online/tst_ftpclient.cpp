// The updater's own FTP client against a real FTP server on loopback, and
// against a scripted server that sends exact bytes for the cases a real
// server will not produce on demand.
#include "online/ftpclient.h"
#include "online/ftpthread.h"
#include "online/updateserver.h"
#include "testserver.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

namespace {
QByteArray randomBytes(int size)
{
    std::mt19937 rng(static_cast<unsigned>(size));
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng());
    return bytes;
}

void login(FtpClient& client, int port)
{
    client.SetServerInfo(std::string("127.0.0.1"), "ftp", "qzx", port);
    client.SetTimeout(2000);
    QCOMPARE(client.Login(), 0);
}

// A scripted server that has served one login and then whatever the test asks.
struct ScriptedLogin {
    ScriptedServer server;
    FtpClient client;
    void start()
    {
        server.start();
        client.SetServerInfo(std::string("127.0.0.1"), "ftp", "qzx", server.port());
        client.SetTimeout(1000);
    }
};
} // namespace

class FtpClientTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void loginListsTheDirectory();
    void fileSize_data();
    void fileSize();
    void downloadIsByteExact_data();
    void downloadIsByteExact();
    void downloadOfAMissingFile();
    void upload();
    void simpleCommands();
    void quit();
    void threadFetchesUntilStopped();

    void multiLineGreetingInOneReceive();
    void transferStartAndCompletionInOneReceive();
    void replyLengthLimit_data();
    void replyLengthLimit();
    void passivePortPast16Bits();
    void silentServerIsBounded();
    void unreachableServer();

private:
    QTemporaryDir root;
    QTemporaryDir local;
    std::unique_ptr<UpdateServerProcess> server;
};

void FtpClientTest::initTestCase()
{
    QVERIFY(root.isValid() && local.isValid());
    for (int size : {0, 1, 2000, 1 << 20})
        QVERIFY(writeFile(root.filePath(QStringLiteral("f%1.bin").arg(size)), randomBytes(size)));
    // Line ends stay as they are: the transfer is binary.
    QVERIFY(writeFile(root.filePath(QStringLiteral("KRV2000/KRV2000.txt")), "2015\n2014\n"));
    server = std::make_unique<UpdateServerProcess>(root.path());
    QVERIFY2(server->started(), "scripts/ftp-server did not start");
}

void FtpClientTest::loginListsTheDirectory()
{
    TraceCapture trace;
    FtpClient client;
    login(client, server->port());
    QVERIFY(client.LastListing().find("f2000.bin") != std::string::npos);
    QVERIFY(client.LastListing().find("KRV2000") != std::string::npos);
    QVERIFY(trace.contains(QStringLiteral("Control Socket connecting is success.")));
    QVERIFY(trace.contains(QStringLiteral("USER ftp\r\n")));
    QVERIFY(trace.contains(QStringLiteral("PASS qzx\r\n")));
    QVERIFY(trace.contains(QStringLiteral("TYPE I\r\n")));
    QVERIFY(!trace.contains(QStringLiteral("state code error!")));
}

void FtpClientTest::fileSize_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << "f0.bin" << 0;
    QTest::newRow("1 MiB") << "f1048576.bin" << (1 << 20);
    QTest::newRow("below a directory") << "KRV2000/KRV2000.txt" << 10;
    QTest::newRow("missing") << "nothere.bin" << -1;
}

void FtpClientTest::fileSize()
{
    QFETCH(QString, name);
    QFETCH(int, size);
    FtpClient client;
    login(client, server->port());
    QCOMPARE(client.GetFileSize(name.toStdString()), size);
}

void FtpClientTest::downloadIsByteExact_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("0 bytes") << "f0.bin";
    QTest::newRow("1 byte") << "f1.bin";
    QTest::newRow("2000 bytes") << "f2000.bin";
    QTest::newRow("1 MiB") << "f1048576.bin";
    QTest::newRow("text in a model directory") << "KRV2000/KRV2000.txt";
}

void FtpClientTest::downloadIsByteExact()
{
    QFETCH(QString, name);
    QVERIFY(QDir().mkpath(local.filePath(QStringLiteral("KRV2000"))));
    FtpClient client;
    login(client, server->port());
    std::int64_t written = -2;
    QCOMPARE(client.DownloadFile(name.toStdString(), local.path().toStdString(), &written), 1);
    const QByteArray expected = readFile(root.filePath(name));
    QCOMPARE(readFile(local.filePath(name)), expected);
    QCOMPARE(written, static_cast<std::int64_t>(expected.size()));
}

void FtpClientTest::downloadOfAMissingFile()
{
    FtpClient client;
    login(client, server->port());
    std::int64_t written = -2;
    QCOMPARE(client.DownloadFile("missing.bin", local.path().toStdString(), &written), 1);
    QCOMPARE(written, std::int64_t(0));
    QVERIFY(QFileInfo::exists(local.filePath(QStringLiteral("missing.bin"))));

    // No local directory: the data are dropped, and that shows in the count.
    QCOMPARE(
        client.DownloadFile("f2000.bin", local.filePath(QStringLiteral("nodir")).toStdString(), &written), 1);
    QCOMPARE(written, std::int64_t(0));
}

void FtpClientTest::upload()
{
    const QByteArray content = randomBytes(3001);
    const QString path = local.filePath(QStringLiteral("a/b/up.bin"));
    QVERIFY(writeFile(path, content));
    FtpClient client;
    login(client, server->port());
    QCOMPARE(client.UploadFile(path.toStdString()), 1);
    QCOMPARE(readFile(root.filePath(QStringLiteral("up.bin"))), content);
    QVERIFY(client.LastListing().find("up.bin") != std::string::npos);

    TraceCapture trace;
    QCOMPARE(client.UploadFile(local.filePath(QStringLiteral("none.bin")).toStdString()), -1);
    QVERIFY(trace.contains(QStringLiteral("fail to open the file!")));
}

void FtpClientTest::simpleCommands()
{
    QVERIFY(writeFile(root.filePath(QStringLiteral("old.txt")), "x"));
    TraceCapture trace;
    FtpClient client;
    login(client, server->port());
    QCOMPARE(client.MakeRemoteDirectory("made"), 0);
    QVERIFY(QFileInfo(root.filePath(QStringLiteral("made"))).isDir());
    QCOMPARE(client.RenameRemoteFile("old.txt", "made/new.txt"), 0);
    QVERIFY(QFileInfo::exists(root.filePath(QStringLiteral("made/new.txt"))));
    QCOMPARE(client.ChangeDirectory("made"), 0);
    QVERIFY(client.LastListing().find("new.txt") != std::string::npos);
    QCOMPARE(client.DeleteRemoteFile("new.txt"), 0);
    QVERIFY(!QFileInfo::exists(root.filePath(QStringLiteral("made/new.txt"))));
    QCOMPARE(client.ChangeDirectory(".."), 0);
    QCOMPARE(client.RemoveRemoteDirectory("made"), 0);
    QVERIFY(!QFileInfo::exists(root.filePath(QStringLiteral("made"))));
    QVERIFY(!trace.contains(QStringLiteral("state code error!")));

    // A refusal is only a trace line; the command still returns 0.
    QCOMPARE(client.DeleteRemoteFile("nothere"), 0);
    QVERIFY(trace.contains(QStringLiteral("state code error!")));
}

void FtpClientTest::quit()
{
    TraceCapture trace;
    FtpClient client;
    login(client, server->port());
    QCOMPARE(client.Quit(), 1);
    QVERIFY(client.ReplyText().rfind("221", 0) == 0);
    // After QUIT nothing is connected: a further command fails at once.
    QCOMPARE(client.GetFileSize("f1.bin"), -1);
}

void FtpClientTest::threadFetchesUntilStopped()
{
    setUpdateServer(QStringLiteral("127.0.0.1"), server->port());
    QTemporaryDir into;
    {
        FtpThread thread;
        thread.SetFiles(QStringLiteral("f2000.bin"), into.path());
        thread.start();
        QTRY_VERIFY_WITH_TIMEOUT(thread.TurnsDone() >= 1, 20000);
        QCOMPARE(readFile(into.filePath(QStringLiteral("f2000.bin"))),
                 readFile(root.filePath(QStringLiteral("f2000.bin"))));
    } // the destructor stops the thread and waits for it

    // Nothing to fetch: the run ends by itself instead of spinning.
    FtpThread idle;
    idle.start();
    QVERIFY(idle.wait(5000));
    QCOMPARE(idle.TurnsDone(), 0);

    FtpThread stopped;
    stopped.SetFiles(QStringLiteral("f1.bin"), into.path());
    stopped.SetRunning(false);
    stopped.start();
    QVERIFY(stopped.wait(5000));
    QCOMPARE(stopped.TurnsDone(), 0);
}

void FtpClientTest::multiLineGreetingInOneReceive()
{
    TraceCapture trace;
    ScriptedLogin s;
    const std::string greeting = "220-Welcome\r\n220-to the update server\r\n220 ready\r\n";
    s.server.greeting = greeting;
    s.start();
    QCOMPARE(s.client.Login(), 0);
    const QStringList lines = trace.lines();
    const int at = lines.indexOf(QString::fromStdString(greeting));
    QVERIFY(at >= 0);
    QCOMPARE(lines.value(at + 1), QStringLiteral("USER ftp\r\n"));
    QVERIFY(!trace.contains(QStringLiteral("state code error!")));
}

void FtpClientTest::transferStartAndCompletionInOneReceive()
{
    TraceCapture trace;
    ScriptedLogin s;
    s.server.replies["LIST"] = {"150 listing\r\n226 listed\r\n", ""};
    s.server.data = "-rw-r--r-- 1 ftp ftp 10 Jan 1 00:00 KRV2000.txt\r\n";
    s.start();
    QCOMPARE(s.client.Login(), 0);
    QCOMPARE(s.client.LastListing(), s.server.data);
    // The completion came with the start and is handed out without a receive.
    QCOMPARE(s.client.ReplyText(), std::string("226 listed\r\n"));
    QVERIFY(!trace.contains(QStringLiteral("Control Socket receiving timed out.")));
    QVERIFY(!trace.contains(QStringLiteral("state code error!")));
    s.client.Quit();
    const std::vector<std::string> commands = s.server.finish();
    QCOMPARE(commands.back(), std::string("QUIT"));
}

void FtpClientTest::replyLengthLimit_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("tooLong");
    QTest::newRow("999 bytes") << 999 << 4242 << false;
    QTest::newRow("1000 bytes") << 1000 << -1 << true;
}

void FtpClientTest::replyLengthLimit()
{
    QFETCH(int, length);
    QFETCH(int, size);
    QFETCH(bool, tooLong);
    std::string reply = "213 4242";
    reply += std::string(static_cast<std::size_t>(length) - reply.size() - 2, ' ') + "\r\n";
    TraceCapture trace;
    ScriptedLogin s;
    s.server.replies["SIZE"] = {reply, ""};
    s.start();
    QCOMPARE(s.client.Login(), 0);
    QCOMPARE(s.client.GetFileSize("image.bin"), size);
    QCOMPARE(trace.contains(QStringLiteral("ERROR! Too long information too receive!")), tooLong);
}

void FtpClientTest::passivePortPast16Bits()
{
    // The reply names another host and a port past 65535; the client cuts the
    // port to 16 bits and goes to the control connection's address.
    TraceCapture trace;
    ScriptedLogin s;
    s.server.passiveReply = [](int port) {
        return "227 Entering Passive Mode (10,0,0,5," + std::to_string(port / 256 + 256) + "," +
               std::to_string(port % 256) + ")\r\n";
    };
    s.server.data = "listing";
    s.start();
    QCOMPARE(s.client.Login(), 0);
    QCOMPARE(s.client.LastListing(), std::string("listing"));
    QVERIFY(trace.contains(QStringLiteral("Data Socket connecting is success.")));
}

void FtpClientTest::silentServerIsBounded()
{
    TraceCapture trace;
    ScriptedLogin s;
    s.server.silent = true;
    s.start();
    s.client.SetTimeout(200);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(s.client.Login(), 0); // connected; the login got no answer
    QCOMPARE(s.client.GetFileSize("image.bin"), -1);
    QVERIFY(clock.elapsed() < 30000); // hang guard, not a speed check
    QVERIFY(trace.contains(QStringLiteral("Control Socket receiving timed out.")));
}

void FtpClientTest::unreachableServer()
{
    TraceCapture trace;
    FtpClient client;
    client.SetServerInfo(std::string("127.0.0.1"), "ftp", "qzx", closedLoopbackPort());
    QCOMPARE(client.Login(), -1);
    QVERIFY(trace.contains(QStringLiteral("Control Socket Connecting Failed:  %1").arg(ECONNREFUSED)));
    // The callers go on; every further command fails quietly.
    QCOMPARE(client.GetFileSize("f1.bin"), -1);
    std::int64_t written = -2;
    QCOMPARE(client.DownloadFile("f1.bin", local.path().toStdString(), &written), 1);
    QCOMPARE(written, std::int64_t(0));
}

QTEST_GUILESS_MAIN(FtpClientTest)
#include "tst_ftpclient.moc"
