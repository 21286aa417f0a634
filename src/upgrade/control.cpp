#include "app/mainwindow.h"
void MainWindow::on_toolButton_2_clicked() {}
int MainWindow::DSPShakeHand() { return 0; }
int MainWindow::ARMShakeHand() { return 0; }
void MainWindow::onToolButton_Three() {}
void MainWindow::UpgradeDelayTimer() {}
void MainWindow::Slot_SengReadCommand() {}
void MainWindow::Slot_SecondCommand() {}
void MainWindow::onGetVersionFromMotor() {}
