#include "app/mainwindow.h"
int MainWindow::SendDataToUsb(unsigned char*) { return -1; }
