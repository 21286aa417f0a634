#include "app/ui_mainwindow.h"

#include "core/resourcebundle.h"
#include "widgets/progressbarcolor.h"
#include "widgets/roundcircle.h"

#include <QCoreApplication>
#include <QFont>

// White text with a thin grey frame on the background picture; red under the
// mouse; the red button picture with grey text while pressed.
const char* const kTextButtonStyle =
    "QToolButton{color:#ffffff;min-height:20;border:1px rgb(124,124,124);"
    "background-color:rgba(124,124,124, 0%);padding:1px 1px;border-style:solid;"
    "border-top-left-radius:1px;border-top-right-radius:1px;font-size:15px;border-radius:5px;"
    "padding:1px 1px;}\n"
    "QToolButton:pressed{color:#777b81;min-height:20;border-style:solid;border-top-left-radius:2px;"
    "border-top-right-radius:2px;border-image:url(:/redtwo.png);border:1px;border-radius:15px;"
    "padding:6px 1px;}\n"
    "QToolButton:hover{color:#ffffff;min-height:20;border:2px rgb(124,124,124);background-color:#e31e18;"
    "padding:2px 4px;border-style:solid;border-top-left-radius:2px;border-top-right-radius:2px;"
    "border:1px;border-radius:5px;padding:2px 4px;}";

// Grey text in a grey frame, the same whether the field is enabled or not.
const char* const kLineEditStyle =
    "QLineEdit{border:1px rgb(124,124,124);background-color:rgba(124,124,124, 0%);padding:1px 2px;"
    "border-style:solid;font-size:15px;}\n"
    "QLineEdit:enabled{color:rgb(124,124,124);}\n"
    "QLineEdit:enabled:hover,QLineEdit:enabled:focus{border-color:rgb(124,124,124);"
    "color:rgb(124,124,124);}\n"
    "QLineEdit:!enabled{color:rgb(124,124,124);}";

const char* const kWindowStyle =
    "MainWindow{background-color:rgb(22, 22, 26);border-image:url(:/sj-bg.png);}";

const char* const kCentralWidgetStyle =
    "#centralWidget{background-color:rgba(22, 22, 26, 0);border-image:url(:/sj-bg.png);"
    "border:1px rgba(62,144,220,0);border-radius:8px;}";

namespace {
constexpr int kMaxSize = 16777215; // QWIDGETSIZE_MAX: no limit

QToolButton* textButton(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    button->setMinimumSize(QSize(161, 24));
    button->setMaximumSize(QSize(kMaxSize, kMaxSize));
    button->setStyleSheet(QLatin1String(kTextButtonStyle));
    return button;
}
} // namespace

void Ui_MainWindow::setupUi(QMainWindow* window)
{
    loadResourceBundle();
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(540, 283);
    window->setStyleSheet(QLatin1String(kWindowStyle));

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    centralWidget->setStyleSheet(QLatin1String(kCentralWidgetStyle));

    roundCircle = new RoundCircle(centralWidget);
    roundCircle->setObjectName(QStringLiteral("roundCircle"));
    roundCircle->setGeometry(QRect(10, 5, 61, 51));
    roundCircle->setProperty("bgColorStart", QColor(52, 229, 20));
    roundCircle->setProperty("bgColorEnd", QColor(23, 48, 89));

    progressBarColor = new ProgressBarColor(centralWidget);
    progressBarColor->setObjectName(QStringLiteral("progressBarColor"));
    progressBarColor->setGeometry(QRect(46, 210, 461, 51));
    QFont barFont;
    barFont.setFamily(QStringLiteral("Arial"));
    barFont.setPointSize(12);
    progressBarColor->setFont(barFont);
    progressBarColor->setProperty("textColor", QColor(255, 255, 255));
    progressBarColor->setProperty("barBgColor", QColor(22, 22, 26, 0));
    progressBarColor->setProperty("barColor", QColor(85, 255, 0));

    toolButton_2 = textButton(centralWidget, "toolButton_2", QRect(49, 165, 161, 36));

    toolButton_4 = new QToolButton(centralWidget);
    toolButton_4->setObjectName(QStringLiteral("toolButton_4"));
    toolButton_4->setGeometry(QRect(511, 10, 20, 20));
    toolButton_4->setMinimumSize(QSize(0, 0));
    toolButton_4->setMaximumSize(QSize(77, kMaxSize));
    toolButton_4->setStyleSheet(QStringLiteral("border-image: url(:/sj-3.png);"));
    toolButton_4->setAutoRaise(true);

    TBFlush = textButton(centralWidget, "TBFlush", QRect(319, 165, 161, 36));

    line_path = new QLineEdit(centralWidget);
    line_path->setObjectName(QStringLiteral("line_path"));
    line_path->setEnabled(false);
    line_path->setGeometry(QRect(49, 123, 431, 31));
    line_path->setMinimumSize(QSize(60, 31));
    line_path->setMaximumSize(QSize(600, 310));
    line_path->setStyleSheet(QLatin1String(kLineEditStyle));

    LB_VersionTip = new QLabel(centralWidget);
    LB_VersionTip->setObjectName(QStringLiteral("LB_VersionTip"));
    LB_VersionTip->setGeometry(QRect(40, 50, 421, 41));
    LB_VersionTip->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);\nfont-size:15px;"));

    TB_Help = new QToolButton(centralWidget);
    TB_Help->setObjectName(QStringLiteral("TB_Help"));
    TB_Help->setGeometry(QRect(470, 50, 20, 20));
    QFont helpFont;
    helpFont.setFamily(QStringLiteral("微软雅黑"));
    helpFont.setBold(true);
    helpFont.setWeight(75);
    TB_Help->setFont(helpFont);
    TB_Help->setStyleSheet(QStringLiteral("border-image: url(:/sj-2.png);"));
    TB_Help->setAutoRaise(true);

    AppTitle = new QLabel(centralWidget);
    AppTitle->setObjectName(QStringLiteral("AppTitle"));
    AppTitle->setGeometry(QRect(140, 0, 361, 51));
    QFont titleFont;
    titleFont.setFamily(QStringLiteral("Arial"));
    titleFont.setPointSize(22);
    AppTitle->setFont(titleFont);
    AppTitle->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));

    window->setCentralWidget(centralWidget);

    retranslateUi(window);
    QMetaObject::connectSlotsByName(window);
}

void Ui_MainWindow::retranslateUi(QMainWindow* window)
{
    window->setWindowTitle(QCoreApplication::translate("MainWindow", "MainWindow"));
    toolButton_2->setText(QCoreApplication::translate("MainWindow", "开始下载"));
    toolButton_4->setText(QString());
    TBFlush->setText(QCoreApplication::translate("MainWindow", "选择文件"));
    line_path->setPlaceholderText(QString());
    LB_VersionTip->setText(QString());
    TB_Help->setText(QString());
    AppTitle->setText(QCoreApplication::translate("MainWindow",
                                                  "<html><head/><body><p align=\"center\"><span style=\" "
                                                  "font-size:22pt;\">更新</span></p></body></html>"));
}
