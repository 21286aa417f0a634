#include "app/mainwindow.h"
void MainWindow::customEvent(QEvent*) {}
