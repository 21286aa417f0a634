// The main window's shell: the form, the labels by language, the title, the
// dragging of the frameless window, closing and the exit status.
#include "app/language.h"
#include "app/mainwindow.h"
#include "app/mousemove.h"
#include "app/titles.h"
#include "app/ui_mainwindow.h"
#include "help/helptext.h"
#include "usb/virtual/virtualbus.h"
#include "widgets/progressbarcolor.h"
#include "widgets/roundcircle.h"

#include <QProcess>
#include <QTextDocument>
#include <QtTest>

#include <cstring>

namespace {
const char* const kExitChild = "--exit-child";
constexpr int kUnlimited = 16777215;
} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void formTree_data();
    void formTree();
    void formSettings();
    void formTexts();
    void labelsFollowTheSystemLanguage();
    void setLanguageTable_data();
    void setLanguageTable();
    void titleTable_data();
    void titleTable();
    void windowShell();
    void leftDragMovesTheWindow();
    void otherButtonsDoNotDrag();
    void closeRequestClosesTheWindow();
    void exitEndsTheProcessWithStatusZero();

private:
    VirtualHidBus* bus = nullptr;
};

void MainWindowTest::initTestCase()
{
    // A bus with nothing plugged: the window starts as without a device.
    bus = new VirtualHidBus(this);
    setHidPlatform(bus);
}

void MainWindowTest::cleanup()
{
    setLanguageOverride(QLocale::AnyLanguage);
}

void MainWindowTest::formTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("roundCircle") << "roundCircle"
                                 << "RoundCircle" << QRect(10, 5, 61, 51);
    QTest::newRow("progressBarColor") << "progressBarColor"
                                      << "ProgressBarColor" << QRect(46, 210, 461, 51);
    QTest::newRow("toolButton_2") << "toolButton_2"
                                  << "QToolButton" << QRect(49, 165, 161, 36);
    QTest::newRow("toolButton_4") << "toolButton_4"
                                  << "QToolButton" << QRect(511, 10, 20, 20);
    QTest::newRow("TBFlush") << "TBFlush"
                             << "QToolButton" << QRect(319, 165, 161, 36);
    QTest::newRow("line_path") << "line_path"
                               << "QLineEdit" << QRect(49, 123, 431, 31);
    QTest::newRow("LB_VersionTip") << "LB_VersionTip"
                                   << "QLabel" << QRect(40, 50, 421, 41);
    QTest::newRow("TB_Help") << "TB_Help"
                             << "QToolButton" << QRect(470, 50, 20, 20);
    QTest::newRow("AppTitle") << "AppTitle"
                              << "QLabel" << QRect(140, 0, 361, 51);
}

void MainWindowTest::formTree()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    MainWindow w;
    QCOMPARE(w.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(w.centralWidget(), w.ui->centralWidget);
    QCOMPARE(w.ui->centralWidget->objectName(), QStringLiteral("centralWidget"));
    auto* child = w.ui->centralWidget->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
    QVERIFY(child);
    QCOMPARE(QString::fromLatin1(child->metaObject()->className()), className);
    QCOMPARE(child->geometry(), geometry);

    // The pointers of the form are the widgets, in creation order.
    const QList<QWidget*> order = {w.ui->roundCircle,   w.ui->progressBarColor, w.ui->toolButton_2,
                                   w.ui->toolButton_4,  w.ui->TBFlush,          w.ui->line_path,
                                   w.ui->LB_VersionTip, w.ui->TB_Help,          w.ui->AppTitle};
    const QObjectList children = w.ui->centralWidget->children();
    int last = -1;
    for (QWidget* widget : order) {
        const int at = children.indexOf(widget);
        QVERIFY(at > last);
        last = at;
    }
}

