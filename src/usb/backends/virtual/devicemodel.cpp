#include "usb/backends/virtual/devicemodel.h"

#include <algorithm>

namespace {
constexpr std::uint8_t kVersionCode = 0x0A;
constexpr std::uint8_t kAckCode = 0x0C;
constexpr std::uint8_t kDspAck = 0x56;
constexpr std::uint8_t kArmAck = 0x54;
constexpr std::uint8_t kStartAck = 0x55;
constexpr std::uint8_t kCompletion = 0x59;
constexpr std::uint8_t kBurstCode = 0x7E;

bool restZero(const std::uint8_t* f, std::size_t from)
{
    return std::all_of(f + from, f + DeviceModel::kFrameLength, [](std::uint8_t b) { return b == 0; });
}
} // namespace

DeviceModel::DeviceModel() = default;

DeviceModel::FrameKind DeviceModel::classify(const std::uint8_t* data, std::size_t length)
{
    std::uint8_t f[kFrameLength] = {};
    std::copy(data, data + std::min(length, kFrameLength), f);
    if (length == 0 || f[0] != kReportId)
        return FrameKind::Unknown;
    switch (f[1]) {
    case 0x03:
        return f[2] == 0x01 ? FrameKind::VersionQuery : FrameKind::Unknown;
    case 0x0C:
        if (f[2] == 0x54 && f[3] == 0x02)
            return FrameKind::Start;
        if (f[2] == 0x23 && f[3] == 0x01)
            return FrameKind::DspHandshake;
        return FrameKind::Unknown;
    case 0x0D:
        // Also the end frame's bytes; feature() decides which it is.
        return FrameKind::DspData;
    case 0x0E:
        return FrameKind::ArmData;
    case 0x0F:
        if (f[2] == 0x25 && f[3] == 0x01)
            return FrameKind::ArmHandshake;
        if (f[2] == 0x01 && f[3] == 0x03)
            return FrameKind::ArmEnd;
        return FrameKind::Unknown;
    default:
        return FrameKind::Unknown;
    }
}

DeviceModel::Report DeviceModel::versionReply(std::uint16_t firmware)
{
    Report r(kReportLength, 0);
    r[0] = kReportId;
    r[1] = kVersionCode;
    r[2] = 0x01;
    r[6] = static_cast<std::uint8_t>(firmware & 0xFF);
    r[7] = static_cast<std::uint8_t>(firmware >> 8);
    return r;
}

DeviceModel::Report DeviceModel::ack(std::uint8_t code, std::uint8_t subCode)
{
    Report r(kReportLength, 0);
    r[0] = kReportId;
    r[1] = code;
    r[2] = subCode;
    return r;
}

void DeviceModel::reply(Output& out, Report report)
{
    const std::size_t length = std::clamp<std::size_t>(faults_.inputReportLength, 1, kReportLength);
    auto add = [&](Report r) {
        r.resize(length);
        out.reports.push_back(std::move(r));
    };
    for (int i = 0; i < faults_.burstBefore; ++i) {
        Report b(kReportLength, 0);
        b[0] = kReportId;
        b[1] = kBurstCode;
        b[2] = burstSeq_++;
        add(std::move(b));
    }
    if (faults_.foreignReportId != 0) {
        Report foreign = report;
        foreign[0] = faults_.foreignReportId;
        add(std::move(foreign));
    }
    if (faults_.unknownCode != 0) {
        Report unknown(kReportLength, 0);
        unknown[0] = kReportId;
        unknown[1] = faults_.unknownCode;
        add(std::move(unknown));
    }
    add(std::move(report));
}

void DeviceModel::dspAck(Output& out)
{
    ++dspAcks_;
    if (dspAcks_ != faults_.dropDspAck)
        reply(out, ack(kAckCode, kDspAck));
}

void DeviceModel::armAck(Output& out)
{
    ++armAcks_;
    if (armAcks_ != faults_.dropArmAck)
        reply(out, faults_.armAckSecondForm ? ack(0x0F, kArmAck) : ack(kAckCode, kArmAck));
}

void DeviceModel::resolveTentativeEnd(FrameKind next)
{
    if (!tentativeEnd_)
        return;
    tentativeEnd_ = false;
    if (next == FrameKind::DspData)
        return; // it was a block after all
    // It was the end frame: its bytes are no image data.
    dsp_.resize(dsp_.size() - 8);
    --dspFrames_;
    for (auto it = kinds_.rbegin(); it != kinds_.rend(); ++it) {
        if (*it == FrameKind::DspData) {
            *it = FrameKind::DspEnd;
            break;
        }
    }
    dspEnded_ = true;
}

