// The window's libcurl fetch of one file from the update server, bounded by
// the fetch limits.
#include "app/mainwindow.h"
#include "app/mainwindow_notices.h"
#include "core/dataroot.h"
#include "online/curlfetch.h"
#include "online/fetchlimits.h"
#include "online/updateserver.h"

int MainWindow::Slot_CurlTest(QString FtpFilePath, QString LoadingLocalPath)
{
    int writeError = 0;
    const int result =
        fetchUrl(updateUrl(updateServerAddress(), updateServerPort(), FtpFilePath).toLatin1(),
                 (LoadingLocalPath + FtpFilePath).toLocal8Bit(), fetchlimits::current().capBytes,
                 fetchlimits::remainingMs(), nullptr, &writeError);
    localWriteFailed = false;
    // A local file that cannot be written is this computer's problem, not
    // the network's: say which file and why.
    if (writeError != 0) {
        QString reason;
        const QString path = explainWriteFailure(LoadingLocalPath + FtpFilePath, writeError, &reason);
        notices::localWriteError(*this, path, reason);
    }
    return result;
}
