// Bounds on every fetch from the update server: a deadline for the whole of
// a download and a cap on the bytes kept. The build settles both
// (UPDATER_FETCH_DEADLINE_SECONDS, UPDATER_FETCH_CAP_BYTES); tests and the
// simulator may set smaller ones so a misbehaving server costs them seconds.
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
// What the fetches use now: the build's settings unless set() chose others.
Limits current();
// Limits with a deadline or a cap of 0 or less restore the build's.
void set(const Limits& limits);

// One download from the user's point of view (the version list, the image
// and the files beside it) shares one deadline: the first Scope on a thread
// starts it, nested Scopes keep it, the last one to end clears it.
class Scope {
public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    bool owner_;
};

// When the fetch starting now must be over: the deadline from now, or the
// open Scope's end when that comes first.
std::chrono::steady_clock::time_point fetchDeadline();
// The same as milliseconds from now, never below 0.
int remainingMs();

} // namespace fetchlimits
