#include "app/mainwindow.h"
void MainWindow::onInitHelp() {}
