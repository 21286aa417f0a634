// The window's online update against an update server on loopback: the
// download through the updater's FTP client, the libcurl fetch, the version
// check and the download of the newest image. Message boxes are read and
// answered through the box presenter.
#include "app/language.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/ui_mainwindow.h"
#include "online/serverlayout.h"
#include "online/updateserver.h"
#include "testserver.h"
#include "usb/virtual/virtualbus.h"

#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <random>

namespace {
const QString kQuestion = QStringLiteral("new firmware,updata or not\uFF1F");
const QString kNetwork = QStringLiteral("checking your netWork,And Restart!");
const QString kLatest = QStringLiteral("Latest version");
const QString kSuccess = QStringLiteral("<success>");

QString successText()
{
    return systemIsChinese() ? QStringLiteral("更新成功") : QStringLiteral("Update is Successful");
}

QByteArray image(int version)
{
    // A 16-byte big-endian header, then 32 bytes of DSP and 64 of ARM image.
    QByteArray bytes(16 + 96, '\0');
    const quint32 header[3] = {32, quint32(version), 64};
    for (int i = 0; i < 3; ++i)
        qToBigEndian(header[i], reinterpret_cast<uchar*>(bytes.data()) + 4 * i);
    std::mt19937 rng(static_cast<unsigned>(version));
    for (int i = 16; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(rng());
    return bytes;
}

QByteArray versionReplyFor(int number)
{
    QByteArray reply(20, '\0');
    reply[0] = char(0x80);
    reply[1] = 0x0A;
    reply[6] = char(number & 0xff);
    reply[7] = char(number >> 8);
    return reply;
}

// Everything written to the standard error stream while it lives.
class StderrCapture {
public:
    StderrCapture()
    {
        file.open();
        std::fflush(stderr);
        saved = ::dup(2);
        const int fd = ::open(file.fileName().toLocal8Bit().constData(), O_WRONLY | O_TRUNC);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture() { restore(); }
    QByteArray text()
    {
        restore();
        return readFile(file.fileName());
    }

private:
    void restore()
    {
        if (saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved, 2);
        ::close(saved);
        saved = -1;
    }
    QTemporaryFile file;
    int saved = -1;
};
} // namespace

class OnlineFlowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void loadFile_data();
    void loadFile();
    void loadFileWithTheServerUnreachable();
    void shortDownloadIsAFailure();
    void curlFetch();
    void versionCheck_data();
    void versionCheck();
    void checkRunsOnceAndOnlyAfterAReply();
    void downloadFollowsTheServerListOfTheMoment();
    void fixedModelDownloads();
    void listLeadingOutOfTheModelDirectory();

private:
    std::unique_ptr<MainWindow> makeWindow();
    QString local(const QString& name) const { return appDir->filePath(QStringLiteral("file/") + name); }

    VirtualHidBus* bus = nullptr;
    QTemporaryDir serverRoot;
    std::unique_ptr<UpdateServerProcess> server;
    std::unique_ptr<QTemporaryDir> appDir;
    QList<BoxRequest> boxes;
    QStringList boxTexts;
    int questionAnswer = QMessageBox::No;
    std::function<void()> onQuestion;
};

void OnlineFlowTest::initTestCase()
{
    bus = new VirtualHidBus(this);
    setHidPlatform(bus);
    QVERIFY(serverRoot.isValid());
    for (int version : {2015, 3015, 3215, 3216, 6600})
        QVERIFY(writeFile(serverRoot.filePath(imagePath(modelDirectory(version), QString::number(version))),
                          image(version)));
    QVERIFY(writeFile(serverRoot.filePath(QStringLiteral("KRV2000/KRV2000.txt")), "2015\n2014\n"));
    QVERIFY(writeFile(serverRoot.filePath(QStringLiteral("KRV3000/KRV3000.txt")), "3015\n"));
    QVERIFY(writeFile(serverRoot.filePath(QStringLiteral("empty.txt")), QByteArray()));
    server = std::make_unique<UpdateServerProcess>(serverRoot.path());
    QVERIFY2(server->started(), "scripts/ftp-server did not start");
}

void OnlineFlowTest::init()
{
    setUpdateServer(QStringLiteral("127.0.0.1"), server->port());
    appDir = std::make_unique<QTemporaryDir>();
    boxes.clear();
    boxTexts.clear();
    questionAnswer = QMessageBox::No;
    onQuestion = nullptr;
    setBoxPresenter([this](const BoxRequest& r) {
        boxes << r;
        boxTexts << (r.text == successText() ? kSuccess : r.text);
        if (r.text == kQuestion) {
            if (onQuestion)
                onQuestion();
            return questionAnswer;
        }
        return int(r.buttons & QMessageBox::Yes ? QMessageBox::Yes : QMessageBox::Ok);
    });
}

void OnlineFlowTest::cleanup()
{
    setBoxPresenter({});
}

std::unique_ptr<MainWindow> OnlineFlowTest::makeWindow()
{
    auto w = std::make_unique<MainWindow>();
    w->appDirPath = appDir->path();
    w->Slot_CheckFile();
    return w;
}

void OnlineFlowTest::loadFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<bool>("stored");
    QTest::newRow("image") << "KRV2000/2015.bin" << QStringList{kSuccess} << true;
    QTest::newRow("text file") << "KRV2000/KRV2000.txt" << QStringList{} << true;
    QTest::newRow("missing") << "KRV2000/9999.bin" << QStringList{"Update failed"} << false;
    QTest::newRow("empty") << "empty.txt" << QStringList{"Update failed"} << false;
}

