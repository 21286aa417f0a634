#include "app/mainwindow.h"
void MainWindow::FlushFileTip(int) {}
void MainWindow::onInformationTip(QString, QString) {}
