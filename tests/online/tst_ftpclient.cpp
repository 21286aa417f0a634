// The updater's own FTP client against a real FTP server on loopback, and
// against a scripted server that sends exact bytes for the cases a real
// server will not produce on demand. Its reply readers against a model of
// each: tst_hardening_replay_fuzz_ftp_*.
#include "image/firmwareimage.h"
#include "online/ftpclient.h"
#include "online/updateserver.h"
#include "qtbridge/bytes.h"
#include "testserver.h"

#include <QTemporaryDir>
#include <QtTest>

class FtpClientTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void download_data();
    void download();
    void scriptedServer_data();
    void scriptedServer();
    void silentServerIsBounded();
    void unreachableServer();

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
    // A cap below the announced size holds: the transfer is cut there.
    client.SetTransferCap(1000);
    QCOMPARE(client.DownloadFile(name.toStdString(), local.path().toStdString(), &written), 1);
    QVERIFY(written <= 1000 && (size <= 1000 || client.LastTransfer().overLimit));
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
        << QByteArray("220-Welcome\r\n220-to the update server\r\n211 is no end\r\n220 ready\r\n") << list
        << 0 << -1;
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
#include "tst_ftpclient.moc"
