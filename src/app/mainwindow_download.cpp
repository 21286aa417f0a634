// The download of the newest image once the user has accepted it: the
// image the version check found (with a key, the one its verified release
// metadata names) is fetched, verified (online/onlinefetch.h), saved in the
// model's download directory, and its verified bytes are handed to the
// upgrade.
#include "app/mainwindow.h"

#include "app/mainwindow_imagefile.h"
#include "app/mainwindow_notices.h"
#include "app/ui_mainwindow.h"
#include "online/fetchlimits.h"
#include "online/onlinefetch.h"
#include "online/serverlayout.h"

#include <QDebug>
#include <QToolButton>

#include <algorithm>
#include <utility>

void MainWindow::Slot_LoadBinToOne(QString FtpPathName, QString SavePCname)
{
    const QString model = SavePCname.left(7);
    // The check that offered this download, taken once. Its fetches and
    // these share one deadline: the download gets what the check left of
    // it; the time the user took to answer does not count.
    online::ReleaseCheck found = std::exchange(onlineCheck, {});
    fetchlimits::Limits left = onlineContext.limits;
    if (found.ok && found.model == model)
        left.deadlineMs = int(std::max<qint64>(0, left.deadlineMs - onlineCheckMs));
    const fetchlimits::Scope bounded(left);
    if (!found.ok || found.model != model) {
        // No check before it: the download makes its own.
        QStringList list;
        if (Slot_LoadingMessageFile(FtpPathName, SavePCname, list) == -1) {
            if (!localWriteFailed)
                notices::networkWarning(*this);
            return;
        }
        found = std::exchange(onlineCheck, {});
    }
    serverFilePath = imagePath(model, found.version);

    const QString downloadDir = appDirPath + QStringLiteral("/file/");
    filePath = downloadDir;
    // Only an image that arrived whole and passed its checks is announced;
    // anything else leaves nothing at its name and is reported as the
    // failure it is.
    localWriteFailed = false;
    online::ImageRequest request{online::updateSource(online::Road::Curl),
                                 downloadDir,
                                 model,
                                 found.version,
                                 imagecheck::replyFirmware(*this),
                                 onlineContext,
                                 online::counterFileOf(appDirPath)};
    request.signedRelease = found.signedRelease;
    const online::ImageResult got = online::fetchVerifiedImage(request);
    filePath = downloadDir + serverFilePath;
    if (got.ok) {
        imagecheck::holdDownloaded(*this, got.image, filePath);
        FlushFileTip(0);
        ui->toolButton_2->setEnabled(true);
    } else if (got.refused) {
        notices::languageNotice(*this, notices::Id::UnsignedRefused);
    } else {
        if (got.local.error != 0)
            notices::localWriteError(*this, got.local.error, got.local.path);
        if (!got.why.isEmpty())
            qWarning().noquote() << "download failed:" << got.why;
        FlushFileTip(1);
    }
}
