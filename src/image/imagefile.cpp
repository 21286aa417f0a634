#include "app/mainwindow.h"
int MainWindow::slot_VersionCheck() { return 1; }
int MainWindow::OpenTheFile() { return -1; }
void MainWindow::on_toolButton() {}
void MainWindow::on_TBFlush_clicked() {}
int MainWindow::GetTheFilePath() { return -1; }
