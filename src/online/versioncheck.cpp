#include "app/mainwindow.h"
int MainWindow::Slot_GetRobotVersion(bool) { return -1; }
int MainWindow::ReadIniFile(QString, QString, QString, QString&) { return 0; }
void MainWindow::Slot_CheckFile() {}
int MainWindow::ReadTxtFile(QString, QStringList&) { return -1; }
void MainWindow::Slot_AutoFlushFile() {}
int MainWindow::Slot_LoadingMessageFile(QString, QString, QStringList&) { return -1; }
