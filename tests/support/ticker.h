// Runs the upgrade's three timers by hand, as fast as frames flow, instead of
// waiting for 2 ms and 1 s intervals: the DSP timer ticks while it runs,
// else the ARM timer, else the start wait. For the window (the fault
// matrix) and for a bare engine whose timers the caller keeps (the
// dispatcher fuzz driver).
#pragma once

#include "upgrade/engine.h"

#include <functional>

struct Ticker {
    std::function<bool(upgrade::Timer)> running; // is this timer running
    std::function<void(upgrade::Timer)> fire;    // one tick of it
    std::function<long()> progress;              // grows whenever a data frame goes out
    // Called after a stage tick that sent nothing (`idleTicks` in a row), and
    // with 0 before each tick of the start wait: the device's time to answer.
    std::function<void(int idleTicks)> idle;

    // Ticks the first running timer until `done`, until none runs, or for
    // `limitMs` of wall time.
    void run(const std::function<bool()>& done, int limitMs = 30000);
};
