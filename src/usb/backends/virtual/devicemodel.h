// The virtual device: the boot firmware's side of the update protocol, apart
// from any transport. Plain C++ without Qt, so the in-process virtual bus, the
// simulator and a Linux uhid program can all drive the same model.
//
// Usage:
//   DeviceModel dev;                       // firmware number 5000
//   dev.setFirmwareNumber(3500);
//   dev.faults().dropDspAck = 2;           // never send the 2nd DSP ack
//   DeviceModel::Output out = dev.feature(frame, 11);
//   if (!out.accepted) ...                 // the write was refused
//   for (auto& r : out.reports) ...        // input reports, id 0x80 first
//   if (out.unplug) ...                    // the device leaves the bus now
//   dev.dspImage(), dev.armImage()         // the image bytes received
//   dev.frames()                           // every frame written, in order
//
// Replies are 20 bytes (report id and 19 data bytes) unless
// faults().inputReportLength makes them shorter. The model does not wait:
// faults().replyDelayMs is for the transport to honour.
//
// The DSP end frame 0x80 0x0D 0x21 0x03 followed by seven zero bytes has the
// same bytes as a DSP data frame whose eight image bytes are 21 03 00 00 00
// 00 00 00. The model tells them apart like this:
//  - when the DSP image length is known (setExpectedDspLength), such a frame
//    is the end frame once all expected blocks have arrived, data before;
//  - otherwise it is taken as a data block and also answered like an end
//    frame. If the next frame is another DSP data frame, it stays a block
//    (the extra acknowledgement only opens a window the host already has
//    open, or opens one early, which never loses a block). If anything else
//    follows, it was the end frame and its eight bytes leave the DSP image.
// The updater sends the end frame in the same tick as the last block, so the
// frame after a real end frame is never a DSP data frame.
#pragma once

