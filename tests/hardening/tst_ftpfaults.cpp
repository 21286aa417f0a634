// The update server's side of the fault matrix: what a download through the
// updater's own FTP client shows when the server misbehaves, through the
// window's LoadFile slot against a scripted server on loopback, and the
// version check with no server to reach.
#include "online/testserver.h"
#include "support/rig.h"

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "online/updateserver.h"

#include <QFileInfo>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace {
constexpr notices::Id kFailed = notices::Id::FetchFailed;
constexpr notices::Id kSucceeded = notices::Id::DownloadSucceeded;
const std::string kImage = "0123456789"; // what the server sends for RETR

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

class FtpFaultTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void download_data();
    void download();
    void versionCheckWithTheServerUnreachable();

private:
    std::unique_ptr<MainWindow> makeWindow();
    std::unique_ptr<QTemporaryDir> appDir;
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
    QTest::newRow("no fault") << ServerFault::None << kSucceeded << 10;
    QTest::newRow("SIZE reply of 1000 bytes") << ServerFault::LongSizeReply << kFailed << -1;
    QTest::newRow("SIZE refused (550)") << ServerFault::SizeRefused << kFailed << -1;
    QTest::newRow("SIZE of 0") << ServerFault::SizeZero << kFailed << -1;
    QTest::newRow("data connection refused") << ServerFault::DataRefused << kFailed << 0;
    QTest::newRow("150 and 226 in one receive") << ServerFault::CarriedCompletion << kSucceeded << 10;
    QTest::newRow("PASV port past 16 bits") << ServerFault::WidePort << kSucceeded << 10;
    QTest::newRow("multi-line greeting") << ServerFault::MultiLineGreeting << kSucceeded << 10;
}

void FtpFaultTest::download()
{
    QFETCH(ServerFault, fault);
    QFETCH(notices::Id, notice);
    QFETCH(int, localSize);

    ScriptedServer server;
    server.replies["SIZE"] = {"213 10\r\n", ""};
    server.data = kImage;
    switch (fault) {
    case ServerFault::None:
        break;
    case ServerFault::LongSizeReply: {
        std::string reply = "213 10";
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

QTEST_MAIN(FtpFaultTest)
#include "tst_ftpfaults.moc"
