#include "usb/usbthread.h"

#include "protocol/protocol.h"
#include "usb/linkstate.h"
#include "usb/usbevent.h"

#include <QCoreApplication>

#include <cstring>

namespace {
void copyHandle(HidHandle handle, bool found)
{
    if (handle == kInvalidHidHandle)
        return;
    readerHandle.store(handle);
    readerEnabled.store(found);
    wakeReaders();
}
} // namespace

USBThread::USBThread(QObject* reportReceiver, HidHandle hReadHandle, bool MyDevFound, QObject* parent)
    : QThread(parent)
    , receiver_(reportReceiver)
{
    copyHandle(hReadHandle, MyDevFound);
    // Queued to this object's thread, so it runs after whatever stop set the
    // flag has returned; a reader deleted before then takes it along.
    connect(this, &QThread::finished, this, [this] {
        if (deleteWhenFinished.load())
            deleteLater();
    });
}

USBThread::~USBThread()
{
    // Destroying a running QThread aborts the process: make sure it ended.
    running.store(false);
    wakeReaders();
    wait();
}

void USBThread::StopOrStart(bool blstius)
{
    {
        std::lock_guard<std::mutex> lock(postMutex_);
        running.store(blstius);
    }
    readerEnabled.store(blstius);
    wakeReaders();
}

void USBThread::Slot_init(MainWindow*, HidHandle hReadHandle, bool MyDevFound)
{
    copyHandle(hReadHandle, MyDevFound);
}

void USBThread::post(const std::uint8_t* report)
{
    std::lock_guard<std::mutex> lock(postMutex_);
    if (running.load())
        QCoreApplication::postEvent(receiver_, new USBEvent(report), Qt::NormalEventPriority);
}

void USBThread::run()
{
    std::uint8_t buffer[kInputReportSize] = {};
    if (!running.load())
        return;
    for (;;) {
        // Sleep until reading may go on, or the reader is stopped.
        waitForLinkChange([this] {
            return !running.load() || (readerEnabled.load() && readerHandle.load() != kInvalidHidHandle);
        });
        if (!running.load())
            return;

        const HidHandle handle = readerHandle.load();
        HidPlatform* platform = hidPlatform();
        const int n = platform ? platform->readInput(handle, buffer, sizeof buffer) : -1;
        readsDone.fetch_add(1, std::memory_order_relaxed);
        if (n > 0 && buffer[0] == protocol::kReportId)
            post(buffer);
        std::memset(buffer, 0, sizeof buffer);
        if (!running.load())
            return;

        if (n <= 0) {
            // The device is gone or the handle closed: reading again at once
            // would only fail again. Wait for the link to change.
            waitForLinkChange([this, handle] { return !running.load() || readerHandle.load() != handle; },
                              kRetryMs);
        }
    }
}
