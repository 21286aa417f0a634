// The application shell: the look of the main window and the help dialog in
// both languages against reference pictures, the labels by language, the
// title, the dragging of the frameless window and the help dialog, closing
// and the exit status; the window program's command line and start.
#include "app/mainwindow.h"
#include "app/titles.h"
#include "app/ui_mainwindow.h"
#include "app/windowstart.h"
#include "core/language.h"
#include "core/services.h"
#include "help/helptext.h"
#include "support/rig.h"
#include "tools/rendering.h"
#include "usb/backends/virtual/virtualbus.h"

#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

#include <cstdlib>
#include <memory>
#include <tuple>
#include <utility>

namespace {
// Drags the shown window with `button` from `grab` by `delta`: how far it
// moved, and whether it stayed put on a move after the release.
std::pair<QPoint, bool> drag(QWidget& w, Qt::MouseButton button, QPoint grab, QPoint delta)
{
    // A mouse move as the platform delivers it while `held` is down. (QTest's
    // mouseMove moves the cursor instead, which reaches a widget without mouse
    // tracking only when the platform also knows the button is down.)
    const auto moveMouse = [&w](QPoint local, Qt::MouseButtons held) {
        QMouseEvent event(QEvent::MouseMove, local, w.mapToGlobal(local), Qt::NoButton, held, Qt::NoModifier);
        QApplication::sendEvent(&w, &event);
    };
    const QPoint start = w.pos();
    QTest::mousePress(&w, button, Qt::NoModifier, grab);
    moveMouse(grab + delta, button);
    QTest::qWait(20);
    const QPoint moved = w.pos() - start;
    QTest::mouseRelease(&w, button, Qt::NoModifier, grab + delta);
    const QPoint after = w.pos();
    moveMouse(grab + QPoint(40, 40), Qt::NoButton);
    QTest::qWait(20);
    return {moved, w.pos() == after};
}

// Pixels whose colour differs by more than this in a channel count as
// different; a picture may have up to kMaxDiffering such pixels per million.
constexpr int kChannelTolerance = 24;
constexpr int kMaxDifferingPerMillion = 200;

// How many pixels of `actual` differ from `reference`.
int difference(const QImage& reference, const QImage& actual)
{
    const QImage a = reference.convertToFormat(QImage::Format_ARGB32);
    const QImage b = actual.convertToFormat(QImage::Format_ARGB32);
    const uchar *pa = a.constBits(), *pb = b.constBits();
    const auto far = [&](qsizetype k) { return std::abs(pa[k] - pb[k]) > kChannelTolerance; };
    int differing = 0;
    for (qsizetype i = 0; i < a.sizeInBytes(); i += 4) // the four channels of a pixel
        differing += far(i) || far(i + 1) || far(i + 2) || far(i + 3);
    return differing;
}
} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    // A bus with nothing plugged: the window starts as without a device.
    void initTestCase() { caseServices.hid(new VirtualHidBus(this)); }
    void init() { services = std::make_unique<ScopedServices>(); }
    void cleanup() { services.reset(); }
    void rendering();
    void labelsAndTitles();
    void draggingAndClosing();
    void helpDialog();
    void windowProgram();

private:
    ScopedServices caseServices;              // for every test
    std::unique_ptr<ScopedServices> services; // for one test
};

void MainWindowTest::rendering()
{
    // The window and the help dialog, drawn offscreen in both languages,
    // against the committed pictures in tests/app/reference. With
    // UPDATER_WRITE_REFERENCES=1 the test writes them instead.
    const QDir references(QStringLiteral(UPDATER_REFERENCE_DIR));
    const QDir failures(QDir::current().absoluteFilePath(QStringLiteral("render-failures")));
    const bool write = qEnvironmentVariableIntValue("UPDATER_WRITE_REFERENCES") == 1;
    for (const auto& [tag, language] :
         {std::pair{"en", QLocale::English}, std::pair{"zh", QLocale::Chinese}}) {
        rendering::Pictures pictures;
        QString error;
        QVERIFY2(rendering::render(language, &pictures, &error), qPrintable(error));
        for (const auto& [name, picture] :
             {std::pair{"main", pictures.window}, std::pair{"help", pictures.help}}) {
            const QString file = QStringLiteral("%1-%2.png").arg(QLatin1String(name), QLatin1String(tag));
            QVERIFY(!write || picture.save(references.filePath(file)));
            const QImage reference(references.filePath(file));
            QVERIFY2(reference.size() == picture.size(),
                     qPrintable(references.filePath(file) + ": missing or resized"));
            const int differing = difference(reference, picture);
            const qint64 allowed =
                qint64(picture.width()) * picture.height() * kMaxDifferingPerMillion / 1000000;
            if (differing > allowed && failures.mkpath(QStringLiteral(".")))
                picture.save(failures.filePath(QStringLiteral("actual-") + file));
            QVERIFY2(
                differing <= allowed,
                qPrintable(QString::asprintf("%s: %d pixels differ (%lld allowed); see %s", qPrintable(file),
                                             differing, allowed, qPrintable(failures.path()))));
        }
    }
}

