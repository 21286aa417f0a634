#include "upgrade/engine.h"

#include "image/firmwareimage.h"

namespace upgrade {

namespace {

// What tells the two stages apart; everything else is one code path.
struct StageRule {
    Timer timer;
    int failure; // the numbered error of a stage the device stopped answering
    // DSP: the time-out runs whether a window is open or not, and a DSP
    // time-out leaves the timer ticking idle (a later start acknowledgement
    // resumes the stage). ARM: the time-out runs only while no window is
    // open, and stops the timer.
    bool timesOutInWindow;
    bool stopsOnFailure;
    frames::Frame (*data)(protocol::ByteView, std::int64_t, int);
    frames::Frame (*end)();
};

const StageRule& ruleOf(Stage stage)
{
    static const StageRule dsp{Timer::Dsp, 2, true, false, frames::dspData, frames::dspEnd};
    static const StageRule arm{Timer::Arm, 5, false, true, frames::armData, frames::armEnd};
    return stage == Stage::Dsp ? dsp : arm;
}

Action act(Action::Type type, int value = 0)
{
    Action a{type};
    a.value = value;
    return a;
}
Action timer(Action::Type type, Timer t)
{
    Action a{type};
    a.timer = t;
    return a;
}
Action send(const frames::Frame& frame)
{
    Action a{Action::Type::Send};
    a.frame = frame;
    return a;
}

} // namespace

Actions Engine::start()
{
    Actions out;
    out.list = {send(frames::start()), timer(Action::Type::StartTimer, Timer::Delay),
                act(Action::Type::DisableButtons)};
    return out;
}

Actions Engine::startTick()
{
    Actions out;
    ++state.startWaitTicks;
    if (state.startWaitTicks < frames::kStartTimeoutTicks)
        return out;
    state.startWaitTicks = 0;
    out.list = {timer(Action::Type::StopTimer, Timer::Delay), act(Action::Type::NumberedError, 1)};
    return out;
}

Actions Engine::tick(Stage stage)
{
    Actions out;
    if (!state.upgradeRunning) {
        out.result = -1;
        return out;
    }
    StageState& st = state.stage(stage);
    const StageRule& rule = ruleOf(stage);
    const std::int64_t size = std::int64_t(image.data.size());
    const int bs = image.blockSize;
    // DSP image at 16 .. dspImageEnd, ARM image at dspImageEnd .. end of file.
    const std::int64_t base = stage == Stage::Dsp ? fwimage::kHeaderSize : image.dspImageEnd;
    const std::int64_t end = stage == Stage::Dsp ? image.dspImageEnd : size;
    const std::int64_t offset = base + std::int64_t(st.blockIndex) * bs;
    const bool imageOk = fwimage::checkImage(image.data) == fwimage::Check::Ok;
    const bool nothingLeft = imageOk && offset == end;
    // Blocks go out only from an image that passes the format checks, only
    // from inside the stage's image: a start acknowledgement the start
    // button did not ask for runs a stage with no image loaded or with a
    // refused file, and the counter is never set back, so it can already lie
    // past the end of an image loaded after an earlier run. Such a stage can
    // send nothing more: it waits for its time-out like a closed window.
    const bool wholeBlock = imageOk && !nothingLeft && offset + bs <= end;
    const bool stuck = !st.maySend || (!nothingLeft && !wholeBlock);

    ++st.waitTicks;
    if (st.waitTicks == frames::kAckTimeoutTicks && (rule.timesOutInWindow || stuck)) {
        out.result = -1;
        if (st.endSent && !state.finishReceived) {
            st.endSent = false;
            out.list = {timer(Action::Type::StopTimer, rule.timer), act(Action::Type::NumberedError, 4)};
            return out;
        }
        state.upgradeRunning = false;
        if (rule.stopsOnFailure)
            out.list.push_back(timer(Action::Type::StopTimer, rule.timer));
        else
            st.waitTicks = 0;
        out.list.push_back(act(Action::Type::NumberedError, rule.failure));
        return out;
    }
    if (!st.maySend)
        return out;
    if (nothingLeft) {
        // The stage has sent all of its image: it idles until the device
        // closes it.
        st.waitTicks = 0;
        return out;
    }
    if (!wholeBlock)
        return out;

    st.waitTicks = 0;
    const bool last = offset + bs == end;
    const bool fileDone = offset + bs == size;
    ++st.blockIndex;
    if (st.blockIndex % frames::kWindowFrames == 0)
        st.maySend = false;
    if (last) {
        st.endSent = true;
        st.maySend = false;
    }
    out.list = {send(rule.data(image.data, offset, bs)), act(Action::Type::Progress, int(offset))};
    if (last) {
        out.list.push_back(send(rule.end()));
        if (stage == Stage::Arm)
            out.list.push_back(act(Action::Type::DisableButtons));
    }
    if (fileDone)
        out.list.push_back(act(Action::Type::Completion));
    return out;
}

Actions Engine::reply(protocol::ByteView report)
{
    Actions out;
    switch (frames::decodeReply(report)) {
    case frames::Reply::DspAck:
        if (state.dsp.endSent) {
            // The acknowledgement of the DSP end frame closes the DSP stage.
            state.dsp.endSent = false;
            out.list = {timer(Action::Type::StopTimer, Timer::Dsp), send(frames::armHandshake()),
                        timer(Action::Type::StartTimer, Timer::Arm)};
        }
        state.dsp.maySend = true;
        break;
    case frames::Reply::ArmAck:
        state.arm.maySend = true;
        break;
    case frames::Reply::StartAck:
        state.upgradeRunning = true;
        state.startWaitTicks = 0;
        out.list.push_back(timer(Action::Type::StopTimer, Timer::Delay));
        // The handshake goes out once per run. Sending it may open a modal
        // box whose event loop delivers a second start acknowledgement
        // before the send returns: the guard stays closed until the
        // handshake has been carried out.
        if (state.handshakeGuard && !state.dspHandshakeSent) {
            state.dspHandshakeSent = true;
            state.handshakeGuard = false;
            out.list.push_back(send(frames::dspHandshake()));
            out.list.push_back(act(Action::Type::HandshakeDone));
        }
        out.list.push_back(timer(Action::Type::StartTimer, Timer::Dsp));
        break;
    case frames::Reply::Completion:
        state.finishReceived = true;
        break;
    case frames::Reply::Version:
        state.versionReply = report.copy();
        state.deviceVersion = frames::replyVersion(report);
        break;
    case frames::Reply::Ignored:
        break;
    }
    return out;
}

void Engine::carry(const Actions& actions, Sink& sink)
{
    for (const Action& a : actions.list) {
        switch (a.type) {
        case Action::Type::Send:
            sink.send(a.frame);
            break;
        case Action::Type::Progress:
            sink.progress(a.value);
            break;
        case Action::Type::NumberedError:
            sink.numberedError(a.value);
            break;
        case Action::Type::Completion:
            if (sink.completion())
                return;
            break;
        case Action::Type::StartTimer:
            sink.setTimer(a.timer, true);
            break;
        case Action::Type::StopTimer:
            sink.setTimer(a.timer, false);
            break;
        case Action::Type::DisableButtons:
            sink.disableButtons();
            break;
        case Action::Type::HandshakeDone:
            state.handshakeGuard = true;
            break;
        }
    }
}

} // namespace upgrade
