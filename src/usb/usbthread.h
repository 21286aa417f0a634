#pragma once
#include "usb/hidplatform.h"
#include <QThread>
#include <atomic>
class MainWindow;
class USBThread : public QThread {
    Q_OBJECT
public:
    USBThread(MainWindow* w, HidHandle hReadHandle, bool MyDevFound, QObject* parent);
    MainWindow* window = nullptr;
    std::atomic<bool> running{false};
public slots:
    void StopOrStart(bool blstius);
    void Slot_init(MainWindow* w, HidHandle hReadHandle, bool MyDevFound);
protected:
    void run() override;
};
