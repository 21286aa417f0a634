#include "session/session.h"

#include "protocol/protocol.h"

namespace session {

Session::Session(WriteMode mode, LinkHandles* handles, HidPlatform* platform, QObject* parent)
    : QObject(parent)
    , link_(mode, handles, platform)
{}

Session::~Session() = default;

int Session::write(const std::uint8_t* frame)
{
    if (link_.mode() == WriteMode::WriterThread)
        return link_.enqueue(frame, protocol::kFeatureReportSize) ? 1 : -1;
    if (!link_.found) {
        emit notice(notices::Id::DeviceNotFound, -1);
        return -1;
    }
    if (link_.handles().hWriteHandle == kInvalidHidHandle) {
        emit notice(notices::Id::WriteHandleInvalid, -1);
        return -1;
    }
    return link_.writeNow(frame, protocol::kFeatureReportSize);
}

void Session::carry(const upgrade::Actions& actions)
{
    if (sink_)
        engine.carry(actions, *sink_);
}

void Session::tick()
{
    if (done())
        return;
    // Like two timers, each ticks its own stage. A stage this tick starts
    // has its first tick at the next one, as a QTimer's would.
    const bool dsp = dspTicking;
    const bool arm = armTicking;
    if (dsp)
        carry(engine.tick(upgrade::Stage::Dsp));
    if (arm && armTicking && !done())
        carry(engine.tick(upgrade::Stage::Arm));
}

bool Session::end(int status, bool abandonWrite)
{
    if (done())
        return false;
    status_ = status;
    dspTicking = armTicking = false;
    link_.close(abandonWrite);
    return true;
}

} // namespace session
