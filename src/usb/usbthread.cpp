#include "usb/usbthread.h"
#include "usb/linkstate.h"
USBThread::USBThread(MainWindow* w, HidHandle, bool, QObject* parent) : QThread(parent), window(w) {}
void USBThread::StopOrStart(bool b) { running = b; }
void USBThread::Slot_init(MainWindow*, HidHandle, bool) {}
void USBThread::run() {}
void wakeReaders() {}
