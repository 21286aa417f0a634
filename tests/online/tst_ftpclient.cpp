// The updater's own FTP client: its reply readers, the client against a real
// FTP server on loopback, and against a scripted server that sends exact
// bytes for the cases a real server will not produce on demand.
#include "core/services.h"
#include "image/firmwareimage.h"
#include "online/ftpclient.h"
#include "online/ftpreply.h"
#include "online/ftpthread.h"
#include "online/updateserver.h"
#include "qtbridge/bytes.h"
#include "testserver.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
// The reply readers get a heap block of exactly the text's size, so a read
// past its end is caught by the sanitizer build.
template <typename Reader> int readExact(const QByteArray& text, Reader reader)
{
    const std::vector<char> bytes(text.begin(), text.end());
    return int(reader(bytes.data(), bytes.data() + bytes.size()));
}
} // namespace

class FtpClientTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void replyReaders_data();
    void replyReaders();
    void download_data();
    void download();
    void uploadAndSimpleCommands();
    void scriptedServer_data();
    void scriptedServer();
    void silentServerIsBounded();
    void unreachableServer();
    void threadRepeatsUntilStopped();

private:
    void login(FtpClient& client, int port, int expected = 0);
    QTemporaryDir root, local;
    std::unique_ptr<UpdateServerProcess> server;
};

void FtpClientTest::login(FtpClient& client, int port, int expected)
{
    client.SetServerInfo(std::string("127.0.0.1"), "ftp", "qzx", port);
    client.SetTimeout(1000);
    QCOMPARE(client.Login(), expected);
}

void FtpClientTest::initTestCase()
{
    for (int size : {0, 1, 2000, 1 << 20})
        QVERIFY(writeFile(root.filePath(QStringLiteral("f%1.bin").arg(size)),
                          toQByteArray(fwimage::sampleBytes(size, quint32(size) + 1))));
    server = std::make_unique<UpdateServerProcess>(root.path());
    QVERIFY2(server->started(), "scripts/ftp-server did not start");
}

void FtpClientTest::replyReaders_data()
{
    // Any text against a model of each reader: tst_hardening_replay_fuzz_ftp_*.
    QTest::addColumn<int>("reader"); // 0 reply code, 1 PASV port, 2 SIZE value
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("code") << 0 << QByteArray("220 ready\r\n") << 220;
    QTest::newRow("code, dash") << 0 << QByteArray("220-Welcome\r\n220 ready\r\n") << 220;
    QTest::newRow("code only, no line end") << 0 << QByteArray("226") << 226;
    QTest::newRow("code, empty") << 0 << QByteArray() << -1;
    QTest::newRow("code, not digits taken as digits") << 0 << QByteArray("2a0 x") << 200 + ('a' - '0') * 10;
    QTest::newRow("code, no blank: capped") << 0 << QByteArray(999, '9') << -1;
    QTest::newRow("PASV") << 1 << QByteArray("227 Entering Passive Mode (10,0,0,5,19,137).\r\n") << 5001;
    QTest::newRow("PASV past 16 bits") << 1 << QByteArray("227 Passive (10,0,0,5,300,0)\r\n") << 11264;
    QTest::newRow("PASV, no closing bracket") << 1 << QByteArray("227 (127,0,0,1,4,1") << 1025;
    QTest::newRow("PASV stops at bracket") << 1 << QByteArray("227 (1,2,3,4,5,6)7,8") << 5 * 256 + 6;
    QTest::newRow("PASV, too few numbers") << 1 << QByteArray("227 (127,0,0") << 0;
    QTest::newRow("PASV, huge numbers wrap") << 1 << QByteArray("227 (1,2,3,4,99999999999999,1)") << 0xFF01;
    QTest::newRow("SIZE") << 2 << QByteArray("213 12345\r\n") << 12345;
    QTest::newRow("SIZE zero") << 2 << QByteArray("213 0\r\n") << 0;
    QTest::newRow("SIZE, line end after blank") << 2 << QByteArray("213 \r\n") << 0;
    QTest::newRow("SIZE, no line end") << 2 << QByteArray("213 77") << 77;
    QTest::newRow("SIZE, no blank") << 2 << QByteArray("213") << 0;
    QTest::newRow("SIZE too large") << 2 << QByteArray("213 99999999999\r\n") << -1;
    QTest::newRow("SIZE largest") << 2 << QByteArray("213 2147483647\r\n") << 2147483647;
}