void MainWindowTest::formSettings()
{
    MainWindow w;
    Ui_MainWindow* ui = w.ui;
    QCOMPARE(w.size(), QSize(540, 283));
    QVERIFY(w.styleSheet().contains(QStringLiteral("border-image:url(:/sj-bg.png)")));
    QVERIFY(ui->centralWidget->styleSheet().startsWith(QStringLiteral("#centralWidget{")));
    QVERIFY(ui->centralWidget->styleSheet().contains(QStringLiteral("border-radius:8px")));

    QCOMPARE(ui->roundCircle->getBgColorStart(), QColor(52, 229, 20));
    QCOMPARE(ui->roundCircle->getBgColorEnd(), QColor(23, 48, 89));
    QCOMPARE(ui->progressBarColor->font().family(), QStringLiteral("Arial"));
    QCOMPARE(ui->progressBarColor->font().pointSize(), 12);
    QCOMPARE(ui->progressBarColor->getTextColor(), QColor(255, 255, 255));
    QCOMPARE(ui->progressBarColor->getBarBgColor(), QColor(22, 22, 26, 0));
    QCOMPARE(ui->progressBarColor->getBarColor(), QColor(85, 255, 0));

    for (QToolButton* b : {ui->toolButton_2, ui->TBFlush}) {
        QCOMPARE(b->minimumSize(), QSize(161, 24));
        QCOMPARE(b->maximumSize(), QSize(kUnlimited, kUnlimited));
        QCOMPARE(b->styleSheet(), QString::fromLatin1(kTextButtonStyle));
    }
    QVERIFY(QString::fromLatin1(kTextButtonStyle).contains(QStringLiteral("border-image:url(:/redtwo.png)")));
    QVERIFY(QString::fromLatin1(kTextButtonStyle).contains(QStringLiteral("background-color:#e31e18")));

    QCOMPARE(ui->toolButton_4->minimumSize(), QSize(0, 0));
    QCOMPARE(ui->toolButton_4->maximumSize(), QSize(77, kUnlimited));
    QCOMPARE(ui->toolButton_4->styleSheet(), QStringLiteral("border-image: url(:/sj-3.png);"));
    QVERIFY(ui->toolButton_4->autoRaise());

    QVERIFY(!ui->line_path->isEnabled());
    QCOMPARE(ui->line_path->minimumSize(), QSize(60, 31));
    QCOMPARE(ui->line_path->maximumSize(), QSize(600, 310));
    QCOMPARE(ui->line_path->styleSheet(), QString::fromLatin1(kLineEditStyle));

    QVERIFY(ui->LB_VersionTip->styleSheet().contains(QStringLiteral("font-size:15px")));
    QCOMPARE(ui->TB_Help->font().family(), QStringLiteral("微软雅黑"));
    QCOMPARE(ui->TB_Help->font().weight(), 75);
    QCOMPARE(ui->TB_Help->styleSheet(), QStringLiteral("border-image: url(:/sj-2.png);"));
    QVERIFY(ui->TB_Help->autoRaise());
    QCOMPARE(ui->AppTitle->font().family(), QStringLiteral("Arial"));
    QCOMPARE(ui->AppTitle->font().pointSize(), 22);
    QCOMPARE(ui->AppTitle->styleSheet(), QStringLiteral("color: rgb(255, 255, 255);"));

    // The pictures the styles name are in the bundle with their sizes.
    const QList<QPair<QString, QSize>> pictures = {{":/sj-bg.png", {539, 283}}, {":/sj-2.png", {21, 21}},
                                                   {":/sj-3.png", {21, 22}},    {":/redtwo.png", {108, 38}},
                                                   {":/redone.png", {107, 39}}, {":/close.png", {16, 16}}};
    for (const auto& p : pictures)
        QCOMPARE(QImage(p.first).size(), p.second);
    QVERIFY(QImage(":/sj-bg.png").hasAlphaChannel());
    QCOMPARE(QImage(":/sj-bg.png").pixelColor(0, 0).alpha(), 0);
    QVERIFY(!QImage(":/redtwo.png").hasAlphaChannel());
}