#include "protocol/protocol.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class DeviceModel {
public:
    using Report = std::vector<std::uint8_t>;

    static constexpr std::uint8_t kReportId = protocol::kReportId;
    static constexpr std::size_t kFrameLength = protocol::kFeatureReportSize; // incl. id
    static constexpr std::size_t kReportLength = protocol::kInputReportSize;  // incl. id
    static constexpr int kWindow = 25;                                        // data frames per ack
    // A restarting device leaves this long after its completion reply is
    // due, so the host has read it.
    static constexpr int kRebootLeaveMs = 200;
    // What the programs that present a virtual device (firmware-updater-sim,
    // firmware-updater --virtual-device) give it unless told otherwise: the
    // firmware number it reports (a wheel base of the KRV3200 family, older
    // than the README's example image KRV3200-3215.bin), and its restart
    // into what it received this long after the completion.
    static constexpr std::uint16_t kPresentedFirmwareNumber = 3201;
    static constexpr int kPresentedRebootMs = 800;

    enum class FrameKind {
        VersionQuery,
        Start,
        DspHandshake,
        DspData,
        DspEnd,
        ArmHandshake,
        ArmData,
        ArmEnd,
        Unknown,
    };

    // Fault controls. Counters are 1-based; 0 switches a fault off.
    struct Faults {
        int replyDelayMs = 0;      // the transport delivers replies this late
        bool dropStartAck = false; // the start frame is never answered
        // The Nth acknowledgement that opens a window of the stage never
        // comes; the handshake's acknowledgement is number 1, the one after
        // the first 25 data frames number 2, and so on.
        int dropDspAck = 0;
        int dropArmAck = 0;
        bool dropDspEndAck = false;   // the DSP end frame is never answered
        bool dropCompletion = false;  // the ARM end frame is never answered
        int refuseWrite = 0;          // the Nth feature write is refused
        bool refuseAllWrites = false; // every feature write is refused
        // The Nth feature write is taken and acknowledged, but a data
        // frame's eight bytes reach the image inverted: a flash write that
        // fails unseen, found only by reading the device back.
        int corruptWrite = 0;
        int unplugAfterFrames = 0; // leaves the bus after the Nth frame
        // Before each reply, a report with this id (0 = none) and the same
        // data: a report the updater must never see.
        std::uint8_t foreignReportId = 0;
        // Before each reply, a report 0x80 with this unknown code (0 = none).
        std::uint8_t unknownCode = 0;
        // Before each reply, this many reports 0x80 0x7E <sequence> queued
        // at the same moment: a back-to-back burst.
        int burstBefore = 0;
        // Length of every input report produced, id included (1..20).
        std::size_t inputReportLength = kReportLength;
        // ARM acknowledgements in the 0x0F 0x54 form instead of 0x0C 0x54.
        bool armAckSecondForm = false;
        // After the answered completion the device restarts into what it
        // received: it leaves the bus and comes back rebootMs later (0: it
        // stays on the bus, running on as before). The transport honours it.
        int rebootMs = 0;
        bool noReturn = false;         // it leaves after the completion and never comes back
        bool rebootOldVersion = false; // back from the restart with the number it had
    };

    struct Output {
        bool accepted = true;        // the feature write succeeded
        std::vector<Report> reports; // input reports, in order
        bool unplug = false;         // the device leaves the bus after this frame
        // The device restarts once this frame's replies are out (rebootMs,
        // noReturn): the transport lets it leave, then, unless noReturn, calls
        // reboot() and brings it back rebootMs later, without reset().
        bool reboot = false;
    };

    DeviceModel();

    // One feature report as written by the host, report id first.
    Output feature(const std::uint8_t* data, std::size_t length);

    static FrameKind classify(const std::uint8_t* data, std::size_t length);

    void setFirmwareNumber(std::uint16_t number) { firmware_ = number; }
    std::uint16_t firmwareNumber() const { return firmware_; }
    // Length of the DSP image in bytes, when the device is told it (0: unknown).
    void setExpectedDspLength(std::size_t bytes) { expectedDsp_ = bytes; }
    // The number the firmware being written reports once it runs (the image
    // header's version; 0: unknown, the device keeps its number).
    void setNextFirmwareNumber(std::uint16_t number) { nextFirmware_ = number; }
    // The restart after a completion: a fresh protocol state, the images it
    // received kept (they are in its flash), running the next firmware
    // number unless faults().rebootOldVersion.
    void reboot();

    Faults& faults() { return faults_; }
    const Faults& faults() const { return faults_; }

    // What the device has seen. A frame shorter than 11 bytes is logged
    // padded with zeros to 11.
    const std::vector<std::vector<std::uint8_t>>& frames() const { return frames_; }
    std::size_t count(FrameKind kind) const;
    const std::vector<std::uint8_t>& dspImage() const { return dsp_; }
    const std::vector<std::uint8_t>& armImage() const { return arm_; }
    bool dspEnded() const { return dspEnded_; }
    bool armEnded() const { return armEnded_; }
    int writes() const { return writes_; }

    // Back to a freshly plugged device; faults and firmware number stay.
    void reset();

    // A version reply / an ack report, as the device sends them (20 bytes).
    static Report versionReply(std::uint16_t firmware);
    static Report ack(std::uint8_t code, std::uint8_t subCode);

private:
    void reply(Output& out, Report report);
    void resolveTentativeEnd(FrameKind next);
    void dspAck(Output& out);
    void armAck(Output& out);

    Faults faults_;
    std::uint16_t firmware_ = 5000;
    std::size_t expectedDsp_ = 0;
    std::uint16_t nextFirmware_ = 0;
    std::vector<std::vector<std::uint8_t>> frames_;
    std::vector<FrameKind> kinds_;
    std::vector<std::uint8_t> dsp_;
    std::vector<std::uint8_t> arm_;
    int writes_ = 0;
    int dspFrames_ = 0; // data frames of the current stage, for the windows
    int armFrames_ = 0;
    int dspAcks_ = 0; // window-opening acks of the stage so far
    int armAcks_ = 0;
    bool tentativeEnd_ = false; // last frame was an ambiguous end/data frame
    bool dspEnded_ = false;
    bool armEnded_ = false;
    std::uint8_t burstSeq_ = 0;
};
