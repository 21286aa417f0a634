// The bytes of one feature write: exactly the device's feature report
// length, the frame first, padded with zeros (or cut when the device's
// report is shorter than the frame). Every writer of frames builds its
// report here, so the window, the device list and the sessions put the
// same bytes on the wire.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// Into `report`, reusing its storage (a writer that sends a frame every
// tick keeps its buffers).
inline void featureReport(const std::uint8_t* frame, std::size_t frameSize, std::size_t featureLength,
                          std::vector<std::uint8_t>* report)
{
    report->assign(std::max<std::size_t>(featureLength, 1), 0);
    std::copy(frame, frame + std::min(featureLength, frameSize), report->begin());
}

inline std::vector<std::uint8_t> featureReport(const std::uint8_t* frame, std::size_t frameSize,
                                               std::size_t featureLength)
{
    std::vector<std::uint8_t> report;
    featureReport(frame, frameSize, featureLength, &report);
    return report;
}