void MainWindowTest::formTexts()
{
    // The form's own texts, before the constructor replaces title and labels.
    QMainWindow bare;
    Ui_MainWindow ui;
    ui.setupUi(&bare);
    QCOMPARE(bare.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(bare.windowTitle(), QStringLiteral("MainWindow"));
    QCOMPARE(ui.toolButton_2->text(), QStringLiteral("开始下载"));
    QCOMPARE(ui.TBFlush->text(), QStringLiteral("选择文件"));
    QVERIFY(ui.toolButton_4->text().isEmpty());
    QVERIFY(ui.TB_Help->text().isEmpty());
    QVERIFY(ui.LB_VersionTip->text().isEmpty());
    QVERIFY(ui.line_path->placeholderText().isEmpty());
    QVERIFY(Qt::mightBeRichText(ui.AppTitle->text()));
    QVERIFY(ui.AppTitle->text().contains(QStringLiteral("align=\"center\"")));
    QVERIFY(ui.AppTitle->text().contains(QStringLiteral("font-size:22pt;\">更新</span>")));

    QMainWindow named;
    named.setObjectName(QStringLiteral("Other"));
    Ui_MainWindow ui2;
    ui2.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("Other"));
}

void MainWindowTest::labelsFollowTheSystemLanguage()
{
    // Under the locale the test runs in (Chinese and English runs).
    {
        MainWindow w;
        const bool chinese = QLocale::system().language() == QLocale::Chinese;
        QCOMPARE(w.ui->toolButton_2->text(), chinese ? QStringLiteral("下载") : QStringLiteral("DownLoad"));
        QCOMPARE(w.ui->TBFlush->text(), chinese ? QStringLiteral("文件路径") : QStringLiteral("File Path"));
    }
    // And decided anew at each call.
    MainWindow w;
    setLanguageOverride(QLocale::Chinese);
    w.Get_LacaelLanuage();
    QCOMPARE(w.ui->toolButton_2->text(), QStringLiteral("下载"));
    QCOMPARE(w.ui->TBFlush->text(), QStringLiteral("文件路径"));
    setLanguageOverride(QLocale::German);
    w.Get_LacaelLanuage();
    QCOMPARE(w.ui->toolButton_2->text(), QStringLiteral("DownLoad"));
    QCOMPARE(w.ui->TBFlush->text(), QStringLiteral("File Path"));
}

void MainWindowTest::setLanguageTable_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("file");
    QTest::newRow("Chinese") << int(QLocale::Chinese) << "开始下载"
                             << "更新";
    QTest::newRow("English") << int(QLocale::English) << "DownLoad"
                             << "File Path";
    QTest::newRow("Japanese") << int(QLocale::Japanese) << "DownLoad"
                              << "File Path";
}

void MainWindowTest::setLanguageTable()
{
    QFETCH(int, language);
    QFETCH(QString, start);
    QFETCH(QString, file);
    MainWindow w;
    // A protected slot: reached through the meta-object as a caller would.
    QVERIFY(QMetaObject::invokeMethod(&w, "Slot_SetLanguage", Q_ARG(int, language)));
    QCOMPARE(w.ui->toolButton_2->text(), start);
    QCOMPARE(w.ui->TBFlush->text(), file);
}

void MainWindowTest::titleTable_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("title");
    QTest::newRow("0525 Chinese") << 0x0525 << int(QLocale::Chinese) << "QVNBOOTLOADER";
    QTest::newRow("0525 English") << 0x0525 << int(QLocale::English) << "QVNBOOTLOADER";
    QTest::newRow("0524 English") << 0x0524 << int(QLocale::English) << "WheelupdateOffLine";
    QTest::newRow("0524 Chinese") << 0x0524 << int(QLocale::Chinese) << "方向盘离线更新";
    QTest::newRow("0524 German") << 0x0524 << int(QLocale::German) << "方向盘离线更新";
    QTest::newRow("0523") << 0x0523 << int(QLocale::English) << "0523";
    QTest::newRow("other Chinese") << 0x0522 << int(QLocale::Chinese) << "Q52离线更新";
    QTest::newRow("other English") << 0x0522 << int(QLocale::English) << "Q52UpdateOffLine";
}

