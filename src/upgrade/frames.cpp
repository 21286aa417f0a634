#include "upgrade/frames.h"

#include <algorithm>

namespace frames {

namespace {

Frame command(std::uint8_t code, std::uint8_t a, std::uint8_t b = 0)
{
    Frame f{};
    f[0] = kReportId;
    f[1] = code;
    f[2] = a;
    f[3] = b;
    return f;
}

Frame data(std::uint8_t code, ByteView image, std::int64_t offset, int count)
{
    Frame f{};
    f[0] = kReportId;
    f[1] = code;
    const std::int64_t size = std::int64_t(image.size());
    if (offset < 0 || offset >= size)
        return f;
    const std::int64_t n = std::min<std::int64_t>({count, kDataBytes, size - offset});
    for (std::int64_t i = 0; i < n; ++i)
        f[std::size_t(2 + i)] = image[std::size_t(offset + i)];
    return f;
}

std::uint8_t byteAt(ByteView report, std::size_t index)
{
    return report[index];
}

} // namespace

Frame versionQuery()
{
    return command(kVersionQuery, 0x01);
}
Frame start()
{
    return command(kControl, 0x54, 0x02);
}
Frame dspHandshake()
{
    return command(kControl, 0x23, 0x01);
}
Frame dspEnd()
{
    return command(kDspData, 0x21, 0x03);
}
Frame armHandshake()
{
    return command(kArmControl, 0x25, 0x01);
}
Frame armEnd()
{
    return command(kArmControl, 0x01, 0x03);
}

Frame dspData(ByteView image, std::int64_t offset, int count)
{
    return data(kDspData, image, offset, count);
}

Frame armData(ByteView image, std::int64_t offset, int count)
{
    return data(kArmData, image, offset, count);
}

Reply decodeReply(ByteView report)
{
    if (report.size() < 2 || byteAt(report, 0) != kReportId)
        return Reply::Ignored;
    const std::uint8_t code = byteAt(report, 1);
    if (code == kVersionReply)
        return report.size() >= 8 ? Reply::Version : Reply::Ignored;
    if (report.size() < 3)
        return Reply::Ignored;
    const std::uint8_t sub = byteAt(report, 2);
    if (code == kControl) {
        switch (sub) {
        case kDspAckSub:
            return Reply::DspAck;
        case kArmAckSub:
            return Reply::ArmAck;
        case kStartAckSub:
            return Reply::StartAck;
        case kFinishSub:
            return Reply::Completion;
        default:
            return Reply::Ignored;
        }
    }
    if (code == kArmControl && sub == kArmAckSub)
        return Reply::ArmAck;
    return Reply::Ignored;
}

std::uint16_t replyVersion(ByteView report)
{
    if (report.size() < 8)
        return 0;
    return std::uint16_t(byteAt(report, 6) | (byteAt(report, 7) << 8));
}

} // namespace frames