void OnlineFlowTest::loadFile()
{
    QFETCH(QString, name);
    QFETCH(QStringList, texts);
    QFETCH(bool, stored);
    auto w = makeWindow();
    QVERIFY(QMetaObject::invokeMethod(w.get(), "LoadFile", Qt::DirectConnection, Q_ARG(QString, name),
                                      Q_ARG(QString, appDir->filePath(QStringLiteral("file")))));
    QCOMPARE(boxTexts, texts);
    for (const BoxRequest& box : qAsConst(boxes))
        QCOMPARE(box.parent, w.get());
    QCOMPARE(QFileInfo::exists(local(name)), stored);
    if (stored)
        QCOMPARE(readFile(local(name)), readFile(serverRoot.filePath(name)));
    QCOMPARE(w->ui->toolButton_2->isEnabled(), texts == QStringList{kSuccess});
    if (texts == QStringList{"Update failed"}) {
        QCOMPARE(boxes.first().form, BoxRequest::Form::EnglishWarning);
        QCOMPARE(boxes.first().title, QStringLiteral("Warning"));
    }
}

void OnlineFlowTest::loadFileWithTheServerUnreachable()
{
    setUpdateServer(QStringLiteral("127.0.0.1"), closedLoopbackPort());
    auto w = makeWindow();
    TraceCapture trace;
    QVERIFY(QMetaObject::invokeMethod(w.get(), "LoadFile", Qt::DirectConnection,
                                      Q_ARG(QString, QStringLiteral("KRV2000/2015.bin")),
                                      Q_ARG(QString, appDir->filePath(QStringLiteral("file")))));
    QVERIFY(trace.anyStartsWith(QStringLiteral("Control Socket Connecting Failed: ")));
    QCOMPARE(boxTexts, QStringList{"Update failed"});
    QVERIFY(!QFileInfo::exists(local(QStringLiteral("KRV2000/2015.bin"))));
}