void MainWindowTest::titleTable()
{
    QFETCH(int, productId);
    QFETCH(int, language);
    QFETCH(QString, title);
    QCOMPARE(productTitle(productId, static_cast<QLocale::Language>(language)), title);
}

void MainWindowTest::windowShell()
{
    MainWindow w;
    QCOMPARE(w.windowTitle(), QStringLiteral("QVNBOOTLOADER"));
    QCOMPARE(w.ui->AppTitle->text(), QStringLiteral("QVNBOOTLOADER"));
    QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(w.testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(w.vendorIdText, QStringLiteral("0483"));
    QCOMPARE(w.productIdText, QStringLiteral("0525"));
    QCOMPARE(idText(0x0abc), QStringLiteral("0abc"));
    QCOMPARE(w.appDirPath, QCoreApplication::applicationDirPath());
    QVERIFY(!w.ui->toolButton_2->isEnabled());
    QVERIFY(w.helpDialog);
    QCOMPARE(w.helpDialog->parent(), &w);
    QCOMPARE(w.dspTimer->interval(), 2);
    QCOMPARE(w.armTimer->interval(), 2);
    QCOMPARE(w.delayTimer->interval(), 1000);
    QVERIFY(!w.dspTimer->isActive() && !w.armTimer->isActive() && !w.delayTimer->isActive());
}

void MainWindowTest::leftDragMovesTheWindow()
{
    MainWindow w;
    w.move(100, 100);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QPoint start = w.pos();
    // A point on the background, clear of the buttons.
    const QPoint grab(300, 100);
    QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, grab);
    QVERIFY(w.blMousePressed);
    QCOMPARE(w.mousePressPos, grab);
    moveMouse(&w, grab + QPoint(25, -10), Qt::LeftButton);
    QCOMPARE(w.pos(), start + QPoint(25, -10));
    QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, grab);
    QVERIFY(!w.blMousePressed);
    const QPoint after = w.pos();
    moveMouse(&w, grab + QPoint(40, 40), Qt::NoButton);
    QTest::qWait(20);
    QCOMPARE(w.pos(), after);
}

void MainWindowTest::otherButtonsDoNotDrag()
{
    MainWindow w;
    w.move(100, 100);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QPoint start = w.pos();
    QTest::mousePress(&w, Qt::RightButton, Qt::NoModifier, QPoint(300, 100));
    QVERIFY(!w.blMousePressed);
    moveMouse(&w, QPoint(340, 140), Qt::RightButton);
    QTest::qWait(20);
    QCOMPARE(w.pos(), start);
    QTest::mouseRelease(&w, Qt::RightButton, Qt::NoModifier, QPoint(340, 140));

    // A release of another button ends a left-button drag too.
    QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, QPoint(300, 100));
    QVERIFY(w.blMousePressed);
    QTest::mouseRelease(&w, Qt::MiddleButton, Qt::NoModifier, QPoint(300, 100));
    QVERIFY(!w.blMousePressed);
}

void MainWindowTest::closeRequestClosesTheWindow()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.close());
    QVERIFY(!w.isVisible());
}

void MainWindowTest::exitEndsTheProcessWithStatusZero()
{
    // The child is this binary, building the window and pressing the close
    // button with the process exit left as it is.
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kExitChild)});
    QVERIFY(child.waitForStarted(10000));
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QVERIFY(child.readAllStandardOutput().contains("clicking close"));
}

// Builds the window and clicks its close button. Returns only if the click
// did not end the process.
static int runExitChild(int argc, char** argv)
{
    QApplication app(argc, argv);
    VirtualHidBus bus;
    setHidPlatform(&bus);
    MainWindow w;
    w.show();
    // A timer that would be running during an upgrade is stopped on the way out.
    w.armTimer->start();
    std::printf("clicking close\n");
    std::fflush(stdout);
    QTest::mouseClick(w.ui->toolButton_4, Qt::LeftButton);
    return 3;
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], kExitChild) == 0)
        return runExitChild(argc, argv);
    QApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
