// The reader thread: reads the device's input reports one after the other
// and posts each one with report id 0x80 to the main window as a USBEvent.
// It uses the process-wide readerHandle/readerEnabled of linkstate.h.
//
// Calling order: open the device, construct the reader, StopOrStart(true),
// start(). To stop: StopOrStart(false), then close the read handle (which
// ends a pending read at once). A stopped reader never reads again.
//
// Once StopOrStart(false) has returned, the reader posts nothing more, even
// when a read that ignored the close ends afterwards with a report: the
// receiver may be gone by then.
//
// The reader never spins: while reading is disabled or the handle is
// invalid it sleeps until wakeReaders(); after a failed read (the device
// was pulled out) it sleeps until the handle changes, it is stopped, or a
// back-off of kRetryMs has passed.
#pragma once

#include "usb/hidplatform.h"

#include <QThread>

#include <atomic>
#include <mutex>

class MainWindow;

class USBThread : public QThread {
    Q_OBJECT

public:
    static constexpr int kRetryMs = 200;

    // Reports go to `receiver` as posted events.
    USBThread(QObject* receiver, HidHandle hReadHandle, bool MyDevFound, QObject* parent);
    // The window's form: the window receives the reports. Defined beside the
    // window (app/mainwindow_discovery.cpp), which knows it is a QObject.
    USBThread(MainWindow* w, HidHandle hReadHandle, bool MyDevFound, QObject* parent);
    ~USBThread() override;

    std::atomic<bool> running{false};
    // Set by a stop that gave up waiting: the reader deletes itself (later,
    // on its owner's thread) once its thread has finished.
    std::atomic<bool> deleteWhenFinished{false};

    // Completed reads, for tests and the benchmark.
    std::atomic<int> readsDone{0};

public slots:
    void StopOrStart(bool blstius);
    void Slot_init(MainWindow* w, HidHandle hReadHandle, bool MyDevFound);

protected:
    void run() override;

private:
    // Posts one report to the receiver unless the reader was stopped.
    void post(const std::uint8_t* report);

    std::mutex postMutex_; // a stop waits for a post under way
    QObject* receiver_ = nullptr;
};
