// Runs the download of one file on a thread of its own, again and again
// while it is told to, each turn over a fresh login. The owner sets the
// names, starts the thread and ends it with SetRunning(false); the
// destructor does that and waits, so the thread never outlives its object.
#pragma once

#include "online/fetchlimits.h"

#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

class FtpThread : public QThread {
public:
    // Pause after a turn that fetched nothing (server unreachable, file
    // missing), so a failing server is not hammered in a tight loop; a turn
    // that downloaded the file is followed at once by the next one.
    // SetRunning(false) cuts the pause short.
    static constexpr unsigned long kTurnPauseMs = 1000;

    explicit FtpThread(QObject* parent = nullptr);
    ~FtpThread() override;

    void SetRunning(bool on);
    // Only while the thread is not running.
    void SetFiles(QString fileName, QString localDir);
    // One download with a fresh client.
    void FetchOnce(QString fileName, QString localDir);

    // Turns finished so far, for an owner that wants to see progress.
    int TurnsDone() const { return turns.load(); }

    // The bounds of each turn's fetch; set only while the thread is not
    // running.
    fetchlimits::Limits limits = fetchlimits::buildLimits();

protected:
    void run() override;

private:
    std::atomic<bool> keepRunning{true};
    QString fileName;
    QString localDir;
    std::atomic<int> turns{0};
    bool lastTurnFetched = false; // the worker thread's own
    QMutex pauseMutex;
    QWaitCondition pauseEnded;
};
