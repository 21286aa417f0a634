// The application shell: the main window's form, its labels by language, the
// title, the dragging of the frameless window and the help dialog, closing
// and the exit status.
#include "app/mainwindow.h"
#include "app/titles.h"
#include "app/ui_mainwindow.h"
#include "core/filedialog.h"
#include "core/language.h"
#include "help/helptext.h"
#include "usb/backends/virtual/virtualbus.h"
#include "widgets/progressbarcolor.h"
#include "widgets/roundcircle.h"

#include <QGridLayout>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
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

// One line per widget: class, geometry, size limits other than the
// defaults, the named properties, and the font when asked for.
QString describe(QWidget* w, const char* properties, bool withFont)
{
    const QRect g = w->geometry();
    QString s = QString::asprintf("%s %d,%d %dx%d", w->metaObject()->className(), g.x(), g.y(), g.width(),
                                  g.height());
    if (w->minimumSize() != QSize(0, 0))
        s += QString::asprintf(" min %dx%d", w->minimumWidth(), w->minimumHeight());
    if (w->maximumSize() != QSize(kUnlimited, kUnlimited))
        s += QString::asprintf(" max %dx%d", w->maximumWidth(), w->maximumHeight());
    for (const QString& name : QString::fromLatin1(properties).split(' ', Qt::SkipEmptyParts)) {
        const QVariant v = w->property(name.toLatin1().constData());
        s += ' ' + name + '=' +
             (v.type() == QVariant::Color ? v.value<QColor>().name(QColor::HexArgb) : v.toString());
    }
    const QFont f = w->font();
    if (withFont)
        s += ' ' + f.family() +
             (f.pointSize() > 0 ? QString::asprintf(" %dpt", f.pointSize())
                                : QString::asprintf(" %dpx", f.pixelSize())) +
             (f.weight() == QFont::Bold ? " bold" : "");
    return s;
}
} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void form();
    void labelsAndTitles();
    void dragging();
    void closeAndExit();
    void helpDialog();
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
    // The window's and the help dialog's widgets, each against one row: its
    // description and a piece its style sheet must contain.
    MainWindow w;
    HelpText dialog;
    Ui_MainWindow* ui = w.ui;
    Ui_HelpText* help = dialog.ui;
    dialog.layout()->activate(); // its bar and text area as they are shown
    const QString buttonStyle = QStringLiteral("border-image:url(:/redtwo.png)");
    const struct {
        QWidget* widget;
        const char *name, *properties;
        bool font;
        const char *expected, *style;
    } rows[] = {
        {ui->roundCircle, "roundCircle", "bgColorStart bgColorEnd", false,
         "RoundCircle 10,5 61x51 bgColorStart=#ff34e514 bgColorEnd=#ff173059", ""},
        {ui->progressBarColor, "progressBarColor", "textColor barBgColor barColor", true,
         "ProgressBarColor 46,210 461x51 textColor=#ffffffff barBgColor=#0016161a barColor=#ff55ff00 Arial "
         "12pt",
         ""},
        {ui->toolButton_2, "toolButton_2", "", false, "QToolButton 49,165 161x36 min 161x24",
         "background-color:#e31e18"},
        {ui->toolButton_4, "toolButton_4", "autoRaise", false,
         "QToolButton 511,10 20x20 max 77x16777215 autoRaise=true", "border-image: url(:/sj-3.png);"},
        {ui->TBFlush, "TBFlush", "", false, "QToolButton 319,165 161x36 min 161x24",
         "border-image:url(:/redtwo.png)"},
        {ui->line_path, "line_path", "enabled", false,
         "QLineEdit 49,123 431x31 min 60x31 max 600x310 enabled=false", kLineEditStyle},
        {ui->LB_VersionTip, "LB_VersionTip", "", false, "QLabel 40,50 421x41", "font-size:15px"},
        {ui->TB_Help, "TB_Help", "autoRaise", true,
         "QToolButton 470,50 20x20 autoRaise=true 微软雅黑 12pt bold", "border-image: url(:/sj-2.png);"},
        {ui->AppTitle, "AppTitle", "", true, "QLabel 140,0 361x51 Arial 22pt", "color: rgb(255, 255, 255);"},
        {help->widget, "widget", "", false, "QWidget 0,0 675x40 min 0x40", "background-color:#e31e18;"},
        {help->LB_Help, "LB_Help", "", true, "QLabel 10,0 161x41 Adobe Arabic 40px bold", ""},
        {help->TB_Close, "TB_Close", "text", false, "QPushButton 640,10 20x20 text=", "url(:/close.png)"},
        {help->textEdit, "textEdit", "frameShape lineWidth readOnly tabStopDistance", false,
         "QTextEdit 0,40 675x430 frameShape=0 lineWidth=0 readOnly=true tabStopDistance=0",
         "{border: 1px solid #e31e18;background-color: rgb(22, 22, 26);}"},
    };
    for (const auto& r : rows) {
        QVERIFY2(w.findChild<QWidget*>(r.name) == r.widget || dialog.findChild<QWidget*>(r.name) == r.widget,
                 r.name);
        QCOMPARE(describe(r.widget, r.properties, r.font), QString::fromUtf8(r.expected));
        QVERIFY2(r.widget->styleSheet().contains(QString::fromUtf8(r.style)), r.name);
    }
    QCOMPARE(ui->toolButton_2->styleSheet(), ui->TBFlush->styleSheet());
    QVERIFY(ui->toolButton_2->styleSheet().contains(buttonStyle));
    // The form's pointers are the central widget's children in creation order.
    const QObjectList children = ui->centralWidget->children();
    for (int i = 1; i < 9; ++i)
        QVERIFY2(children.indexOf(rows[i].widget) > children.indexOf(rows[i - 1].widget), rows[i].name);
    QCOMPARE(w.centralWidget(), ui->centralWidget);
    QCOMPARE(w.size(), QSize(540, 283));
    QVERIFY(w.styleSheet().contains(QStringLiteral("border-image:url(:/sj-bg.png)")));
    QVERIFY(ui->centralWidget->styleSheet().startsWith(QStringLiteral("#centralWidget{")));
    QVERIFY(ui->centralWidget->styleSheet().contains(QStringLiteral("border-radius:8px")));
    // The dialog: frameless, its bar over its text area, edge to edge.
    QCOMPARE(dialog.size(), QSize(675, 470));
    QCOMPARE(dialog.windowFlags() & (Qt::WindowType_Mask | Qt::FramelessWindowHint),
             Qt::Dialog | Qt::FramelessWindowHint);
    QCOMPARE(dialog.styleSheet(), QStringLiteral("background-color: rgb(57, 58, 60);\n"));
    QCOMPARE(help->gridLayout->spacing(), 0);
    QCOMPARE(help->gridLayout->contentsMargins(), QMargins(0, 0, 0, 0));
    QCOMPARE(help->verticalLayout->itemAt(0)->widget(), help->widget);
    QCOMPARE(help->verticalLayout->itemAt(1)->widget(), help->textEdit);

    // The pictures the styles name are in the bundle with their sizes.
    const QList<QPair<QString, QSize>> pictures = {{":/sj-bg.png", {539, 283}}, {":/sj-2.png", {21, 21}},
                                                   {":/sj-3.png", {21, 22}},    {":/redtwo.png", {108, 38}},
                                                   {":/redone.png", {107, 39}}, {":/close.png", {16, 16}}};
    for (const auto& p : pictures)
        QCOMPARE(QImage(p.first).size(), p.second);
    QCOMPARE(QImage(":/sj-bg.png").pixelColor(0, 0).alpha(), 0);
    QVERIFY(!QImage(":/redtwo.png").hasAlphaChannel());

    // The form's own texts, before the constructor replaces title and labels;
    // a window that has a name keeps it.
    QMainWindow bare;
    bare.setObjectName(QStringLiteral("Other"));
    Ui_MainWindow form;
    form.setupUi(&bare);
    QCOMPARE(bare.objectName(), QStringLiteral("Other"));
    QCOMPARE(bare.windowTitle(), QStringLiteral("MainWindow"));
    QCOMPARE(form.toolButton_2->text() + form.TBFlush->text(), QStringLiteral("开始下载选择文件"));
    QVERIFY(form.toolButton_4->text().isEmpty() && form.TB_Help->text().isEmpty());
    QVERIFY(form.LB_VersionTip->text().isEmpty() && form.line_path->placeholderText().isEmpty());
    QVERIFY(form.AppTitle->text().contains(QStringLiteral("align=\"center\"")));
    QVERIFY(form.AppTitle->text().contains(QStringLiteral("font-size:22pt;\">更新</span>")));
}

