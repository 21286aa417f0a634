// The upgrade as plain code: the start command and its time-out, the device's
// replies, and the block transfer of the two stages, as a state and a step
// per event that moves the state and returns what has to happen next. No
// widget, no timer and no device is touched here: the caller owns the
// timers, sends the frames and shows the notices (see Sink and carry()).
//
// Re-entrancy: every step moves the whole state first and only then hands
// its actions back. Carrying an action out may open a modal box whose event
// loop runs further ticks and replies into the same engine; they see the
// block already counted, the window or the stage already closed, the
// handshake already sent.
#pragma once

#include "upgrade/frames.h"

#include <cstdint>
#include <vector>

namespace upgrade {

// The two transfer stages, first DSP then ARM.
enum class Stage { Dsp = 0, Arm = 1 };
// The caller's three timers: the stages' 2 ms ticks and the 1 s start wait.
enum class Timer { Dsp, Arm, Delay };

struct StageState {
    bool maySend = false;        // the device has opened a window
    bool endSent = false;        // the end frame is out, its acknowledgement awaited
    std::int32_t blockIndex = 0; // next block; never set back
    std::uint16_t waitTicks = 0; // ticks without a frame sent
};

struct State {
    bool upgradeRunning = false;
    std::uint8_t startWaitTicks = 0;
    bool dspHandshakeSent = false;
    bool handshakeGuard = true; // false while the DSP handshake is being carried out
    bool finishReceived = false;
    std::uint16_t deviceVersion = 5000;
    protocol::Bytes versionReply; // the last version reply, as it came
    StageState dsp, arm;

    StageState& stage(Stage s) { return s == Stage::Dsp ? dsp : arm; }
};

// The image being written: the whole file, DSP image at 16 .. dspImageEnd-1,
// ARM image at dspImageEnd .. end. Blocks go out only from a file that
// passes fwimage::checkImage. The engine holds its own copy of the bytes.
struct Image {
    protocol::Bytes data;
    std::int32_t dspImageEnd = 0;
    std::uint16_t blockSize = 8;
};

struct Action {
    enum class Type {
        Send,           // frame
        Progress,       // value: file offset of the data frame just sent
        NumberedError,  // value: 1, 2, 4 or 5
        Completion,     // the completion box; accepted, the run is over
        StartTimer,     // timer (a running timer restarts)
        StopTimer,      // timer
        DisableButtons, // the file button, then the start button
        HandshakeDone,  // the DSP handshake has been carried out: reopen the guard
    };
    Type type;
    int value = 0;
    Timer timer = Timer::Delay;
    frames::Frame frame{};

    bool operator==(const Action& o) const
    {
        return type == o.type && value == o.value && timer == o.timer && frame == o.frame;
    }
};

struct Actions {
    int result = 0; // the tick slots' status: -1 did nothing or just failed, 0 otherwise
    std::vector<Action> list;
};

// Where the actions go. Frames and timers are required; the rest may be
// left out by a caller with no window.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void send(const frames::Frame& frame) = 0;
    virtual void setTimer(Timer timer, bool running) = 0;
    virtual void progress(int /*offset*/) {}
    virtual void numberedError(int /*number*/) {}
    // True when the run is over (the box was accepted): nothing after it is carried out.
    virtual bool completion() { return false; }
    virtual void disableButtons() {}
};

class Engine {
public:
    State state;
    Image image;

    // The start button, once the image has passed its checks: start frame,
    // start wait.
    Actions start();
    // A tick of the start wait (1 s): "Error 1" on the tenth.
    Actions startTick();
    // A tick of a stage's 2 ms timer: at most one data frame.
    Actions tick(Stage stage);
    // An input report of the device, report id first.
    Actions reply(protocol::ByteView report);

    // Carries `actions` out in order into `sink`.
    void carry(const Actions& actions, Sink& sink);
};

} // namespace upgrade
