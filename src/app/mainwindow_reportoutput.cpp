// The window's writes: one frame on the GUI thread through its session,
// which checks the device and the write handle (with their notices), holds
// the send latch and writes exactly the device's feature report length.
#include "app/mainwindow.h"

int MainWindow::SendDataToUsb(unsigned char* WriteToDeiverBuffer)
{
    return deviceSession.write(WriteToDeiverBuffer);
}