void MainWindowTest::labelsAndTitles()
{
    MainWindow w;
    QCOMPARE(w.windowTitle() + w.ui->AppTitle->text(), QStringLiteral("QVNBOOTLOADERQVNBOOTLOADER"));
    QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(w.testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(w.vendorIdText + w.productIdText + idText(0x0abc), QStringLiteral("048305250abc"));
    QCOMPARE(w.appDirPath, QCoreApplication::applicationDirPath());
    QVERIFY(!w.ui->toolButton_2->isEnabled());
    QCOMPARE(w.helpDialog->parent(), &w);
    QVERIFY(!w.dspTimer->isActive() && !w.armTimer->isActive() && !w.delayTimer->isActive());

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
                {QLocale::English, true, "DownLoad|File Path"},
                {QLocale::Japanese, true, "DownLoad|File Path"}};
    for (const auto& r : rows) {
        setLanguageOverride(r.language);
        if (r.slot)
            QVERIFY(QMetaObject::invokeMethod(&w, "Slot_SetLanguage", Q_ARG(int, r.language)));
        else
            w.Get_LacaelLanuage();
        QCOMPARE(labels(), QString::fromUtf8(r.labels));
    }

    // The title and the help picture by product id and language.
    const struct {
        int productId;
        QLocale::Language language;
        const char *title, *picture;
    } products[] = {{0x0525, QLocale::Chinese, "QVNBOOTLOADER", ""},
                    {0x0525, QLocale::English, "QVNBOOTLOADER", ""},
                    {0x0524, QLocale::English, "WheelupdateOffLine", "Wheel_En.jpg"},
                    {0x0524, QLocale::Chinese, "方向盘离线更新", "Wheel_Ch.jpg"},
                    {0x0524, QLocale::German, "方向盘离线更新", "Wheel_En.jpg"},
                    {0x0523, QLocale::English, "0523", ""},
                    {0x0523, QLocale::Chinese, "0523", ""},
                    {0x0522, QLocale::Chinese, "Q52离线更新", "Base_Ch.jpg"},
                    {0x0522, QLocale::English, "Q52UpdateOffLine", "Base_En.jpg"},
                    {0x0522, QLocale::French, "Q52UpdateOffLine", "Base_En.jpg"}};
    for (const auto& p : products) {
        const QString context = QString::asprintf("%04x/%d", p.productId, int(p.language));
        QCOMPARE(productTitle(p.productId, p.language) + ' ' + context,
                 QString::fromUtf8(p.title) + ' ' + context);
        QCOMPARE(helpPictureName(p.productId, p.language), QString::fromLatin1(p.picture));
    }
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
    // A release of another button ends a left-button drag too.
    QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, onWindow);
    QVERIFY(w.blMousePressed && w.mousePressPos == onWindow);
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

