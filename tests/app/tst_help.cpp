// The help dialog and the help button.
#include "app/filedialog.h"
#include "app/language.h"
#include "app/mainwindow.h"
#include "app/mousemove.h"
#include "app/ui_mainwindow.h"
#include "help/helptext.h"
#include "usb/virtual/virtualbus.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QtTest>

class HelpTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void pictureChoice_data();
    void pictureChoice();
    void dialogTree();
    void modifyStyle();
    void helpButtonShowsThePictureOnce();
    void helpButtonWithoutPicture();
    void closeHidesTheDialog();
    void leftDragMovesTheDialog();
    void rightDragDoesNothing();
    void plainText();

private:
    VirtualHidBus* bus = nullptr;
};

void HelpTest::initTestCase()
{
    bus = new VirtualHidBus(this);
    setHidPlatform(bus);
}

void HelpTest::cleanup()
{
    setLanguageOverride(QLocale::AnyLanguage);
    setOpenFileChooser(nullptr);
}

void HelpTest::pictureChoice_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("picture");
    QTest::newRow("base Chinese") << 1314 << int(QLocale::Chinese) << "Base_Ch.jpg";
    QTest::newRow("base English") << 1314 << int(QLocale::English) << "Base_En.jpg";
    QTest::newRow("base French") << 1314 << int(QLocale::French) << "Base_En.jpg";
    QTest::newRow("wheel Chinese") << 1316 << int(QLocale::Chinese) << "Wheel_Ch.jpg";
    QTest::newRow("wheel English") << 1316 << int(QLocale::English) << "Wheel_En.jpg";
    QTest::newRow("0525 Chinese") << 0x0525 << int(QLocale::Chinese) << "";
    QTest::newRow("0525 English") << 0x0525 << int(QLocale::English) << "";
    QTest::newRow("0523") << 0x0523 << int(QLocale::Chinese) << "";
}

void HelpTest::pictureChoice()
{
    QFETCH(int, productId);
    QFETCH(int, language);
    QFETCH(QString, picture);
    QCOMPARE(helpPictureName(productId, static_cast<QLocale::Language>(language)), picture);
}

void HelpTest::dialogTree()
{
    HelpText dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("HelpText"));
    QCOMPARE(QString::fromLatin1(dialog.metaObject()->className()), QStringLiteral("HelpText"));
    QCOMPARE(dialog.size(), QSize(675, 470));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Dialog"));
    QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(dialog.windowFlags() & Qt::WindowType_Mask, Qt::Dialog);
    QCOMPARE(dialog.styleSheet(), QStringLiteral("background-color: rgb(57, 58, 60);\n"));

    Ui_HelpText* ui = dialog.ui;
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
    for (const char* name : {"gridLayout", "verticalLayout", "widget", "LB_Help", "TB_Close", "textEdit"})
        QVERIFY2(dialog.findChild<QObject*>(QLatin1String(name)), name);
}

void HelpTest::modifyStyle()
{
    HelpText dialog;
    Ui_HelpText* ui = dialog.ui;
    // The default look, in every locale: red title bar, "帮助".
    QCOMPARE(ui->LB_Help->text(), QStringLiteral("帮助"));
    QCOMPARE(ui->widget->styleSheet(), QStringLiteral("background-color:#e31e18;"));
    const QString areaStyle = ui->textEdit->styleSheet();
    QCOMPARE(
        areaStyle,
        QStringLiteral("QTextEdit#textEdit{border: 1px solid #e31e18;background-color: rgb(22, 22, 26);}"));

    ui->LB_Help->setText(QStringLiteral("x"));
    dialog.onModifyStyle(QStringLiteral("background-color: rgb(0, 0, 255);"));
    QCOMPARE(ui->widget->styleSheet(), QStringLiteral("background-color: rgb(0, 0, 255);"));
    QCOMPARE(ui->textEdit->styleSheet(), areaStyle);
    QCOMPARE(ui->LB_Help->text(), QStringLiteral("x"));

    dialog.onModifyStyle();
    QCOMPARE(ui->widget->styleSheet(), QStringLiteral("background-color:#e31e18;"));
    QCOMPARE(ui->LB_Help->text(), QStringLiteral("帮助"));
}

