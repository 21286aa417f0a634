// The window's libcurl fetch of one file from the update server, bounded by
// the fetch limits.
#include "app/mainwindow.h"
#include "online/curlfetch.h"
#include "online/fetchlimits.h"
#include "online/updateserver.h"

int MainWindow::Slot_CurlTest(QString FtpFilePath, QString LoadingLocalPath)
{
    return fetchUrl(updateUrl(updateServerAddress(), updateServerPort(), FtpFilePath).toLatin1(),
                    (LoadingLocalPath + FtpFilePath).toLocal8Bit(), fetchlimits::current().capBytes,
                    fetchlimits::remainingMs());
}
