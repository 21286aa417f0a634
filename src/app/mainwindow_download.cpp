// The download of the newest image once the user has accepted it: the
// version list is fetched again, the image named by its first line is
// fetched into the model's download directory and handed to the upgrade.
#include "app/mainwindow.h"

#include "app/ui_mainwindow.h"
#include "online/curlfetch.h"
#include "online/fetchlimits.h"
#include "online/serverlayout.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QToolButton>

void MainWindow::Slot_LoadBinToOne(QString FtpPathName, QString SavePCname)
{
    // The list, the image and the files beside it share one deadline.
    const fetchlimits::Scope bounded;
    // The list is fetched again so the image follows the server's list now.
    QStringList list;
    if (Slot_LoadingMessageFile(FtpPathName, SavePCname, list) == -1) {
        if (!localWriteFailed)
            showNetworkWarning(this);
        return;
    }
    serverFilePath = imagePath(SavePCname.left(7), list.first());

    const QString downloadDir = appDirPath + QStringLiteral("/file/");
    const QString localImage = downloadDir + serverFilePath;
    filePath = downloadDir;
    // A copy left by an earlier run must not pass for this download: an
    // empty image on the server leaves no file, and that is no success.
    QFile::remove(localImage);
    // Only an image that arrived whole and passed its checks is announced;
    // anything else is removed and reported as the failure it is.
    QString why;
    const bool ok = Slot_CurlTest(serverFilePath, downloadDir) == 0 &&
                    verifyCurlDownload(localImage, serverFilePath, &why) == imageverify::Verdict::Ok;
    if (ok) {
        FlushFileTip(0);
        ui->toolButton_2->setEnabled(true);
    } else {
        QFile::remove(localImage);
        if (!why.isEmpty())
            qWarning().noquote() << "download failed:" << why;
        FlushFileTip(1);
    }
    filePath = localImage;
}
