// One download through the updater's own FTP client, on the GUI thread, with
// its outcome shown to the user.
#include "app/mainwindow.h"

#include "app/mainwindow_notices.h"
#include "app/ui_mainwindow.h"
#include "core/dataroot.h"
#include "core/messagebox.h"
#include "online/ftpclient.h"
#include "online/updateserver.h"
#include "upgrade/notices.h"

#include <QFile>
#include <QToolButton>

#include <cerrno>

void MainWindow::LoadFile(QString FileName, QString FileNameLocalPath)
{
    bool whole = false;
    {
        FtpClient client;
        client.SetServerInfo(updateServerAddress(), updateServerUser(), updateServerPassword(),
                             updateServerPort());
        client.Login(); // a failed login shows as a size the server never gave
        const std::string remote = FileName.toUtf8().toStdString();
        const int size = client.GetFileSize(remote);
        if (size > 0) {
            // The client drops the data of a file it cannot create; say so.
            QFile local(FileNameLocalPath + QLatin1Char('/') + FileName);
            if (!local.open(QIODevice::WriteOnly)) {
                const int error = errno;
                QString reason;
                const QString path = explainWriteFailure(local.fileName(), error, &reason);
                notices::localWriteError(*this, path, reason);
                return;
            }
            local.close();
            std::int64_t written = 0;
            client.DownloadFile(remote, FileNameLocalPath.toUtf8().toStdString(), &written);
            // A transfer cut short is a failure, not a smaller file.
            whole = written == size;
        }
    }

    if (!whole) {
        englishWarningBox(notices::Id::FetchFailed, this, notices::title(notices::Id::FetchFailed, false),
                          notices::text(notices::Id::FetchFailed, false));
        return;
    }
    if (FileName.contains(QLatin1String("bin"))) {
        FlushFileTip(0);
        ui->toolButton_2->setEnabled(true);
    }
}
