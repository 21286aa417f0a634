// The cli's online road (--server): the updater's window checks the version
// against the update server, downloads the image and writes it, driven
// without a user (sim/unattended.h). Kept apart from the local road, which
// needs no window: only this road makes a QApplication.
#pragma once

#include "cli/eventlog.h"
#include "cli/stationcli.h"
#include "sim/unattended.h"

#include <QCoreApplication>

#include <memory>

namespace onlineroad {

// The application object the window needs (offscreen unless a platform
// was chosen).
std::unique_ptr<QCoreApplication> makeApplication(int& argc, char* argv[]);

// One device, online: waits for it, flashes it through the window and
// returns the exit status. The same Ctrl-C rule as the local road; a
// --timeout holds even while a download keeps the event loop from running.
int flashOne(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId,
             const unattended::StationCommand& command, const unattended::Options& options,
             unattended::EventLog* events);

} // namespace onlineroad