void FtpClientTest::replyReaders()
{
    QFETCH(int, reader);
    QFETCH(QByteArray, text);
    QTEST(reader == 0   ? readExact(text, ftpreply::replyCode)
          : reader == 1 ? readExact(text, ftpreply::passivePort)
                        : readExact(text, ftpreply::sizeValue),
          "value");
}

void FtpClientTest::download_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("size"); // -1: no such file
    for (int size : {0, 1, 2000, 1 << 20})
        QTest::addRow("%d bytes", size) << QStringLiteral("f%1.bin").arg(size) << size;
    QTest::newRow("missing") << "missing.bin" << -1;
}

void FtpClientTest::download()
{
    QFETCH(QString, name);
    QFETCH(int, size);
    TraceCapture trace;
    FtpClient client;
    login(client, server->port());
    QVERIFY(client.LastListing().find("f2000.bin") != std::string::npos);
    for (const char* line :
         {"Control Socket connecting is success.", "USER ftp\r\n", "PASS qzx\r\n", "TYPE I\r\n"})
        QVERIFY2(trace.contains(line), line);
    QVERIFY(!trace.contains("state code error!"));
    QCOMPARE(client.GetFileSize(name.toStdString()), size);
    // A missing file still makes an empty local file; the caller checks the size.
    std::int64_t written = -2;
    QCOMPARE(client.DownloadFile(name.toStdString(), local.path().toStdString(), &written), 1);
    QCOMPARE(written, std::int64_t(qMax(size, 0)));
    QCOMPARE(readFile(local.filePath(name)), readFile(root.filePath(name)));
    QVERIFY(QFileInfo::exists(local.filePath(name)));
    // No local directory: the data are dropped, and that shows in the count.
    QCOMPARE(client.DownloadFile(name.toStdString(), local.filePath("nodir").toStdString(), &written), 1);
    QCOMPARE(written, std::int64_t(0));
}

void FtpClientTest::uploadAndSimpleCommands()
{
    const QByteArray content = toQByteArray(fwimage::sampleBytes(3001, 7));
    const QString path = local.filePath(QStringLiteral("a/b/up.bin"));
    QVERIFY(writeFile(path, content) && writeFile(root.filePath("old.txt"), "x"));
    TraceCapture trace;
    FtpClient client;
    login(client, server->port());
    QCOMPARE(client.UploadFile(path.toStdString()), 1);
    QCOMPARE(readFile(root.filePath(QStringLiteral("up.bin"))), content);
    QVERIFY(client.LastListing().find("up.bin") != std::string::npos);
    QCOMPARE(client.UploadFile(local.filePath(QStringLiteral("none.bin")).toStdString()), -1);
    QVERIFY(trace.contains("fail to open the file!"));

    QCOMPARE(client.MakeRemoteDirectory("made"), 0);
    QVERIFY(QFileInfo(root.filePath(QStringLiteral("made"))).isDir());
    QCOMPARE(client.RenameRemoteFile("old.txt", "made/new.txt"), 0);
    QCOMPARE(client.ChangeDirectory("made"), 0);
    QVERIFY(client.LastListing().find("new.txt") != std::string::npos);
    QCOMPARE(client.DeleteRemoteFile("new.txt"), 0);
    QCOMPARE(client.ChangeDirectory(".."), 0);
    QCOMPARE(client.RemoveRemoteDirectory("made"), 0);
    QVERIFY(!QFileInfo::exists(root.filePath(QStringLiteral("made"))));
    QVERIFY(!trace.contains("state code error!"));
    // A refusal is only a trace line; the command still returns 0.
    QCOMPARE(client.DeleteRemoteFile("nothere"), 0);
    QVERIFY(trace.contains("state code error!"));
    QCOMPARE(client.Quit(), 1);
    QVERIFY(client.ReplyText().rfind("221", 0) == 0);
    QCOMPARE(client.GetFileSize("f1.bin"), -1); // nothing connected after QUIT
}

