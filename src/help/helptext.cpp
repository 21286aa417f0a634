#include "help/helptext.h"

#include "core/filedialog.h"
#include "core/resourcebundle.h"
#include "widgets/windowdrag.h"

#include <QCoreApplication>
#include <QFile>
#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {
const char* const kTitleBarColour = "#e31e18";
}

QString helpPictureName(int productId, QLocale::Language language)
{
    const bool chinese = language == QLocale::Chinese;
    switch (productId) {
    case 0x0522: // motor base
        return chinese ? QStringLiteral("Base_Ch.jpg") : QStringLiteral("Base_En.jpg");
    case 0x0524: // steering wheel
        return chinese ? QStringLiteral("Wheel_Ch.jpg") : QStringLiteral("Wheel_En.jpg");
    default: // the general help of the updater, so the dialog is never blank
        return chinese ? QStringLiteral("Updater_Ch.jpg") : QStringLiteral("Updater_En.jpg");
    }
}

void Ui_HelpText::setupUi(QDialog* dialog)
{
    loadResourceBundle();
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("HelpText"));
    dialog->resize(675, 470);
    dialog->setStyleSheet(QStringLiteral("background-color: rgb(57, 58, 60);\n"));

    gridLayout = new QGridLayout(dialog);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setSpacing(0);
    gridLayout->setContentsMargins(0, 0, 0, 0);

    verticalLayout = new QVBoxLayout();
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(0);

    widget = new QWidget(dialog);
    widget->setObjectName(QStringLiteral("widget"));
    widget->setMinimumSize(QSize(0, 40));

    LB_Help = new QLabel(widget);
    LB_Help->setObjectName(QStringLiteral("LB_Help"));
    LB_Help->setGeometry(QRect(10, 0, 161, 41));
    QFont labelFont;
    labelFont.setFamily(QStringLiteral("Adobe Arabic"));
    labelFont.setBold(true);
    labelFont.setWeight(75);
    LB_Help->setFont(labelFont);
    LB_Help->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);\nfont-size : 40px ;"));

    TB_Close = new QPushButton(widget);
    TB_Close->setObjectName(QStringLiteral("TB_Close"));
    TB_Close->setGeometry(QRect(640, 10, 20, 20));
    TB_Close->setStyleSheet(QStringLiteral("border-image: url(:/close.png);"));

    verticalLayout->addWidget(widget);

    textEdit = new QTextEdit(dialog);
    textEdit->setObjectName(QStringLiteral("textEdit"));
    textEdit->setFrameShape(QFrame::NoFrame);
    textEdit->setLineWidth(0);
    textEdit->setReadOnly(true);
    textEdit->setTabStopDistance(0);

    verticalLayout->addWidget(textEdit);
    gridLayout->addLayout(verticalLayout, 0, 0, 1, 1);

    retranslateUi(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui_HelpText::retranslateUi(QDialog* dialog)
{
    dialog->setWindowTitle(QCoreApplication::translate("HelpText", "Dialog"));
    LB_Help->setText(QCoreApplication::translate("HelpText", "Help"));
    TB_Close->setText(QString());
}

HelpText::HelpText(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui_HelpText)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    ui->textEdit->horizontalScrollBar()->setValue(ui->textEdit->horizontalScrollBar()->minimum());
    onModifyStyle(QString());
    connect(ui->TB_Close, &QPushButton::released, this, &HelpText::onCloseHelpTextWidget);
    ui->textEdit->setReadOnly(true);
}

HelpText::~HelpText()
{
    delete ui;
}

void HelpText::onOpenHelpTextWidget()
{
    show();
    // The first show scrolls the cursor into view, and the cursor stands
    // behind the picture: a picture taller than the area would open at its
    // end. Help is read from the top.
    ui->textEdit->verticalScrollBar()->setValue(0);
}

void HelpText::onModifyStyle(QString style)
{
    if (!style.isEmpty()) {
        ui->widget->setStyleSheet(style);
        return;
    }
    ui->widget->setStyleSheet(QStringLiteral("background-color:%1;").arg(QLatin1String(kTitleBarColour)));
    ui->textEdit->setStyleSheet(
        QStringLiteral("QTextEdit#textEdit{border: 1px solid %1;background-color: rgb(22, 22, 26);}")
            .arg(QLatin1String(kTitleBarColour)));
    ui->LB_Help->setText(QStringLiteral("帮助"));
}

void HelpText::onModifyStyle()
{
    onModifyStyle(QString());
}

void HelpText::onOpenPlainText(QString path)
{
    QString fileName = path;
    // Only a null path asks; an empty one is a request for nothing.
    if (path.isNull())
        fileName = askOpenFileName(this, tr("Open File"), QString(), QStringLiteral("C++ Files (*.cpp *.h)"));
    if (fileName.isEmpty())
        return;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    QByteArray bytes = file.readAll();
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    ui->textEdit->setPlainText(QString::fromUtf8(bytes));
}

void HelpText::setupEditor() {}

void HelpText::onInsertTheImagic(QString path)
{
    ui->textEdit->clear();
    // A picture that cannot be loaded simply leaves the area empty. The path
    // is quoted for the attribute so a folder name with an apostrophe or an
    // ampersand still names the file.
    QString quoted = path.toHtmlEscaped();
    quoted.replace(QLatin1Char('\''), QLatin1String("&#39;"));
    ui->textEdit->textCursor().insertHtml(QStringLiteral("<img src='%1'>").arg(quoted));
}

void HelpText::onCloseHelpTextWidget()
{
    close();
}

void HelpText::mousePressEvent(QMouseEvent* event)
{
    // A press of another button ends a drag.
    dragging = windowdrag::grab(*event, &dragOrigin);
}

void HelpText::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging)
        windowdrag::follow(*this, *event, dragOrigin);
}

void HelpText::mouseReleaseEvent(QMouseEvent*)
{
    dragging = false;
}
