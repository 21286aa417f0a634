// The application shell: the main window's form, its labels by language, the
// title, the dragging of the frameless window and the help dialog, closing
// and the exit status.
#include "app/filedialog.h"
#include "app/language.h"
#include "app/mainwindow.h"
#include "app/titles.h"
#include "app/ui_mainwindow.h"
#include "help/helptext.h"
#include "usb/virtual/virtualbus.h"
#include "widgets/progressbarcolor.h"
#include "widgets/roundcircle.h"

#include <QGridLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QtTest>

#include <cstring>

namespace {
const char* const kExitChild = "--exit-child";
constexpr int kUnlimited = 16777215;

// A mouse move as the platform delivers it while `held` is down. (QTest's
// mouseMove moves the cursor instead, which reaches a widget without mouse
// tracking only when the platform also knows the button is down.)
void moveMouse(QWidget* widget, const QPoint& local, Qt::MouseButtons held)
{
    QMouseEvent event(QEvent::MouseMove, local, widget->mapToGlobal(local), Qt::NoButton, held,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Drags the shown window with `button` from `grab` by `delta`: how far it
// moved, and whether it stayed put on a move after the release.
struct Drag {
    QPoint moved;
    bool stillAfterRelease;
};
Drag drag(QWidget& w, Qt::MouseButton button, QPoint grab, QPoint delta)
{
    const QPoint start = w.pos();
    QTest::mousePress(&w, button, Qt::NoModifier, grab);
    moveMouse(&w, grab + delta, button);
    QTest::qWait(20);
    const QPoint moved = w.pos() - start;
    QTest::mouseRelease(&w, button, Qt::NoModifier, grab + delta);
    const QPoint after = w.pos();
    moveMouse(&w, grab + QPoint(40, 40), Qt::NoButton);
    QTest::qWait(20);
    return {moved, w.pos() == after};
}
} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void form();
    void formTexts();
    void labelsAndTitles();
    void windowShell();
    void dragging();
    void closeAndExit();
    void helpPictureChoice();
    void helpDialogForm();
    void helpButton();
    void helpPlainText();
};

void MainWindowTest::initTestCase()
{
    // A bus with nothing plugged: the window starts as without a device.
    setHidPlatform(new VirtualHidBus(this));
}

void MainWindowTest::cleanup()
{
    setLanguageOverride(QLocale::AnyLanguage);
    setOpenFileChooser(nullptr);
}

void MainWindowTest::form()
{
    MainWindow w;
    Ui_MainWindow* ui = w.ui;
    QCOMPARE(w.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(w.centralWidget(), ui->centralWidget);
    QCOMPARE(ui->centralWidget->objectName(), QStringLiteral("centralWidget"));
    // The form's pointers are its named widgets, in creation order.
    const struct {
        QWidget* widget;
        const char *name, *className;
        QRect geometry;
    } rows[] = {{ui->roundCircle, "roundCircle", "RoundCircle", {10, 5, 61, 51}},
                {ui->progressBarColor, "progressBarColor", "ProgressBarColor", {46, 210, 461, 51}},
                {ui->toolButton_2, "toolButton_2", "QToolButton", {49, 165, 161, 36}},
                {ui->toolButton_4, "toolButton_4", "QToolButton", {511, 10, 20, 20}},
                {ui->TBFlush, "TBFlush", "QToolButton", {319, 165, 161, 36}},
                {ui->line_path, "line_path", "QLineEdit", {49, 123, 431, 31}},
                {ui->LB_VersionTip, "LB_VersionTip", "QLabel", {40, 50, 421, 41}},
                {ui->TB_Help, "TB_Help", "QToolButton", {470, 50, 20, 20}},
                {ui->AppTitle, "AppTitle", "QLabel", {140, 0, 361, 51}}};
    const QObjectList children = ui->centralWidget->children();
    int last = -1;
    for (const auto& r : rows) {
        QCOMPARE(ui->centralWidget->findChild<QWidget*>(r.name, Qt::FindDirectChildrenOnly), r.widget);
        QCOMPARE(r.widget->metaObject()->className(), r.className);
        QCOMPARE(r.widget->geometry(), r.geometry);
        QVERIFY2(children.indexOf(r.widget) > last, r.name);
        last = children.indexOf(r.widget);
    }

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
    QVERIFY(ui->toolButton_4->autoRaise() && ui->TB_Help->autoRaise());
    QVERIFY(!ui->line_path->isEnabled());
    QCOMPARE(ui->line_path->minimumSize(), QSize(60, 31));
    QCOMPARE(ui->line_path->maximumSize(), QSize(600, 310));
    QCOMPARE(ui->line_path->styleSheet(), QString::fromLatin1(kLineEditStyle));
    QVERIFY(ui->LB_VersionTip->styleSheet().contains(QStringLiteral("font-size:15px")));
    QCOMPARE(ui->TB_Help->font().family(), QStringLiteral("微软雅黑"));
    QCOMPARE(ui->TB_Help->font().weight(), 75);
    QCOMPARE(ui->TB_Help->styleSheet(), QStringLiteral("border-image: url(:/sj-2.png);"));
    QCOMPARE(ui->AppTitle->font().family(), QStringLiteral("Arial"));
    QCOMPARE(ui->AppTitle->font().pointSize(), 22);
    QCOMPARE(ui->AppTitle->styleSheet(), QStringLiteral("color: rgb(255, 255, 255);"));

    // The pictures the styles name are in the bundle with their sizes.
    const QList<QPair<QString, QSize>> pictures = {{":/sj-bg.png", {539, 283}}, {":/sj-2.png", {21, 21}},
                                                   {":/sj-3.png", {21, 22}},    {":/redtwo.png", {108, 38}},
                                                   {":/redone.png", {107, 39}}, {":/close.png", {16, 16}}};
    for (const auto& p : pictures)
        QCOMPARE(QImage(p.first).size(), p.second);
    QCOMPARE(QImage(":/sj-bg.png").pixelColor(0, 0).alpha(), 0);
    QVERIFY(!QImage(":/redtwo.png").hasAlphaChannel());
}

void MainWindowTest::formTexts()
{
    // The form's own texts, before the constructor replaces title and labels.
    QMainWindow bare;
    Ui_MainWindow ui;
    ui.setupUi(&bare);
    QCOMPARE(bare.windowTitle(), QStringLiteral("MainWindow"));
    QCOMPARE(ui.toolButton_2->text(), QStringLiteral("开始下载"));
    QCOMPARE(ui.TBFlush->text(), QStringLiteral("选择文件"));
    QVERIFY(ui.toolButton_4->text().isEmpty() && ui.TB_Help->text().isEmpty());
    QVERIFY(ui.LB_VersionTip->text().isEmpty() && ui.line_path->placeholderText().isEmpty());
    QVERIFY(Qt::mightBeRichText(ui.AppTitle->text()));
    QVERIFY(ui.AppTitle->text().contains(QStringLiteral("align=\"center\"")));
    QVERIFY(ui.AppTitle->text().contains(QStringLiteral("font-size:22pt;\">更新</span>")));
    // A window that has a name keeps it.
    QMainWindow named;
    named.setObjectName(QStringLiteral("Other"));
    ui.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("Other"));
}

void MainWindowTest::labelsAndTitles()
{
    // Under the locale the test runs in (Chinese and English runs).
    MainWindow w;
    const bool chinese = QLocale::system().language() == QLocale::Chinese;
    QCOMPARE(w.ui->toolButton_2->text(), chinese ? QStringLiteral("下载") : QStringLiteral("DownLoad"));
    QCOMPARE(w.ui->TBFlush->text(), chinese ? QStringLiteral("文件路径") : QStringLiteral("File Path"));
    // Decided anew at each call; German falls back to English.
    for (QLocale::Language language : {QLocale::Chinese, QLocale::German}) {
        setLanguageOverride(language);
        w.Get_LacaelLanuage();
        const bool zh = language == QLocale::Chinese;
        QCOMPARE(w.ui->toolButton_2->text(), zh ? QStringLiteral("下载") : QStringLiteral("DownLoad"));
        QCOMPARE(w.ui->TBFlush->text(), zh ? QStringLiteral("文件路径") : QStringLiteral("File Path"));
    }
    // The protected slot, reached through the meta-object as a caller would.
    const struct {
        QLocale::Language language;
        const char *start, *file;
    } labels[] = {{QLocale::Chinese, "开始下载", "更新"},
                  {QLocale::English, "DownLoad", "File Path"},
                  {QLocale::Japanese, "DownLoad", "File Path"}};
    for (const auto& l : labels) {
        QVERIFY(QMetaObject::invokeMethod(&w, "Slot_SetLanguage", Q_ARG(int, l.language)));
        QCOMPARE(w.ui->toolButton_2->text(), QString::fromUtf8(l.start));
        QCOMPARE(w.ui->TBFlush->text(), QString::fromUtf8(l.file));
    }

    const struct {
        int productId;
        QLocale::Language language;
        const char* title;
    } titles[] = {
        {0x0525, QLocale::Chinese, "QVNBOOTLOADER"},      {0x0525, QLocale::English, "QVNBOOTLOADER"},
        {0x0524, QLocale::English, "WheelupdateOffLine"}, {0x0524, QLocale::Chinese, "方向盘离线更新"},
        {0x0524, QLocale::German, "方向盘离线更新"},      {0x0523, QLocale::English, "0523"},
        {0x0522, QLocale::Chinese, "Q52离线更新"},        {0x0522, QLocale::English, "Q52UpdateOffLine"}};
    for (const auto& t : titles)
        QCOMPARE(productTitle(t.productId, t.language), QString::fromUtf8(t.title));
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
    QCOMPARE(w.helpDialog->parent(), &w);
    QCOMPARE(w.dspTimer->interval(), 2);
    QCOMPARE(w.armTimer->interval(), 2);
    QCOMPARE(w.delayTimer->interval(), 1000);
    QVERIFY(!w.dspTimer->isActive() && !w.armTimer->isActive() && !w.delayTimer->isActive());
}

void MainWindowTest::dragging()
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
        Drag d = drag(*target, Qt::LeftButton, grab, QPoint(25, -10));
        QCOMPARE(d.moved, QPoint(25, -10));
        QVERIFY(d.stillAfterRelease);
        for (Qt::MouseButton other : {Qt::RightButton, Qt::MiddleButton}) {
            d = drag(*target, other, grab, QPoint(40, 40));
            QCOMPARE(d.moved, QPoint());
            QVERIFY(d.stillAfterRelease);
        }
    }
    QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, onWindow);
    QVERIFY(w.blMousePressed);
    QCOMPARE(w.mousePressPos, onWindow);
    // A release of another button ends a left-button drag too.
    QTest::mouseRelease(&w, Qt::MiddleButton, Qt::NoModifier, onWindow);
    QVERIFY(!w.blMousePressed);
}

