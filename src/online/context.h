// What a program tells its roads to the update server: the key images must
// be signed with, whether a build without one may take unsigned images, the
// bounds on every fetch and whether libcurl's protocol trace goes to
// standard error. Each program makes one in its main and
// hands it down (the window, the sessions, the fetches); no fetch reads
// these from anywhere else.
#pragma once

#include "online/fetchlimits.h"
#include "online/imageverify.h"

#include <QString>

namespace online {

struct Context {
    QString keyText = imageverify::buildKeyText(); // empty: images cannot be verified
    fetchlimits::Limits limits = fetchlimits::buildLimits();
    bool verbose = false; // libcurl's trace on standard error
    // Without a key, no image from the update server is fetched unless this
    // is set (--allow-unsigned): nothing could tell it from a forgery.
    bool allowUnsigned = false;
};

} // namespace online
