// The one 2 ms tick every ticked session's running stage shares.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <vector>

class QTimer;

namespace session {

class Session;

// The one 2 ms tick every session's running stage shares. One thread does
// the work of every device here, so a wake-up that comes late (a busy
// machine, many devices) would cost every device its ticks: the ticker gives
// the ticks that fell due meanwhile, up to one window of 25 at once, so each stage
// still gets one tick per 2 ms of real time. A stage therefore never sends
// faster than the window's timer would, and its 2500-tick time-out is never
// shorter than 5 s.
class SessionTicker : public QObject {
    Q_OBJECT
public:
    explicit SessionTicker(QObject* parent = nullptr);
    // A session whose stage timer started or stopped.
    void update(Session* session);

private:
    void tick();
    void round();
    QTimer* timer_ = nullptr;
    QElapsedTimer clock_;                     // since the timer started
    qint64 rounds_ = 0;                       // ticks given since then
    std::vector<QPointer<Session>> sessions_; // with a stage timer running
};

} // namespace session
