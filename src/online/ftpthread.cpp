#include "online/ftpthread.h"

#include "online/fetchlimits.h"
#include "online/ftpclient.h"
#include "online/updateserver.h"

#include <QMutexLocker>

FtpThread::FtpThread(QObject* parent)
    : QThread(parent)
{}

FtpThread::~FtpThread()
{
    SetRunning(false);
    // Every wait of a turn is bounded by the client's time-outs.
    wait();
}

void FtpThread::SetRunning(bool on)
{
    QMutexLocker lock(&pauseMutex);
    keepRunning.store(on);
    if (!on)
        pauseEnded.wakeAll();
}

void FtpThread::SetFiles(QString name, QString dir)
{
    fileName = name;
    localDir = dir;
}

void FtpThread::run()
{
    // With nothing to fetch there is nothing to repeat: the run ends instead
    // of spinning until it is stopped.
    while (keepRunning.load() && !fileName.isEmpty() && !localDir.isEmpty()) {
        const QString name = fileName;
        const QString dir = localDir;
        FetchOnce(name, dir);
        turns.fetch_add(1);
        if (lastTurnFetched)
            continue;
        QMutexLocker lock(&pauseMutex);
        if (keepRunning.load())
            pauseEnded.wait(&pauseMutex, kTurnPauseMs);
    }
}

void FtpThread::FetchOnce(QString name, QString dir)
{
    lastTurnFetched = false;
    if (name.isEmpty() || dir.isEmpty())
        return;
    FtpClient client;
    client.SetServerInfo(updateServerAddress(), updateServerUser(), updateServerPassword(),
                         updateServerPort());
    // Bounded like every fetch: a misbehaving server costs one deadline.
    client.SetDeadline(fetchlimits::fetchDeadline(limits));
    client.SetTransferCap(limits.capBytes);
    client.Login();
    const std::string remote = name.toUtf8().toStdString();
    if (client.GetFileSize(remote) > 0) {
        client.DownloadFile(remote, dir.toUtf8().toStdString());
        lastTurnFetched = true;
    }
}
