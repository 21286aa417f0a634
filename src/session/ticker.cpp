#include "session/ticker.h"

#include "session/session.h"
#include "upgrade/frames.h"

#include <QTimer>

#include <algorithm>

namespace session {

namespace {
// The stages' tick, and how many ticks a late wake-up may make up for: one
// window of data frames at most.
constexpr int kTickMs = 2;
constexpr qint64 kMaxCatchUp = frames::kWindowFrames;
} // namespace

SessionTicker::SessionTicker(QObject* parent)
    : QObject(parent)
{
    timer_ = new QTimer(this);
    timer_->setInterval(kTickMs);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &SessionTicker::tick);
}

void SessionTicker::update(Session* session)
{
    auto it = std::find(sessions_.begin(), sessions_.end(), session);
    if (session->ticking() && it == sessions_.end())
        sessions_.emplace_back(session);
    else if (!session->ticking() && it != sessions_.end())
        it->clear(); // dropped at the next tick: the list may be being walked
    const bool any =
        std::any_of(sessions_.begin(), sessions_.end(), [](const auto& s) { return !s.isNull(); });
    if (any && !timer_->isActive()) {
        clock_.start();
        rounds_ = 0;
        timer_->start();
    } else if (!any)
        timer_->stop();
}

void SessionTicker::tick()
{
    const qint64 due = clock_.elapsed() / kTickMs;
    // Ticks that fell due more than a few ticks ago are dropped, as a late
    // timer drops them.
    if (due - rounds_ > kMaxCatchUp)
        rounds_ = due - kMaxCatchUp;
    while (rounds_ < due && !sessions_.empty()) {
        ++rounds_;
        round();
    }
    if (sessions_.empty())
        timer_->stop();
}

void SessionTicker::round()
{
    // By index: a session's tick may add another session to the list.
    for (std::size_t i = 0; i < sessions_.size(); ++i) {
        QPointer<Session> s = sessions_[i];
        if (s && s->ticking())
            s->tick();
    }
    sessions_.erase(std::remove_if(sessions_.begin(), sessions_.end(),
                                   [](const auto& s) { return s.isNull() || !s->ticking(); }),
                    sessions_.end());
}

} // namespace session