void MainWindowTest::helpDialog()
{
    // The default look, in every locale: red title bar, "帮助"; onModifyStyle
    // with a style sets only the bar's, without one restores the default.
    MainWindow w; // 0x0525: no help picture
    Ui_HelpText* ui = w.helpDialog->ui;
    const QString red = QStringLiteral("background-color:#e31e18;");
    const QString areaStyle = ui->textEdit->styleSheet();
    QCOMPARE(ui->LB_Help->text() + ui->widget->styleSheet(), QStringLiteral("帮助") + red);
    ui->LB_Help->setText(QStringLiteral("x"));
    w.helpDialog->onModifyStyle(QStringLiteral("background-color: rgb(0, 0, 255);"));
    QCOMPARE(ui->LB_Help->text() + ui->widget->styleSheet(),
             QStringLiteral("xbackground-color: rgb(0, 0, 255);"));
    QCOMPARE(ui->textEdit->styleSheet(), areaStyle);
    w.helpDialog->onModifyStyle();
    QCOMPARE(ui->LB_Help->text() + ui->widget->styleSheet(), QStringLiteral("帮助") + red);

    QTest::mouseClick(w.ui->TB_Help, Qt::LeftButton);
    QVERIFY(w.helpDialog->isVisible());
    QVERIFY(ui->textEdit->toPlainText().isEmpty() &&
            !ui->textEdit->toHtml().contains(QStringLiteral("<img")));
    QTest::mouseClick(ui->TB_Close, Qt::LeftButton);

    // The picture by product id and system language, shown once however often
    // the button is pressed, chosen anew at each press.
    w.productId = 1316;
    const bool chinese = systemIsChinese();
    const QString expected = QCoreApplication::applicationDirPath() + QStringLiteral("/file/Help/") +
                             (chinese ? QStringLiteral("Wheel_Ch.jpg") : QStringLiteral("Wheel_En.jpg"));
    QTest::mouseClick(w.ui->TB_Help, Qt::LeftButton);
    QTest::mouseClick(w.ui->TB_Help, Qt::LeftButton);
    QVERIFY(w.helpDialog->isVisible());
    QCOMPARE(ui->textEdit->toHtml().count(QStringLiteral("<img")), 1);
    QVERIFY2(ui->textEdit->toHtml().contains(expected), qPrintable(ui->textEdit->toHtml()));
    setLanguageOverride(chinese ? QLocale::English : QLocale::Chinese);
    w.onInitHelp();
    QVERIFY(ui->textEdit->toHtml().contains(chinese ? "Wheel_En.jpg" : "Wheel_Ch.jpg"));

    // Closing hides it with its content, and it can be shown again.
    QTest::mouseClick(ui->TB_Close, Qt::LeftButton);
    QVERIFY(!w.helpDialog->isVisible());
    QVERIFY(ui->textEdit->toHtml().contains(QStringLiteral("Wheel_")));
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
    QCOMPARE(request.caption + '|' + request.dir + '|' + request.filter,
             QStringLiteral("Open File||C++ Files (*.cpp *.h)"));
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