void MainWindowTest::closeAndExit()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.close());
    QVERIFY(!w.isVisible());

    // The child is this binary, pressing the close button (onExit) with the
    // process exit left as it is.
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kExitChild)});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QVERIFY(child.readAllStandardOutput().contains("clicking close"));
}

void MainWindowTest::helpPictureChoice()
{
    const struct {
        int productId;
        QLocale::Language language;
        const char* picture;
    } rows[] = {{1314, QLocale::Chinese, "Base_Ch.jpg"},  {1314, QLocale::English, "Base_En.jpg"},
                {1314, QLocale::French, "Base_En.jpg"},   {1316, QLocale::Chinese, "Wheel_Ch.jpg"},
                {1316, QLocale::English, "Wheel_En.jpg"}, {0x0525, QLocale::Chinese, ""},
                {0x0525, QLocale::English, ""},           {0x0523, QLocale::Chinese, ""}};
    for (const auto& r : rows)
        QCOMPARE(helpPictureName(r.productId, r.language), QString::fromLatin1(r.picture));
}

void MainWindowTest::helpDialogForm()
{
    HelpText dialog;
    Ui_HelpText* ui = dialog.ui;
    QCOMPARE(dialog.objectName(), QStringLiteral("HelpText"));
    QCOMPARE(dialog.metaObject()->className(), "HelpText");
    QCOMPARE(dialog.size(), QSize(675, 470));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Dialog"));
    QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(dialog.windowFlags() & Qt::WindowType_Mask, Qt::Dialog);
    QCOMPARE(dialog.styleSheet(), QStringLiteral("background-color: rgb(57, 58, 60);\n"));
    for (const char* name : {"gridLayout", "verticalLayout", "widget", "LB_Help", "TB_Close", "textEdit"})
        QVERIFY2(dialog.findChild<QObject*>(QLatin1String(name)), name);
    QCOMPARE(dialog.layout(), ui->gridLayout);
    QCOMPARE(ui->gridLayout->spacing(), 0);
    QCOMPARE(ui->gridLayout->contentsMargins(), QMargins(0, 0, 0, 0));
    QCOMPARE(ui->gridLayout->itemAtPosition(0, 0)->layout(), ui->verticalLayout);
    QCOMPARE(ui->verticalLayout->itemAt(0)->widget(), ui->widget);
    QCOMPARE(ui->verticalLayout->itemAt(1)->widget(), ui->textEdit);
    QCOMPARE(ui->widget->minimumSize(), QSize(0, 40));
    QCOMPARE(ui->LB_Help->parent(), ui->widget);
    QCOMPARE(ui->LB_Help->geometry(), QRect(10, 0, 161, 41));
    QCOMPARE(ui->LB_Help->font().family(), QStringLiteral("Adobe Arabic"));
    QCOMPARE(ui->LB_Help->font().weight(), 75);
    QCOMPARE(ui->TB_Close->parent(), ui->widget);
    QCOMPARE(ui->TB_Close->geometry(), QRect(640, 10, 20, 20));
    QCOMPARE(ui->TB_Close->styleSheet(), QStringLiteral("border-image: url(:/close.png);"));
    QVERIFY(ui->TB_Close->text().isEmpty());
    QCOMPARE(ui->textEdit->frameShape(), QFrame::NoFrame);
    QCOMPARE(ui->textEdit->lineWidth(), 0);
    QVERIFY(ui->textEdit->isReadOnly());
    QCOMPARE(ui->textEdit->tabStopDistance(), 0.0);

    // The default look, in every locale: red title bar, "帮助"; onModifyStyle
    // with a style sets only the bar's, without one restores the default.
    const QString red = QStringLiteral("background-color:#e31e18;");
    QCOMPARE(ui->LB_Help->text(), QStringLiteral("帮助"));
    QCOMPARE(ui->widget->styleSheet(), red);
    const QString areaStyle = ui->textEdit->styleSheet();
    QCOMPARE(areaStyle, QStringLiteral("QTextEdit#textEdit{border: 1px solid #e31e18;background-color: "
                                       "rgb(22, 22, 26);}"));
    ui->LB_Help->setText(QStringLiteral("x"));
    dialog.onModifyStyle(QStringLiteral("background-color: rgb(0, 0, 255);"));
    QCOMPARE(ui->widget->styleSheet(), QStringLiteral("background-color: rgb(0, 0, 255);"));
    QCOMPARE(ui->textEdit->styleSheet(), areaStyle);
    QCOMPARE(ui->LB_Help->text(), QStringLiteral("x"));
    dialog.onModifyStyle();
    QCOMPARE(ui->widget->styleSheet(), red);
    QCOMPARE(ui->LB_Help->text(), QStringLiteral("帮助"));
}

