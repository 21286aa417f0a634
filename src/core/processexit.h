// Every way the process ends on its own goes through exitProcess, so tests
// can replace it and observe the status instead of dying.
#pragma once

#include <functional>

void exitProcess(int status);

// Tests and the unattended driver put a handler in place of std::exit
// through ScopedServices::exit (core/services.h). A handler that returns
// lets the caller go on; callers return at once after exitProcess.