void OnlineFlowTest::shortDownloadIsAFailure()
{
    // The server announces 2000 bytes and closes the data connection after 1000.
    ScriptedServer scripted;
    scripted.replies["SIZE"] = {"213 2000\r\n", ""};
    scripted.data = std::string(1000, 'x');
    scripted.start();
    setUpdateServer(QStringLiteral("127.0.0.1"), scripted.port());
    auto w = makeWindow();
    QVERIFY(QDir().mkpath(local(QStringLiteral("KRV2000"))));
    QVERIFY(QMetaObject::invokeMethod(w.get(), "LoadFile", Qt::DirectConnection,
                                      Q_ARG(QString, QStringLiteral("KRV2000/2015.bin")),
                                      Q_ARG(QString, appDir->filePath(QStringLiteral("file")))));
    QCOMPARE(boxTexts, QStringList{"Update failed"});
    QVERIFY(!w->ui->toolButton_2->isEnabled());
    QCOMPARE(QFileInfo(local(QStringLiteral("KRV2000/2015.bin"))).size(), 1000);
}

void OnlineFlowTest::curlFetch()
{
    auto w = makeWindow();
    const QString prefix = appDir->filePath(QStringLiteral("file/"));
    auto fetch = [&](const QString& path, const QString& into) {
        int result = -100;
        QMetaObject::invokeMethod(w.get(), "Slot_CurlTest", Qt::DirectConnection, Q_RETURN_ARG(int, result),
                                  Q_ARG(QString, path), Q_ARG(QString, into));
        return result;
    };

    QCOMPARE(fetch(QStringLiteral("KRV2000/KRV2000.txt"), prefix), 0);
    QCOMPARE(readFile(local(QStringLiteral("KRV2000/KRV2000.txt"))), QByteArray("2015\n2014\n"));
    QCOMPARE(fetch(QStringLiteral("KRV3200/3215.bin"), prefix), 0);
    QCOMPARE(readFile(local(QStringLiteral("KRV3200/3215.bin"))), image(3215));

    // An empty file brings no data, so no local file is made.
    QCOMPARE(fetch(QStringLiteral("empty.txt"), prefix), 0);
    QVERIFY(!QFileInfo::exists(local(QStringLiteral("empty.txt"))));

    // No directory for the local file: libcurl's write error.
    QCOMPARE(fetch(QStringLiteral("KRV2000/KRV2000.txt"), prefix + QStringLiteral("nodir/")), 23);

    StderrCapture err;
    setUpdateServer(QStringLiteral("127.0.0.1"), closedLoopbackPort());
    const int unreachable = fetch(QStringLiteral("KRV2000/KRV2000.txt"), prefix);
    QVERIFY(unreachable != 0);
    QVERIFY(err.text().contains(QByteArray("curl told us ") + QByteArray::number(unreachable) + '\n'));
}

void OnlineFlowTest::versionCheck_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("list"); // null: no list on the server
    QTest::addColumn<bool>("power");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("image"); // server path of the image that must arrive

    const int yes = QMessageBox::Yes;
    const int no = QMessageBox::No;
    QTest::newRow("newer, accepted") << 3201 << QByteArray("3215\n3201\n") << false << yes << 0
                                     << QStringList{kQuestion, kSuccess} << "KRV3200/3215.bin";
    QTest::newRow("newer, declined") << 3201 << QByteArray("3215\n") << true << no << 0
                                     << QStringList{kQuestion} << QString();
    QTest::newRow("other model, accepted") << 2001 << QByteArray("2015\r\n") << false << yes << 0
                                           << QStringList{kQuestion, kSuccess} << "KRV2000/2015.bin";
    QTest::newRow("model made by its first fetch") << 6500 << QByteArray("6600\n") << false << yes << 0
                                                   << QStringList{kQuestion, kSuccess} << "KRV6000/6600.bin";
    QTest::newRow("up to date, asked")
        << 3215 << QByteArray("3215\r\n") << true << no << 1 << QStringList{kLatest} << QString();
    QTest::newRow("up to date, quiet")
        << 3215 << QByteArray("3215\n") << false << no << 1 << QStringList{} << QString();
    QTest::newRow("10000 is text, not newer")
        << 3215 << QByteArray("10000\n") << true << no << 1 << QStringList{kLatest} << QString();
    QTest::newRow("'3215 ' is text, newer")
        << 3215 << QByteArray("3215 \n") << false << no << 0 << QStringList{kQuestion} << QString();
    QTest::newRow("empty first line")
        << 3215 << QByteArray("\n3216\n") << true << no << 1 << QStringList{kLatest} << QString();
    QTest::newRow("empty list") << 3215 << QByteArray("") << true << no << -1 << QStringList{kNetwork}
                                << QString();
    QTest::newRow("no list") << 1500 << QByteArray() << true << no << -1 << QStringList{kNetwork}
                             << QString();
    QTest::newRow("traversal") << 3201 << QByteArray("../../../escape\n") << false << yes << -1
                               << QStringList{kNetwork} << QString();
    QTest::newRow("outside the table") << 999 << QByteArray("1000\n") << true << yes << -1
                                       << QStringList{"Version of the error"} << QString();
}

