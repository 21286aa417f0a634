// One download through the updater's own FTP client, on the GUI thread, with
// its outcome shown to the user. The fetch is bounded in time and bytes, and
// an image counts only once it arrived whole and passed its checks; the
// verified bytes are held for the upgrade (online/onlinefetch.h).
#include "app/mainwindow.h"

#include "app/mainwindow_imagefile.h"
#include "app/mainwindow_notices.h"
#include "app/ui_mainwindow.h"
#include "core/messagebox.h"
#include "online/fetchlimits.h"
#include "online/ftpfetch.h"
#include "online/onlinefetch.h"
#include "online/updateserver.h"
#include "qtbridge/noticetext.h"
#include "upgrade/notices.h"

#include <QDebug>
#include <QFileInfo>
#include <QToolButton>

#include <algorithm>

void MainWindow::LoadFile(QString FileName, QString FileNameLocalPath)
{
    const online::Source source = online::updateSource(online::Road::FtpClient);
    const bool image = FileName.contains(QLatin1String("bin"));
    // "<model>/<version>.bin", a leading "/" or not.
    const QString relative = FileName.startsWith(QLatin1Char('/')) ? FileName.mid(1) : FileName;
    online::ImageRequest request{source,
                                 FileNameLocalPath,
                                 relative.section(QLatin1Char('/'), 0, 0),
                                 QFileInfo(relative).completeBaseName(),
                                 imagecheck::replyFirmware(*this),
                                 onlineContext,
                                 online::counterFileOf(appDirPath)};
    // The image of the version check just made: its release is not fetched
    // again, and the two share one deadline.
    fetchlimits::Limits left = onlineContext.limits;
    if (image && onlineCheck.ok && onlineCheck.model == request.model &&
        onlineCheck.version == request.version) {
        request.signedRelease = onlineCheck.signedRelease;
        left.deadlineMs = int(std::max<qint64>(0, left.deadlineMs - onlineCheckMs));
    }
    onlineCheck = {};
    const fetchlimits::Scope bounded(left);
    bool whole = false, refused = false;
    online::LocalFailure local;
    QString why;
    if (image) {
        const online::ImageResult got = online::fetchVerifiedImage(request);
        refused = got.refused;
        whole = got.ok;
        local = got.local;
        why = got.why;
        if (whole)
            imagecheck::holdDownloaded(*this, got.image, got.savedPath);
    } else {
        const online::FileResult got =
            online::fetchFileInto(source, FileName, FileNameLocalPath, onlineContext);
        whole = got.curlCode == 0 && got.size > 0;
        local = got.local;
        why = got.why;
    }
    if (local.error != 0) {
        // A download that cannot be stored is this computer's problem, not
        // the server's: say which file and why.
        notices::localWriteError(*this, local.error, local.path);
        return;
    }
    if (refused)
        return notices::languageNotice(*this, notices::Id::UnsignedRefused);
    if (!whole) {
        if (!why.isEmpty())
            qWarning().noquote() << "download failed:" << why;
        englishWarningBox(notices::Id::FetchFailed, this, notices::title(notices::Id::FetchFailed, false),
                          notices::text(notices::Id::FetchFailed, false));
        return;
    }
    if (image) {
        FlushFileTip(0);
        ui->toolButton_2->setEnabled(true);
    }
}
