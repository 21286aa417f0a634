#include "app/mainwindow.h"
#include "core/services.h"
#include "usb/hidplatform.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    ScopedServices services;
    services.hid(nativeHidPlatform());
    MainWindow window;
    window.show();
    return app.exec();
}
