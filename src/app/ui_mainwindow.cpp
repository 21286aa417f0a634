#include "app/ui_mainwindow.h"

#include "widgets/progressbarcolor.h"
#include "widgets/roundcircle.h"

void Ui_MainWindow::setupUi(QMainWindow* window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(540, 283);
    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    roundCircle = new RoundCircle(centralWidget);
    roundCircle->setObjectName(QStringLiteral("roundCircle"));
    progressBarColor = new ProgressBarColor(centralWidget);
    progressBarColor->setObjectName(QStringLiteral("progressBarColor"));
    toolButton_2 = new QToolButton(centralWidget);
    toolButton_2->setObjectName(QStringLiteral("toolButton_2"));
    toolButton_4 = new QToolButton(centralWidget);
    toolButton_4->setObjectName(QStringLiteral("toolButton_4"));
    TBFlush = new QToolButton(centralWidget);
    TBFlush->setObjectName(QStringLiteral("TBFlush"));
    line_path = new QLineEdit(centralWidget);
    line_path->setObjectName(QStringLiteral("line_path"));
    LB_VersionTip = new QLabel(centralWidget);
    LB_VersionTip->setObjectName(QStringLiteral("LB_VersionTip"));
    TB_Help = new QToolButton(centralWidget);
    TB_Help->setObjectName(QStringLiteral("TB_Help"));
    AppTitle = new QLabel(centralWidget);
    AppTitle->setObjectName(QStringLiteral("AppTitle"));
    window->setCentralWidget(centralWidget);
    retranslateUi(window);
    QMetaObject::connectSlotsByName(window);
}

void Ui_MainWindow::retranslateUi(QMainWindow*) {}