void FtpClientTest::scriptedServer_data()
{
    // A port past 65535 in the PASV reply: tst_hardening_ftpfaults
    // download(PASV port past 16 bits).
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<QByteArray>("list"); // the LIST reply before the data
    QTest::addColumn<int>("sizeReplyLength");
    QTest::addColumn<int>("size");
    const QByteArray greeting = "220 ready\r\n", list = "150 listing\r\n";
    QTest::newRow("multi-line greeting in one receive")
        << QByteArray("220-Welcome\r\n220-to the update server\r\n220 ready\r\n") << list << 0 << -1;
    QTest::newRow("150 and 226 in one receive")
        << greeting << QByteArray("150 listing\r\n226 listed\r\n") << 0 << -1;
    QTest::newRow("999-byte reply") << greeting << list << 999 << 4242;
    QTest::newRow("1000-byte reply") << greeting << list << 1000 << -1;
}

void FtpClientTest::scriptedServer()
{
    QFETCH(QByteArray, greeting);
    QFETCH(QByteArray, list);
    QFETCH(int, sizeReplyLength);
    TraceCapture trace;
    ScriptedServer s;
    s.greeting = greeting.toStdString();
    s.data = "-rw-r--r-- 1 ftp ftp 10 Jan 1 00:00 KRV2000.txt\r\n";
    if (list.contains("226"))
        s.replies["LIST"] = {list.toStdString(), ""};
    if (sizeReplyLength)
        s.replies["SIZE"] = {"213 4242" + std::string(std::size_t(sizeReplyLength) - 10, ' ') + "\r\n", ""};
    s.start();
    FtpClient client;
    login(client, s.port());
    const QStringList lines = trace.lines();
    QCOMPARE(lines.value(lines.indexOf(QString(greeting)) + 1), QStringLiteral("USER ftp\r\n"));
    QVERIFY(!trace.contains("state code error!"));
    QCOMPARE(client.LastListing(), s.data);
    QVERIFY(trace.contains("Data Socket connecting is success."));
    // A completion that came with the start is handed out without a receive.
    QCOMPARE(client.ReplyText(), std::string("226 listed\r\n"));
    QVERIFY(!trace.contains("Control Socket receiving timed out."));
    QTEST(client.GetFileSize("image.bin"), "size");
    QCOMPARE(trace.contains("ERROR! Too long information too receive!"), sizeReplyLength == 1000);
    client.Quit();
    QCOMPARE(s.finish().back(), std::string("QUIT"));
}

void FtpClientTest::silentServerIsBounded()
{
    TraceCapture trace;
    ScriptedServer s;
    s.silent = true;
    s.start();
    FtpClient client;
    login(client, s.port()); // connected; the login got no answer
    client.SetTimeout(200);
    QCOMPARE(client.GetFileSize("image.bin"), -1);
    QVERIFY(trace.contains("Control Socket receiving timed out."));
}

void FtpClientTest::unreachableServer()
{
    TraceCapture trace;
    FtpClient client;
    login(client, closedLoopbackPort(), -1);
    QVERIFY(trace.contains(QStringLiteral("Control Socket Connecting Failed:  %1").arg(ECONNREFUSED)));
    QCOMPARE(client.GetFileSize("f1.bin"), -1); // the callers go on; commands fail quietly
}

QTEST_GUILESS_MAIN(FtpClientTest)
void FtpClientTest::threadRepeatsUntilStopped()
{
    ScopedServices services;
    services.server({QStringLiteral("127.0.0.1"), server->port()});
    QTemporaryDir into;
    {
        FtpThread thread;
        thread.SetFiles(QStringLiteral("f2000.bin"), into.path());
        thread.start();
        QTRY_VERIFY_WITH_TIMEOUT(thread.TurnsDone() >= 2, 20000);
        QCOMPARE(readFile(into.filePath("f2000.bin")), readFile(root.filePath("f2000.bin")));
    } // the destructor stops the thread and waits for it
    // Nothing to fetch, or told to stop before it starts: the run ends by itself.
    FtpThread idle, stopped;
    stopped.SetFiles(QStringLiteral("f1.bin"), into.path());
    stopped.SetRunning(false);
    for (FtpThread* t : {&idle, &stopped}) {
        t->start();
        QVERIFY(t->wait(5000));
        QCOMPARE(t->TurnsDone(), 0);
    }
}

#include "tst_ftpclient.moc"