void MainWindowTest::helpButton()
{
    MainWindow none; // 0x0525: no help picture
    QTest::mouseClick(none.ui->TB_Help, Qt::LeftButton);
    QVERIFY(none.helpDialog->isVisible());
    QVERIFY(none.helpDialog->ui->textEdit->toPlainText().isEmpty());
    QVERIFY(!none.helpDialog->ui->textEdit->toHtml().contains(QStringLiteral("<img")));

    // The picture by product id and system language, shown once however often
    // the button is pressed, chosen anew at each press.
    MainWindow w;
    w.productId = 1316;
    const bool chinese = systemIsChinese();
    const QString expected = QCoreApplication::applicationDirPath() + QStringLiteral("/file/Help/") +
                             (chinese ? QStringLiteral("Wheel_Ch.jpg") : QStringLiteral("Wheel_En.jpg"));
    QTest::mouseClick(w.ui->TB_Help, Qt::LeftButton);
    QTest::mouseClick(w.ui->TB_Help, Qt::LeftButton);
    QTextEdit* text = w.helpDialog->ui->textEdit;
    QVERIFY(w.helpDialog->isVisible());
    QCOMPARE(text->toHtml().count(QStringLiteral("<img")), 1);
    QVERIFY2(text->toHtml().contains(expected), qPrintable(text->toHtml()));
    setLanguageOverride(chinese ? QLocale::English : QLocale::Chinese);
    w.onInitHelp();
    QVERIFY(text->toHtml().contains(chinese ? "Wheel_En.jpg" : "Wheel_Ch.jpg"));

    // Closing hides it with its content, and it can be shown again.
    QTest::mouseClick(w.helpDialog->ui->TB_Close, Qt::LeftButton);
    QVERIFY(!w.helpDialog->isVisible());
    QVERIFY(text->toHtml().contains(QStringLiteral("Wheel_")));
    w.helpDialog->onOpenHelpTextWidget();
    QVERIFY(w.helpDialog->isVisible());
}

