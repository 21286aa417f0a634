#include "online/fetchlimits.h"

#include <algorithm>
#include <optional>

namespace fetchlimits {

namespace {
using Clock = std::chrono::steady_clock;

thread_local std::optional<Clock::time_point> t_scopeEnd;
} // namespace

Limits buildLimits()
{
    return Limits{UPDATER_FETCH_DEADLINE_SECONDS * 1000, static_cast<std::int64_t>(UPDATER_FETCH_CAP_BYTES)};
}

Scope::Scope(const Limits& limits)
    : owner_(!t_scopeEnd)
{
    if (owner_)
        t_scopeEnd = Clock::now() + std::chrono::milliseconds(limits.deadlineMs);
}

Scope::~Scope()
{
    if (owner_)
        t_scopeEnd.reset();
}

Clock::time_point fetchDeadline(const Limits& limits)
{
    const Clock::time_point own = Clock::now() + std::chrono::milliseconds(limits.deadlineMs);
    return t_scopeEnd ? std::min(own, *t_scopeEnd) : own;
}

int remainingMs(const Limits& limits)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(fetchDeadline(limits) - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

} // namespace fetchlimits
