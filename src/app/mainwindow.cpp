#include "app/mainwindow.h"

#include "app/mainwindow_notices.h"
#include "app/titles.h"
#include "app/ui_mainwindow.h"
#include "core/dataroot.h"
#include "core/language.h"
#include "core/processexit.h"
#include "help/helptext.h"
#include "usb/linkstate.h"
#include "usb/usbthread.h"
#include "widgets/windowdrag.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QTimer>
#include <QToolButton>

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
    , locale(QLocale::system())
{
    // The session's notices (a write with no device or no write handle)
    // are the window's boxes, shown before the write returns.
    connect(
        &deviceSession, &session::Session::notice, this,
        [this](notices::Id id, int) { notices::languageNotice(*this, id); }, Qt::DirectConnection);

    ui->setupUi(this);

    // No system frame: the rounded background picture is the window.
    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);

    const QString title = productTitle(productId, systemLanguage());
    setWindowTitle(title);
    ui->AppTitle->setText(title);

    vendorIdText = idText(vendorId);
    productIdText = idText(productId);

    // Beside the program for a portable copy, else the user's cache and the
    // installed data directory.
    const DataRoot data = dataRoot();
    appDirPath = data.root;
    helpDirPath = data.helpDir;
    Slot_CheckFile();

    OpenUSBHandle();
    USBRegistration();
    if (MyDevFound) {
        startReader();
        QTimer::singleShot(1000, this, &MainWindow::onGetVersionFromMotor);
    }

    dspTimer = new QTimer(this);
    dspTimer->setInterval(2);
    connect(dspTimer, &QTimer::timeout, this, &MainWindow::SendDSPData);
    armTimer = new QTimer(this);
    armTimer->setInterval(2);
    connect(armTimer, &QTimer::timeout, this, &MainWindow::SendARMData);
    delayTimer = new QTimer(this);
    delayTimer->setInterval(1000);
    connect(delayTimer, &QTimer::timeout, this, &MainWindow::UpgradeDelayTimer);

    ui->toolButton_2->setEnabled(false);
    Get_LacaelLanuage();

    helpDialog = new HelpText(this);
    connect(ui->TB_Help, &QToolButton::released, this, &MainWindow::onInitHelp);
}

MainWindow::~MainWindow()
{
    // The reader is a child of the window: it must have stopped reading
    // before it is destroyed with the window.
    stopReader();
    delete ui;
}

QString MainWindow::SetFileFlushName()
{
    return serverFilePath;
}

void MainWindow::onExit()
{
    armTimer->stop();
    delayTimer->stop();
    if (hReadHandle != kInvalidHidHandle) {
        hidPlatform()->close(hReadHandle);
        hReadHandle = kInvalidHidHandle;
    }
    if (currentReader && currentReader->isRunning()) {
        currentReader->StopOrStart(false);
        currentReader->quit();
    }
    exitProcess(0);
}

void MainWindow::on_toolButton_4_clicked()
{
    onExit();
}

void MainWindow::OnTestTB() {}

void MainWindow::on_TBFlush_released() {}

void MainWindow::Slot_SetFtpThreadLoadingStatus() {}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // The event stays accepted; the window closes and the event loop ends.
    // Stop the reader now so no report is posted to a window being torn down.
    stopReader();
    event->accept();
}

void MainWindow::mousePressEvent(QMouseEvent* event)
{
    // Other buttons leave a drag as it is.
    if (windowdrag::grab(*event, &mousePressPos))
        blMousePressed = true;
}

void MainWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (blMousePressed)
        windowdrag::follow(*this, *event, mousePressPos);
}

void MainWindow::mouseReleaseEvent(QMouseEvent*)
{
    blMousePressed = false;
}
