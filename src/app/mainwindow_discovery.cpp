// The window's side of the device link: finding and opening the device
// through its session's link, device notices and the indicator's colour.
#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "usb/discovery.h"
#include "usb/linkstate.h"
#include "usb/usbthread.h"
#include "widgets/roundcircle.h"

#include <QDebug>
#include <QPointer>

USBThread::USBThread(MainWindow* w, HidHandle hReadHandle, bool MyDevFound, QObject* parent)
    : USBThread(static_cast<QObject*>(w), hReadHandle, MyDevFound, parent)
{}

int MainWindow::OpenUSBHandle()
{
    HidPlatform* platform = hidPlatform();
    session::Link& link = deviceSession.link();
    MyDevFound = false;
    // The old write handle belongs to a device that has gone; the reader
    // never uses it, so it can be released here instead of leaking.
    link.closeWrite();
    hReadHandle = kInvalidHidHandle;

    // The first interface whose attributes carry the ids, found by the
    // probe alone.
    std::string path;
    if (platform && discovery::firstDevice(*platform, vendorId, productId, &path)) {
        // Both handles and the capabilities (a failed read of them leaves
        // hidCaps as it was).
        MyDevFound = true;
        link.open(path);
        if (hWriteHandle == kInvalidHidHandle)
            sendInProgress = false;
    }

    if (!MyDevFound) {
        QColor red(255, 0, 0, 255);
        SetRoundCircleColor(false, red);
        return -1;
    }
    QColor blue(0, 0, 255, 255);
    SetRoundCircleColor(true, blue);
    return 0;
}

int MainWindow::USBRegistration()
{
    HidPlatform* platform = hidPlatform();
    if (!platform)
        return 1;
    // The sink may outlive the window: it only reaches a window still alive.
    QPointer<MainWindow> self(this);
    const bool ok = platform->registerNotices(reinterpret_cast<void*>(winId()),
                                              [self](HidNoticeKind kind, const std::string& path) {
                                                  if (self)
                                                      self->handleDeviceNotice(kind, path);
                                              });
    if (!ok)
        qDebug() << "device notice registration failed:" << QString::fromStdString(platform->lastError());
    return 1;
}

void MainWindow::SetRoundCircleColor(bool blclockWise, QColor& color)
{
    ui->roundCircle->setClockWise(blclockWise);
    ui->roundCircle->setPieColor1Start(color);
    ui->roundCircle->setPieColor1End(color);
}

bool MainWindow::nativeEvent(const QByteArray& eventType, void* message, long* result)
{
    (void)result;
    // Only the Windows message types can carry a device notice; handing a
    // platform another kind of message would make it misread the memory.
    HidPlatform* platform = hidPlatform();
    if (!platform || !eventType.startsWith("windows"))
        return false;
    HidNoticeKind kind;
    std::string path;
    if (platform->translateNativeMessage(message, &kind, &path))
        handleDeviceNotice(kind, path);
    return false;
}

void MainWindow::handleDeviceNotice(HidNoticeKind kind, const std::string& path)
{
    std::string vendorText;
    std::string productText;
    if (!idsFromDevicePath(path, &vendorText, &productText) || vendorText != vendorIdText.toStdString() ||
        productText != productIdText.toStdString())
        return;

    if (kind == HidNoticeKind::Removal) {
        if (blDeviceRemoved)
            return;
        qDebug() << "remove my Hid";
        blDeviceArrived = false;
        blDeviceRemoved = true;
        stopReader();
        QColor red(255, 0, 0, 255);
        SetRoundCircleColor(false, red);
        return;
    }

    if (blDeviceArrived)
        return;
    qDebug() << "insert my Hid";
    blDeviceArrived = true;
    blDeviceRemoved = false;
    // A further interface of a device that is open and being read (its
    // first arrival after start-up): the link stands, one reader is enough.
    const bool reading = currentReader && currentReader->isRunning() && hReadHandle != kInvalidHidHandle;
    if (!reading) {
        stopReader(); // a reader left idle by a failed opening
        OpenUSBHandle();
        startReader();
    }
    QColor blue(0, 0, 255, 255);
    SetRoundCircleColor(true, blue);
    Slot_SengReadCommand();
}
