#include "online/fetchlimits.h"

#include <algorithm>
#include <atomic>
#include <optional>

namespace fetchlimits {

namespace {
using Clock = std::chrono::steady_clock;

std::atomic<int> g_deadlineMs{0};
std::atomic<std::int64_t> g_capBytes{0};
thread_local std::optional<Clock::time_point> t_scopeEnd;
} // namespace

Limits buildLimits()
{
    return Limits{UPDATER_FETCH_DEADLINE_SECONDS * 1000, static_cast<std::int64_t>(UPDATER_FETCH_CAP_BYTES)};
}

Limits current()
{
    const Limits build = buildLimits();
    const int deadline = g_deadlineMs.load();
    const std::int64_t cap = g_capBytes.load();
    return Limits{deadline > 0 ? deadline : build.deadlineMs, cap > 0 ? cap : build.capBytes};
}

void set(const Limits& limits)
{
    g_deadlineMs = limits.deadlineMs;
    g_capBytes = limits.capBytes;
}

Scope::Scope()
    : owner_(!t_scopeEnd)
{
    if (owner_)
        t_scopeEnd = Clock::now() + std::chrono::milliseconds(current().deadlineMs);
}

Scope::~Scope()
{
    if (owner_)
        t_scopeEnd.reset();
}

Clock::time_point fetchDeadline()
{
    const Clock::time_point own = Clock::now() + std::chrono::milliseconds(current().deadlineMs);
    return t_scopeEnd ? std::min(own, *t_scopeEnd) : own;
}

int remainingMs()
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(fetchDeadline() - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

} // namespace fetchlimits
