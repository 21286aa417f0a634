// One download through the updater's own FTP client, on the GUI thread, with
// its outcome shown to the user. The fetch is bounded in time and bytes, and
// an image counts only once it arrived whole and passed its checks.
#include "app/mainwindow.h"

#include "app/mainwindow_notices.h"
#include "app/ui_mainwindow.h"
#include "core/dataroot.h"
#include "core/messagebox.h"
#include "online/fetchlimits.h"
#include "online/ftpfetch.h"
#include "online/updateserver.h"
#include "qtbridge/noticetext.h"

#include <QDebug>
#include <QFile>
#include <QToolButton>

#include <cerrno>

void MainWindow::LoadFile(QString FileName, QString FileNameLocalPath)
{
    {
        // The client cannot tell a file it cannot create from a failed
        // transfer: try it first, and say what failed locally.
        QFile local(FileNameLocalPath + QLatin1Char('/') + FileName);
        const bool existed = local.exists();
        if (!local.open(QIODevice::WriteOnly | QIODevice::Append)) {
            const int error = errno;
            QString reason;
            const QString path = explainWriteFailure(local.fileName(), error, &reason);
            notices::localWriteError(*this, path, reason);
            return;
        }
        local.close();
        if (!existed)
            local.remove();
    }
    const fetchlimits::Scope bounded;
    const FtpServer server{updateServerAddress(), updateServerPort(), updateServerUser(),
                           updateServerPassword()};
    const FtpFetch fetch = fetchWithFtpClient(server, FileName, FileNameLocalPath,
                                              fetchlimits::current().capBytes, fetchlimits::fetchDeadline());
    const bool image = FileName.contains(QLatin1String("bin"));
    QString why = fetch.why;
    bool whole = fetch.outcome == FtpFetch::Outcome::Ok;
    if (whole && image)
        whole = verifyFtpDownload(server, FileName, FileNameLocalPath, fetch.announced, &why) ==
                imageverify::Verdict::Ok;

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
