// The local download tree, the small file readers, the model's check (the
// signed release metadata with a key, else the version list) and the
// version check against the device's firmware number.
#include "app/mainwindow.h"

#include "app/mainwindow_notices.h"
#include "app/ui_mainwindow.h"
#include "core/messagebox.h"
#include "online/fetchlimits.h"
#include "online/onlinefetch.h"
#include "online/serverlayout.h"
#include "qtbridge/noticetext.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
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
    Q_UNUSED(SavePath); // read in memory: no local copy is left to go stale
    const fetchlimits::Scope bounded(onlineContext.limits); // inside a download, its deadline holds
    QElapsedTimer clock;
    clock.start();
    serverFilePath = ServerPath;
    ui->TBFlush->setEnabled(false);

    const QString downloadDir = appDirPath + QStringLiteral("/file");
    const QString model = ServerPath.split(QLatin1Char('/')).first();
    if (!QFileInfo::exists(downloadDir + QLatin1Char('/') + model))
        QDir().mkpath(downloadDir + QLatin1Char('/') + model);

    // The model's check (online/onlinefetch.h): with a key the verified
    // release metadata names the version, else the list's first line, which
    // must be a version number; anything else is as good as unavailable.
    // What it found is kept for the download it may offer.
    localWriteFailed = false;
    onlineCheck = online::checkRelease(online::updateSource(online::Road::Curl), model, downloadDir,
                                       online::counterFileOf(appDirPath), onlineContext);
    onlineCheckMs = clock.elapsed();
    if (onlineCheck.local.error != 0)
        notices::localWriteError(*this, onlineCheck.local.error, onlineCheck.local.path);
    if (!onlineCheck.ok) {
        if (!onlineCheck.why.isEmpty())
            qWarning().noquote() << "version check failed:" << onlineCheck.why;
        FileData.clear();
        return -1;
    }
    FileData = QStringList{onlineCheck.version};
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

    // Compared as numbers: the check found a version number (see above).
    if (onlineCheck.offered > number) {
        // Nothing is offered that this build would refuse to fetch.
        if (!online::unsignedRefusal(onlineContext).isEmpty()) {
            onlineCheck = {};
            notices::languageNotice(*this, notices::Id::UnsignedRefused);
            return -1;
        }
        const int answer =
            informationBox(notices::Id::NewFirmware, this, notices::title(notices::Id::NewFirmware, false),
                           notices::text(notices::Id::NewFirmware, false), QMessageBox::Yes | QMessageBox::No,
                           QMessageBox::NoButton);
        if (answer == QMessageBox::Yes)
            Slot_LoadBinToOne(listPath, listPath);
        onlineCheck = {};
        return 0;
    }
    onlineCheck = {};

    if (power) {
        informationBox(notices::Id::LatestVersion, this, notices::title(notices::Id::LatestVersion, false),
                       notices::text(notices::Id::LatestVersion, false), QMessageBox::Yes | QMessageBox::No,
                       QMessageBox::NoButton);
    }
    return 1;
}
