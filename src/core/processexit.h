// Every way the process ends on its own goes through exitProcess, so tests
// can replace it and observe the status instead of dying.
#pragma once

#include <functional>

void exitProcess(int status);

// An empty handler restores the default (std::exit). A handler that returns
// lets the caller go on; callers return at once after exitProcess.
void setExitHandler(std::function<void(int)> handler);