void OnlineFlowTest::versionCheck()
{
    QFETCH(int, number);
    QFETCH(QByteArray, list);
    QFETCH(bool, power);
    QFETCH(int, answer);
    QFETCH(int, result);
    QFETCH(QStringList, texts);
    QFETCH(QString, image);

    const QString model = modelDirectory(number);
    const QString listPath = versionListPath(model.isEmpty() ? QStringLiteral("KRV1000") : model);
    QFile::remove(serverRoot.filePath(listPath));
    if (!list.isNull())
        QVERIFY(writeFile(serverRoot.filePath(listPath), list));
    // What a list leading out of the model directory would reach.
    QVERIFY(writeFile(serverRoot.filePath(QStringLiteral("escape.bin")), "x"));

    questionAnswer = answer;
    auto w = makeWindow();
    w->versionReply = versionReplyFor(number);
    QCOMPARE(w->Slot_GetRobotVersion(power), result);
    QCOMPARE(boxTexts, texts);
    for (const BoxRequest& box : qAsConst(boxes))
        QCOMPARE(box.parent, w.get());
    QCOMPARE(w->deviceVersionText, QString::number(number));
    QVERIFY(w->versionChecked);
    // The local copy of the list never stays behind.
    QVERIFY(!QFileInfo::exists(local(listPath)));
    QCOMPARE(w->ui->TBFlush->isEnabled(), model.isEmpty());

    QCOMPARE(w->ui->toolButton_2->isEnabled(), !image.isEmpty());
    if (!image.isEmpty()) {
        QCOMPARE(w->serverFilePath, image);
        QCOMPARE(w->filePath, local(image));
        QCOMPARE(readFile(w->filePath), readFile(serverRoot.filePath(image)));
    }
    QDir tree(appDir->path());
    QVERIFY(!QFileInfo::exists(tree.absoluteFilePath(QStringLiteral("../escape.bin"))));
    QVERIFY(!QFileInfo::exists(tree.absoluteFilePath(QStringLiteral("escape.bin"))));
}

void OnlineFlowTest::checkRunsOnceAndOnlyAfterAReply()
{
    auto w = makeWindow();
    QCOMPARE(w->Slot_GetRobotVersion(true), -1); // no reply yet
    w->versionReply = QByteArray(7, '\x0A');     // too short to hold a number
    QCOMPARE(w->Slot_GetRobotVersion(true), -1);
    QVERIFY(!w->versionChecked);

    w->versionReply = versionReplyFor(3015);
    w->Slot_AutoFlushFile(); // quiet: up to date without a box
    QVERIFY(w->versionChecked);
    QCOMPARE(w->Slot_GetRobotVersion(true), -1);
    QVERIFY(boxTexts.isEmpty());
}