DeviceModel::Output DeviceModel::feature(const std::uint8_t* data, std::size_t length)
{
    Output out;
    ++writes_;
    if (faults_.refuseAllWrites || writes_ == faults_.refuseWrite) {
        out.accepted = false;
        return out;
    }

    std::vector<std::uint8_t> frame(kFrameLength, 0);
    std::copy(data, data + std::min(length, kFrameLength), frame.begin());
    FrameKind kind = classify(frame.data(), frame.size());
    resolveTentativeEnd(kind);

    bool endBytes =
        kind == FrameKind::DspData && frame[2] == 0x21 && frame[3] == 0x03 && restZero(frame.data(), 4);
    if (endBytes && expectedDsp_ != 0 && dsp_.size() >= expectedDsp_)
        kind = FrameKind::DspEnd;

    frames_.push_back(frame);
    kinds_.push_back(kind);
    // What reaches the flash: the frame's data, inverted by a write that
    // fails unseen.
    const std::uint8_t flip = writes_ == faults_.corruptWrite ? 0xFF : 0x00;

    switch (kind) {
    case FrameKind::VersionQuery:
        reply(out, versionReply(firmware_));
        break;
    case FrameKind::Start:
        if (!faults_.dropStartAck)
            reply(out, ack(kAckCode, kStartAck));
        break;
    case FrameKind::DspHandshake:
        dspFrames_ = 0;
        dspAcks_ = 0;
        dspAck(out);
        break;
    case FrameKind::DspData: {
        for (std::size_t i = 2; i < 10; ++i)
            dsp_.push_back(frame[i] ^ flip);
        const bool windowFull = ++dspFrames_ % kWindow == 0;
        if (endBytes && expectedDsp_ == 0) {
            // Perhaps the end frame: answer it as such; the next frame
            // decides. One acknowledgement serves both readings when the
            // frame also fills a window.
            tentativeEnd_ = true;
            const bool windowAckDropped = windowFull && ++dspAcks_ == faults_.dropDspAck;
            if (!faults_.dropDspEndAck && !windowAckDropped)
                reply(out, ack(kAckCode, kDspAck));
        } else if (windowFull) {
            dspAck(out);
        }
        break;
    }
    case FrameKind::DspEnd:
        dspEnded_ = true;
        if (!faults_.dropDspEndAck)
            reply(out, ack(kAckCode, kDspAck));
        break;
    case FrameKind::ArmHandshake:
        armFrames_ = 0;
        armAcks_ = 0;
        armAck(out);
        break;
    case FrameKind::ArmData:
        for (std::size_t i = 2; i < 10; ++i)
            arm_.push_back(frame[i] ^ flip);
        ++armFrames_;
        if (armFrames_ % kWindow == 0)
            armAck(out);
        break;
    case FrameKind::ArmEnd:
        armEnded_ = true;
        if (!faults_.dropCompletion) {
            reply(out, ack(kAckCode, kCompletion));
            out.reboot = faults_.rebootMs > 0 || faults_.noReturn;
        }
        break;
    case FrameKind::Unknown:
        break;
    }

    if (faults_.unplugAfterFrames != 0 &&
        frames_.size() == static_cast<std::size_t>(faults_.unplugAfterFrames))
        out.unplug = true;
    return out;
}

std::size_t DeviceModel::count(FrameKind kind) const
{
    return static_cast<std::size_t>(std::count(kinds_.begin(), kinds_.end(), kind));
}

void DeviceModel::reboot()
{
    const std::vector<std::uint8_t> dsp = dsp_;
    const std::vector<std::uint8_t> arm = arm_;
    const bool dspEnded = dspEnded_;
    const bool armEnded = armEnded_;
    reset();
    dsp_ = dsp;
    arm_ = arm;
    dspEnded_ = dspEnded;
    armEnded_ = armEnded;
    if (nextFirmware_ != 0 && !faults_.rebootOldVersion)
        firmware_ = nextFirmware_;
}

void DeviceModel::reset()
{
    frames_.clear();
    kinds_.clear();
    dsp_.clear();
    arm_.clear();
    writes_ = 0;
    dspFrames_ = armFrames_ = 0;
    dspAcks_ = armAcks_ = 0;
    tentativeEnd_ = false;
    dspEnded_ = armEnded_ = false;
    burstSeq_ = 0;
}
