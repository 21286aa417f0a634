#include "core/processexit.h"

#include "core/services.h"

#include <cstdlib>
#include <utility>

void exitProcess(int status)
{
    if (const ExitHandler handler = services::exitHandler()) {
        handler(status);
        return;
    }
    std::exit(status);
}
