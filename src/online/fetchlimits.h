// Bounds on every fetch from the update server: a deadline for the whole of
// a download and a cap on the bytes kept. The build settles the defaults
// (UPDATER_FETCH_DEADLINE_SECONDS, UPDATER_FETCH_CAP_BYTES); a program hands
// the ones it uses down with its online::Context (online/context.h), so a
// test or the simulator may give smaller ones and a misbehaving server costs
// them seconds.
#pragma once

#include <chrono>
#include <cstdint>

namespace fetchlimits {

struct Limits {
    int deadlineMs = 0;
    std::int64_t capBytes = 0;
};

// The build's settings.
Limits buildLimits();

// One download from the user's point of view (the version list, the image
// and the files beside it) shares one deadline: the first Scope on a thread
// starts it from `limits`, nested Scopes keep it, the last one to end
// clears it.
class Scope {
public:
    explicit Scope(const Limits& limits);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    bool owner_;
};

// When the fetch starting now must be over: the deadline of `limits` from
// now, or the open Scope's end when that comes first.
std::chrono::steady_clock::time_point fetchDeadline(const Limits& limits);
// The same as milliseconds from now, never below 0.
int remainingMs(const Limits& limits);

} // namespace fetchlimits
