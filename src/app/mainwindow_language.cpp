#include "app/mainwindow.h"
void MainWindow::Get_LacaelLanuage() {}
void MainWindow::Slot_SetLanguage(int) {}
