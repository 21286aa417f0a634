// The download of the newest image once the user has accepted it: the
// version list is fetched again, the image named by its first line is
// fetched, verified (online/onlinefetch.h), saved in the model's download
// directory, and its verified bytes are handed to the upgrade.
#include "app/mainwindow.h"

#include "app/mainwindow_imagefile.h"
#include "app/mainwindow_notices.h"
#include "app/ui_mainwindow.h"
#include "online/fetchlimits.h"
#include "online/onlinefetch.h"
#include "online/serverlayout.h"

#include <QDebug>
#include <QToolButton>

void MainWindow::Slot_LoadBinToOne(QString FtpPathName, QString SavePCname)
{
    // The list, the image and the files beside it share one deadline.
    const fetchlimits::Scope bounded(onlineContext.limits);
    // The list is fetched again so the image follows the server's list now.
    QStringList list;
    if (Slot_LoadingMessageFile(FtpPathName, SavePCname, list) == -1) {
        if (!localWriteFailed)
            notices::networkWarning(*this);
        return;
    }
    serverFilePath = imagePath(SavePCname.left(7), list.first());

    const QString model = SavePCname.left(7);
    const QString downloadDir = appDirPath + QStringLiteral("/file/");
    filePath = downloadDir;
    // Only an image that arrived whole and passed its checks is announced;
    // anything else leaves nothing at its name and is reported as the
    // failure it is.
    localWriteFailed = false;
    const online::ImageResult got = online::fetchVerifiedImage(
        {online::updateSource(online::Road::Curl), downloadDir, model, list.first(),
         imagecheck::replyFirmware(*this), onlineContext, online::counterFileOf(appDirPath)});
    filePath = downloadDir + serverFilePath;
    if (got.ok) {
        imagecheck::holdDownloaded(*this, got.image, filePath);
        FlushFileTip(0);
        ui->toolButton_2->setEnabled(true);
    } else {
        if (got.local.error != 0)
            notices::localWriteError(*this, got.local.error, got.local.path);
        if (!got.why.isEmpty())
            qWarning().noquote() << "download failed:" << got.why;
        FlushFileTip(1);
    }
}
