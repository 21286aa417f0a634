#include "app/mainwindow.h"
#include "usb/hidplatform.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    setHidPlatform(nativeHidPlatform());
    MainWindow window;
    window.show();
    return app.exec();
}