void MainWindowTest::labelsAndTitles()
{
    MainWindow w;
    QCOMPARE(w.vendorIdText + w.productIdText + idText(0x0abc), QStringLiteral("048305250abc"));
    QVERIFY(!w.ui->toolButton_2->isEnabled());

    // The labels: under the locale the test runs in (Chinese and English
    // runs), then decided anew at each call (German falls back to English);
    // the protected slot, reached through the meta-object as a caller would,
    // has texts of its own.
    const auto labels = [&] { return w.ui->toolButton_2->text() + '|' + w.ui->TBFlush->text(); };
    const bool chinese = QLocale::system().language() == QLocale::Chinese;
    QCOMPARE(labels(), chinese ? QStringLiteral("下载|文件路径") : QStringLiteral("DownLoad|File Path"));
    const struct {
        QLocale::Language language;
        bool slot;
        const char* labels;
    } rows[] = {{QLocale::Chinese, false, "下载|文件路径"},
                {QLocale::German, false, "DownLoad|File Path"},
                {QLocale::Chinese, true, "开始下载|更新"},
                {QLocale::English, true, "DownLoad|File Path"}};
    for (const auto& r : rows) {
        services->language(r.language);
        QVERIFY(r.slot ? QMetaObject::invokeMethod(&w, "Slot_SetLanguage", Q_ARG(int, r.language))
                       : (w.Get_LacaelLanuage(), true));
        QCOMPARE(labels(), QString::fromUtf8(r.labels));
    }

    // The title and the help picture by product id and language.
    for (const auto& [productId, language, expected] :
         {std::tuple{0x0525, QLocale::Chinese, "QVNBOOTLOADER Updater_Ch.jpg"},
          std::tuple{0x0525, QLocale::English, "QVNBOOTLOADER Updater_En.jpg"},
          std::tuple{0x0524, QLocale::English, "WheelupdateOffLine Wheel_En.jpg"},
          std::tuple{0x0524, QLocale::German, "方向盘离线更新 Wheel_En.jpg"},
          std::tuple{0x0523, QLocale::English, "0523 Updater_En.jpg"},
          std::tuple{0x0522, QLocale::Chinese, "Q52离线更新 Base_Ch.jpg"},
          std::tuple{0x0522, QLocale::French, "Q52UpdateOffLine Base_En.jpg"}})
        QCOMPARE(productTitle(productId, language) + ' ' + helpPictureName(productId, language),
                 QString::fromUtf8(expected));
}

void MainWindowTest::draggingAndClosing()
{
    // The window and the help dialog follow the left button by the cursor's
    // displacement; other buttons move neither.
    MainWindow w;
    HelpText dialog;
    w.move(100, 100);
    dialog.move(50, 60);
    w.show();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w) && QTest::qWaitForWindowExposed(&dialog));
    const QPoint onWindow(300, 100), onTitleBar(300, 20); // clear of the buttons
    for (QWidget* target : {static_cast<QWidget*>(&w), static_cast<QWidget*>(&dialog)}) {
        const QPoint grab = target == &w ? onWindow : onTitleBar;
        QCOMPARE(drag(*target, Qt::LeftButton, grab, QPoint(25, -10)), std::make_pair(QPoint(25, -10), true));
        for (Qt::MouseButton other : {Qt::RightButton, Qt::MiddleButton})
            QCOMPARE(drag(*target, other, grab, QPoint(40, 40)), std::make_pair(QPoint(), true));
    }
    // A release of another button ends a left-button drag too.
    QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, onWindow);
    QVERIFY(w.blMousePressed && w.mousePressPos == onWindow);
    QTest::mouseRelease(&w, Qt::MiddleButton, Qt::NoModifier, onWindow);
    QVERIFY(!w.blMousePressed);

    // The close button ends the process with status 0, also with a timer
    // running as during an upgrade; a close request closes the window.
    int status = -1;
    services->exit([&](int s) { status = s; });
    w.armTimer->start();
    QTest::mouseClick(w.ui->toolButton_4, Qt::LeftButton);
    QVERIFY(status == 0 && !w.armTimer->isActive() && w.close() && !w.isVisible());
}

