#include "app/mainwindow.h"
void MainWindow::Slot_LoadBinToOne(QString, QString) {}
void MainWindow::Slot_LoadBinToTwo() {}
void MainWindow::Slot_LoadBinToThree() {}
void MainWindow::LoadFile(QString, QString) {}
int MainWindow::Slot_CurlTest(QString, QString) { return 1; }
