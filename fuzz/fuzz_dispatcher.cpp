// The upgrade engine's reply handling and transfer ticks, fed arbitrary
// input reports between timer ticks from every state of an upgrade. See dispatcher_driver.h for the input
// layout and the checks.
#include "dispatcher_driver.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    (void)argc;
    dispatcherfuzz::setUp((*argv)[0]);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    dispatcherfuzz::run(data, size);
    return 0;
}