void MainWindowTest::helpDialog()
{
    MainWindow w;
    Ui_HelpText* ui = w.helpDialog->ui;

    // The picture by product id and system language, shown once however often
    // the button is pressed.
    w.productId = 1316;
    const QString expected = QCoreApplication::applicationDirPath() +
                             QStringLiteral("/file/Help/Wheel_%1.jpg").arg(systemIsChinese() ? "Ch" : "En");
    QTest::mouseClick(w.ui->TB_Help, Qt::LeftButton);
    QTest::mouseClick(w.ui->TB_Help, Qt::LeftButton);
    QVERIFY(w.helpDialog->isVisible());
    QCOMPARE(ui->textEdit->toHtml().count(QStringLiteral("<img")), 1);
    QVERIFY2(ui->textEdit->toHtml().contains(expected), qPrintable(ui->textEdit->toHtml()));

    // Closing hides it with its content, and it can be shown again.
    QTest::mouseClick(ui->TB_Close, Qt::LeftButton);
    QVERIFY(!w.helpDialog->isVisible() && ui->textEdit->toHtml().contains(QStringLiteral("Wheel_")));
    w.helpDialog->onOpenHelpTextWidget();
    QVERIFY(w.helpDialog->isVisible());
}

void MainWindowTest::windowProgram()
{
    // The window program's command line as main reads it; a line that fits
    // starts the window: the virtual device with the number and faults
    // asked for, FILE picked through the file button (boxes and start
    // button as for a file chosen there), the pictures written.
    QTemporaryDir dir;
    const QString image = writeFile(dir, QStringLiteral("KRV3200-3215.bin"), sampleImage(16, 24, 3215));
    Boxes boxes;
    const struct {
        const char *arguments, *outcome;
    } rows[] = {
        {"--virtual-device --virtual-device-version 0xc80 --fault reply-delay-ms=5 %F",
         "device 3200, reboot 800, delay 5; %F, boxes 0, start 1, end -1, unsigned 0"},
        {"--allow-unsigned %F", // no device: the file is older than 5000
         "device 5000, reboot -1, delay -1; %F, boxes 1, start 1, end -1, unsigned 1"},
        {"--virtual-device --fault reboot-ms=0 --snapshot %D/w.png --snapshot-help %D/h.png %F",
         "device 3201, reboot 0, delay 0; %F, boxes 0, start 1, end 0, unsigned 0 540 675"},
        {"--fault drop-start-ack", "--fault needs --virtual-device"},
        {"--virtual-device --virtual-device-version 65536",
         "--virtual-device-version needs a number from 0 to 65535, got \"65536\""},
        {"--snapshot-help %D/h.png", "--snapshot needs a file name, and --snapshot-help goes with it"},
        {"%F %F", "one image file at most, got 2"}};
    for (const auto& r : rows) {
        QCommandLineParser parser;
        windowstart::describe(parser);
        const QString line = QString::fromUtf8(r.arguments).replace("%F", image).replace("%D", dir.path());
        QVERIFY(parser.parse(QStringList(QStringLiteral("firmware-updater")) + line.split(' ')));
        windowstart::Options options;
        QString outcome;
        if (boxes.seen.clear(); windowstart::readOptions(parser, &options, &outcome)) {
            windowstart::Program program(options, nullptr);
            int end = -1;
            program.end = [&](int status) { end = status; };
            QTRY_VERIFY(program.started());
            const MainWindow& w = program.window();
            const DeviceModel* d = program.virtualDevice();
            outcome = QString::asprintf(
                "device %d, reboot %d, delay %d; %s, boxes %d, start %d, end %d, unsigned %d",
                w.deviceVersion, d ? d->faults().rebootMs : -1, d ? d->faults().replyDelayMs : -1,
                qPrintable(w.ui->line_path->text()), boxes.seen.size(), w.ui->toolButton_2->isEnabled(), end,
                w.onlineContext.allowUnsigned);
            for (const QString& picture : {options.snapshot, options.snapshotHelp})
                outcome += picture.isEmpty() ? QString() : QStringLiteral(" %1").arg(QImage(picture).width());
        }
        QCOMPARE(outcome, QString::fromUtf8(r.outcome).replace("%F", image));
    }

    // Where the window can be shown (Linux): a display, or a platform asked
    // for in the environment or by -platform; an empty variable is none.
    for (const QString& setting :
         QStringList{"DISPLAY=:0", "WAYLAND_DISPLAY=w", "QT_QPA_PLATFORM=xcb", "-platform", "DISPLAY="}) {
        QProcessEnvironment env;
        env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        QCOMPARE(windowstart::displayAvailable({"firmware-updater", setting}, env), !setting.endsWith('='));
    }
}

int main(int argc, char** argv)
{
    QString error;
    if (!rendering::pinFonts(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
