// The window's libcurl fetch of one file from the update server, bounded by
// the fetch limits, through a private directory (online/onlinefetch.h).
#include "app/mainwindow.h"
#include "app/mainwindow_notices.h"
#include "online/onlinefetch.h"

int MainWindow::Slot_CurlTest(QString FtpFilePath, QString LoadingLocalPath)
{
    const online::FileResult result = online::fetchFileInto(online::updateSource(online::Road::Curl),
                                                            FtpFilePath, LoadingLocalPath, onlineContext);
    localWriteFailed = false;
    if (result.local.error != 0)
        notices::localWriteError(*this, result.local.error, result.local.path);
    return result.curlCode;
}