void HelpTest::helpButtonShowsThePictureOnce()
{
    MainWindow w;
    w.productId = 1316;
    const bool chinese = systemIsChinese();
    const QString expected = QCoreApplication::applicationDirPath() + QStringLiteral("/file/Help/") +
                             (chinese ? QStringLiteral("Wheel_Ch.jpg") : QStringLiteral("Wheel_En.jpg"));
    QTest::mouseClick(w.ui->TB_Help, Qt::LeftButton);
    QTest::mouseClick(w.ui->TB_Help, Qt::LeftButton);
    QVERIFY(w.helpDialog->isVisible());
    const QString html = w.helpDialog->ui->textEdit->toHtml();
    QCOMPARE(html.count(QStringLiteral("<img")), 1);
    QVERIFY2(html.contains(expected), qPrintable(html));

    setLanguageOverride(chinese ? QLocale::English : QLocale::Chinese);
    w.onInitHelp();
    QVERIFY(w.helpDialog->ui->textEdit->toHtml().contains(chinese ? "Wheel_En.jpg" : "Wheel_Ch.jpg"));
}

void HelpTest::helpButtonWithoutPicture()
{
    MainWindow w; // 0x0525: no help picture
    QTest::mouseClick(w.ui->TB_Help, Qt::LeftButton);
    QVERIFY(w.helpDialog->isVisible());
    QVERIFY(w.helpDialog->ui->textEdit->toPlainText().isEmpty());
    QVERIFY(!w.helpDialog->ui->textEdit->toHtml().contains(QStringLiteral("<img")));
}

void HelpTest::closeHidesTheDialog()
{
    MainWindow w;
    w.productId = 1314;
    w.onInitHelp();
    QVERIFY(w.helpDialog->isVisible());
    QTest::mouseClick(w.helpDialog->ui->TB_Close, Qt::LeftButton);
    QVERIFY(!w.helpDialog->isVisible());
    // Hidden, not gone: it keeps its content and can be shown again.
    QVERIFY(w.helpDialog->ui->textEdit->toHtml().contains(QStringLiteral("Base_")));
    w.helpDialog->onOpenHelpTextWidget();
    QVERIFY(w.helpDialog->isVisible());
}

void HelpTest::leftDragMovesTheDialog()
{
    HelpText dialog;
    dialog.move(50, 60);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPoint start = dialog.pos();
    const QPoint grab(300, 20); // on the title bar, clear of the close button
    QTest::mousePress(&dialog, Qt::LeftButton, Qt::NoModifier, grab);
    moveMouse(&dialog, grab + QPoint(-15, 30), Qt::LeftButton);
    QCOMPARE(dialog.pos(), start + QPoint(-15, 30));
    QTest::mouseRelease(&dialog, Qt::LeftButton, Qt::NoModifier, grab + QPoint(-15, 30));
    const QPoint after = dialog.pos();
    moveMouse(&dialog, grab + QPoint(10, 10), Qt::NoButton);
    QTest::qWait(20);
    QCOMPARE(dialog.pos(), after);
}

void HelpTest::rightDragDoesNothing()
{
    HelpText dialog;
    dialog.move(50, 60);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPoint start = dialog.pos();
    QTest::mousePress(&dialog, Qt::RightButton, Qt::NoModifier, QPoint(300, 20));
    moveMouse(&dialog, QPoint(340, 60), Qt::RightButton);
    QTest::qWait(20);
    QCOMPARE(dialog.pos(), start);
}

void HelpTest::plainText()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("notes.h"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("第一行\nline two\0hidden tail", 31));
    }
    HelpText dialog;
    int asked = 0;
    OpenFileRequest request{};
    setOpenFileChooser([&](const OpenFileRequest& r) {
        ++asked;
        request = r;
        return path;
    });

    dialog.onInsertTheImagic(QStringLiteral("/nowhere/picture.jpg"));
    // An empty path asks for nothing and changes nothing.
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

QTEST_MAIN(HelpTest)
#include "tst_help.moc"