void OnlineFlowTest::downloadFollowsTheServerListOfTheMoment()
{
    // The list changes between the question and the download.
    QVERIFY(writeFile(serverRoot.filePath(QStringLiteral("KRV3200/KRV3200.txt")), "3215\n"));
    onQuestion = [this] { writeFile(serverRoot.filePath(QStringLiteral("KRV3200/KRV3200.txt")), "3216\n"); };
    questionAnswer = QMessageBox::Yes;
    auto w = makeWindow();
    w->versionReply = versionReplyFor(3201);
    QCOMPARE(w->Slot_GetRobotVersion(false), 0);
    QCOMPARE(w->filePath, local(QStringLiteral("KRV3200/3216.bin")));
    QCOMPARE(readFile(w->filePath), image(3216));

    // An image that cannot be had: no notice, the start button stays as it was,
    // and a copy from an earlier download does not pass for it.
    w->ui->toolButton_2->setEnabled(false);
    boxTexts.clear();
    QVERIFY(writeFile(serverRoot.filePath(QStringLiteral("KRV3200/KRV3200.txt")), "3299\n"));
    QVERIFY(writeFile(local(QStringLiteral("KRV3200/3299.bin")), "stale"));
    w->Slot_LoadBinToOne(QStringLiteral("KRV3200/KRV3200.txt"), QStringLiteral("KRV3200/KRV3200.txt"));
    QVERIFY(boxTexts.isEmpty());
    QVERIFY(!w->ui->toolButton_2->isEnabled());
    QCOMPARE(w->filePath, local(QStringLiteral("KRV3200/3299.bin")));
    QVERIFY(!QFileInfo::exists(w->filePath));
}

void OnlineFlowTest::fixedModelDownloads()
{
    auto w = makeWindow();
    w->Slot_LoadBinToTwo();
    QCOMPARE(boxTexts, QStringList{kSuccess});
    QVERIFY(w->ui->toolButton_2->isEnabled());
    QVERIFY(!w->ui->TBFlush->isEnabled());
    QCOMPARE(w->serverFilePath, QStringLiteral("KRV2000/2015.bin"));
    QVERIFY(w->filePath.isEmpty());
    QCOMPARE(readFile(local(QStringLiteral("KRV2000/2015.bin"))), image(2015));
    QVERIFY(!QFileInfo::exists(local(QStringLiteral("KRV2000/KRV2000.txt"))));

    boxTexts.clear();
    QFile::remove(serverRoot.filePath(QStringLiteral("KRV3000/KRV3000.txt")));
    w->Slot_LoadBinToThree();
    QCOMPARE(boxTexts, QStringList{kNetwork});
    QVERIFY(writeFile(serverRoot.filePath(QStringLiteral("KRV3000/KRV3000.txt")), "3015\n"));
    w->Slot_LoadBinToThree();
    QCOMPARE(boxTexts, (QStringList{kNetwork, kSuccess}));
    QCOMPARE(readFile(local(QStringLiteral("KRV3000/3015.bin"))), image(3015));
}

void OnlineFlowTest::listLeadingOutOfTheModelDirectory()
{
    // Fetched as it stands, this name would land beside the application
    // directory, outside the download tree.
    const QString name = QFileInfo(appDir->path()).fileName() + QStringLiteral("-escape");
    QVERIFY(writeFile(serverRoot.filePath(name + QStringLiteral(".bin")), "x"));
    QVERIFY(writeFile(serverRoot.filePath(QStringLiteral("KRV3200/KRV3200.txt")),
                      "../../../" + name.toUtf8() + "\n"));
    auto w = makeWindow();
    w->Slot_LoadBinToOne(QStringLiteral("KRV3200/KRV3200.txt"), QStringLiteral("KRV3200/KRV3200.txt"));
    QCOMPARE(boxTexts, QStringList{kNetwork});
    const QString outside = QFileInfo(appDir->path()).dir().filePath(name + QStringLiteral(".bin"));
    const bool escaped = QFileInfo::exists(outside);
    QFile::remove(outside);
    QVERIFY(!escaped);
    QVERIFY(!w->ui->toolButton_2->isEnabled());
}

QTEST_MAIN(OnlineFlowTest)
#include "tst_onlineflow.moc"
