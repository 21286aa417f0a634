// The local download tree, the small file readers, the version list fetch
// and the version check against the device's firmware number.
#include "app/mainwindow.h"

#include "app/mainwindow_notices.h"
#include "app/ui_mainwindow.h"
#include "core/messagebox.h"
#include "online/fetchlimits.h"
#include "online/onlinefetch.h"
#include "online/serverlayout.h"
#include "qtbridge/noticetext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>

void MainWindow::Slot_CheckFile()
{
    const QStringList suffixes = localDirectorySuffixes();
    for (const QString& suffix : suffixes) {
        const QString path = appDirPath + suffix;
        if (!QDir(path).exists())
            QDir().mkpath(path); // a failure shows later, as a failed fetch
    }
}

int MainWindow::ReadTxtFile(QString FilePath, QStringList& data)
{
    QFile file(FilePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    QTextStream stream(&file);
    while (!stream.atEnd())
        data.append(stream.readLine());
    file.close();
    return 0;
}

int MainWindow::Slot_LoadingMessageFile(QString ServerPath, QString SavePath, QStringList& FileData)
{
    Q_UNUSED(SavePath); // the list is read in memory: no local copy is left to go stale
    const fetchlimits::Scope bounded(onlineContext.limits); // inside a download, its deadline holds
    serverFilePath = ServerPath;
    ui->TBFlush->setEnabled(false);

    const QString downloadDir = appDirPath + QStringLiteral("/file");
    const QString modelDir = downloadDir + QLatin1Char('/') + ServerPath.split(QLatin1Char('/')).first();
    if (!QFileInfo::exists(modelDir))
        QDir().mkpath(modelDir);

    // Judged by the fetch itself: its first line only, which must be a
    // version number; anything else makes the list as good as unavailable.
    localWriteFailed = false;
    const online::ListResult list = online::fetchVersionList(online::updateSource(online::Road::Curl),
                                                             ServerPath, downloadDir, onlineContext);
    if (list.local.error != 0)
        notices::localWriteError(*this, list.local.error, list.local.path);
    if (!list.ok) {
        FileData.clear();
        return -1;
    }
    FileData = QStringList{list.version};
    return 0;
}

int MainWindow::Slot_GetRobotVersion(bool power)
{
    // The firmware number is in bytes 6 and 7; a shorter reply holds none.
    if (versionReply.size() < 8 || versionChecked)
        return -1;
    versionChecked = true;

    const auto low = static_cast<unsigned char>(versionReply.at(6));
    const auto high = static_cast<unsigned char>(versionReply.at(7));
    const int number = low | (high << 8);
    deviceVersionText = QString::number(number);

    const QString model = modelDirectory(deviceVersionText.toInt());
    if (model.isEmpty()) {
        warningBox(notices::Id::UnknownModel, this, notices::title(notices::Id::UnknownModel, false),
                   notices::text(notices::Id::UnknownModel, false), QMessageBox::Ok, QMessageBox::Ok);
        return -1;
    }

    const QString listPath = versionListPath(model);
    QStringList list;
    if (Slot_LoadingMessageFile(listPath, listPath, list) == -1) {
        if (!localWriteFailed)
            notices::networkWarning(*this);
        return -1;
    }

    // Compared as numbers: the list holds a version number (see above).
    int offered = 0;
    online::versionNumber(list.first(), &offered);
    if (offered > number) {
        const int answer =
            informationBox(notices::Id::NewFirmware, this, notices::title(notices::Id::NewFirmware, false),
                           notices::text(notices::Id::NewFirmware, false), QMessageBox::Yes | QMessageBox::No,
                           QMessageBox::NoButton);
        if (answer == QMessageBox::Yes)
            Slot_LoadBinToOne(listPath, listPath);
        return 0;
    }

    if (power) {
        informationBox(notices::Id::LatestVersion, this, notices::title(notices::Id::LatestVersion, false),
                       notices::text(notices::Id::LatestVersion, false), QMessageBox::Yes | QMessageBox::No,
                       QMessageBox::NoButton);
    }
    return 1;
}
