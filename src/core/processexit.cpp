#include "core/processexit.h"

#include <cstdlib>
#include <utility>

namespace {
std::function<void(int)>& handler()
{
    static std::function<void(int)> h;
    return h;
}
} // namespace

void exitProcess(int status)
{
    if (handler()) {
        handler()(status);
        return;
    }
    std::exit(status);
}

void setExitHandler(std::function<void(int)> h)
{
    handler() = std::move(h);
}