void MainWindowTest::helpPlainText()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("notes.h"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("第一行\nline two\0hidden tail", 31));
    f.close();
    HelpText dialog;
    int asked = 0;
    OpenFileRequest request{};
    setOpenFileChooser([&](const OpenFileRequest& r) {
        ++asked;
        request = r;
        return path;
    });
    // An empty path asks for nothing and changes nothing.
    dialog.onInsertTheImagic(QStringLiteral("/nowhere/picture.jpg"));
    dialog.onOpenPlainText(QStringLiteral(""));
    QCOMPARE(asked, 0);
    QVERIFY(dialog.ui->textEdit->toHtml().contains(QStringLiteral("<img")));
    // A null path asks through the file dialog; the text stops at the zero byte.
    dialog.onOpenPlainText(QString());
    QCOMPARE(asked, 1);
    QCOMPARE(request.parent, &dialog);
    QCOMPARE(request.caption, QStringLiteral("Open File"));
    QVERIFY(request.dir.isEmpty());
    QCOMPARE(request.filter, QStringLiteral("C++ Files (*.cpp *.h)"));
    QCOMPARE(dialog.ui->textEdit->toPlainText(), QStringLiteral("第一行\nline two"));
    // A cancelled dialog and an unreadable file leave the text as it is.
    setOpenFileChooser([](const OpenFileRequest&) { return QString(); });
    dialog.onOpenPlainText(QString());
    dialog.onOpenPlainText(dir.filePath(QStringLiteral("missing.txt")));
    QCOMPARE(dialog.ui->textEdit->toPlainText(), QStringLiteral("第一行\nline two"));
}

// Builds the window and clicks its close button, with a timer running as
// during an upgrade. Returns only if the click did not end the process.
static int runExitChild(int argc, char** argv)
{
    QApplication app(argc, argv);
    VirtualHidBus bus;
    setHidPlatform(&bus);
    MainWindow w;
    w.show();
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
