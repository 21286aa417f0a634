#include "app/mainwindow.h"
int MainWindow::OpenUSBHandle() { MyDevFound = false; return -1; }
int MainWindow::USBRegistration() { return 1; }
void MainWindow::SetRoundCircleColor(bool, QColor&) {}
void MainWindow::handleDeviceNotice(HidNoticeKind, const std::string&) {}
void MainWindow::startReader() {}
void MainWindow::stopReader() {}
bool MainWindow::nativeEvent(const QByteArray&, void*, long*) { return false; }
