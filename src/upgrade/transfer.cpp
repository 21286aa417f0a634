#include "app/mainwindow.h"
int MainWindow::DSPbinFileSend(int, int) { return 0; }
int MainWindow::ARMbinFileSend(int, int) { return 0; }
int MainWindow::SendDSPData() { return -1; }
int MainWindow::SendARMData() { return -1; }
