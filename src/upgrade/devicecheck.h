// The checks of an image file against the device it is meant for, in the
// order the updater makes them: a path was given, the device's family
// accepts the file's version, the file is well formed, and whether the file
// is older than the device's firmware. Plain values in, the notice of the
// first check that fails out: the window and the command-line sessions both
// decide here.
#pragma once

#include "upgrade/notices.h"

#include <cstdint>

namespace devicecheck {

struct Facts {
    bool pathGiven = false;
    bool wellFormed = false; // read completely and the format checks passed
    int productId = 0;
    std::uint16_t deviceVersion = 0;
    std::int32_t fileVersion = 0;
};

// Id::None: the file may be written. Id::LowerVersion: it may be written,
// and the "lower version" notice is due first. Any other: the notice that
// refuses the file.
notices::Id check(const Facts& facts);

} // namespace devicecheck
