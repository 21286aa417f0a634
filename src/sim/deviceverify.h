// The simulator's check after a run: does the virtual device hold exactly
// the file's DSP and ARM images, with both stages ended by their end frames?
#pragma once

#include <QString>

#include <cstdio>
#include <string>

class DeviceModel;

namespace cli {

// Success when the device received both images whole and both end frames,
// ImageMismatch otherwise; what was found, in one line, in `said`.
int verifyDevice(const DeviceModel& device, const QString& imagePath, QString* said);

} // namespace cli
