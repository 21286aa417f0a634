// The upgrade engine alone, no window: the stage time-outs, the replies, the
// start wait, and events delivered while an action is being carried out.
// Whole transfers, frame by frame: tst_hardening_faults.
#include "image/firmwareimage.h"
#include "qtbridge/bytes.h"
#include "upgrade/engine.h"

#include <QtTest>

using upgrade::Action;
using upgrade::Stage;
using upgrade::Timer;
using Type = Action::Type;

namespace {

QByteArray report(const char* hex)
{
    return QByteArray::fromHex(hex).leftJustified(20, '\0');
}

const auto error = [](int n) { return Action{Type::NumberedError, n}; };
const auto timer = [](Type type, Timer t) { return Action{type, 0, t}; };
const auto send = [](const frames::Frame& f) { return Action{Type::Send, 0, Timer::Delay, f}; };

// Records what the engine asks for; `onSend` runs inside a send, as a box's
// event loop would run it.
struct Recorder : upgrade::Sink {
    std::vector<frames::Frame> frames;
    std::vector<int> offsets;
    std::function<void()> onSend;
    void send(const frames::Frame& f) override
    {
        frames.push_back(f);
        if (onSend)
            onSend();
    }
    void setTimer(Timer, bool) override {}
    void progress(int offset) override { offsets.push_back(offset); }
};

} // namespace

class EngineTest : public QObject {
    Q_OBJECT
private slots:
    void stalls();
    void replies();
    void startWait();
    void eventsWhileCarrying();
};

void EngineTest::stalls()
{
    // What a stalled stage is left with (end frame sent, completion seen,
    // window open, image: 0 none loaded, 1 the whole image sent, 2 counter
    // past a shorter image), what its 2500th idle tick does, and whether the
    // upgrade still runs.
    const Action stopDsp = timer(Type::StopTimer, Timer::Dsp), stopArm = timer(Type::StopTimer, Timer::Arm);
    const struct {
        Stage stage;
        bool endSent, finish, window;
        int image;
        std::vector<Action> actions;
        bool runningAfter;
    } rows[] = {
        {Stage::Dsp, false, false, false, 1, {error(2)}, false},        // window never acknowledged
        {Stage::Dsp, true, false, false, 1, {stopDsp, error(4)}, true}, // end frame unanswered
        {Stage::Dsp, true, true, false, 1, {error(2)}, false},          // end, completion seen
        {Stage::Arm, false, false, false, 1, {stopArm, error(5)}, false},
        {Stage::Arm, true, false, false, 1, {stopArm, error(4)}, true},
        {Stage::Arm, true, true, false, 1, {stopArm, error(5)}, false},
        // A window open with nothing left to send idles: the device closes the stage.
        {Stage::Arm, false, false, true, 1, {}, true},
        // A window open with no whole block inside the image must not idle for ever.
        {Stage::Dsp, false, false, true, 0, {error(2)}, false},
        {Stage::Dsp, false, false, true, 2, {error(2)}, false},
        {Stage::Arm, false, false, true, 2, {stopArm, error(5)}, false},
    };
    const protocol::Bytes file = fwimage::pack(fwimage::sampleBytes(40, 1), fwimage::sampleBytes(40, 2), 1);
    for (const auto& c : rows) {
        const QByteArray name = QByteArray::number(int(&c - rows));
        upgrade::Engine e;
        upgrade::StageState& st = e.state.stage(c.stage);
        if (c.image > 0) {
            e.image.data = file;
            e.image.dspImageEnd = 56;
            st.blockIndex = c.image == 1 ? 5 : 6;
        }
        e.state.upgradeRunning = true;
        e.state.finishReceived = c.finish;
        st.endSent = c.endSent;
        st.maySend = c.window;
        for (int i = 1; i < frames::kAckTimeoutTicks; ++i)
            QVERIFY2(e.tick(c.stage).list.empty(), name);
        const upgrade::Actions last = e.tick(c.stage);
        QVERIFY2(last.list == c.actions && last.result == (c.actions.empty() ? 0 : -1), name);
        QVERIFY2(e.state.upgradeRunning == c.runningAfter, name);
        QVERIFY2(st.endSent == (c.endSent && !(last.list.size() == 2 && last.list[1].value == 4)), name);
        QVERIFY2(st.blockIndex == (c.image == 2 ? 6 : c.image == 1 ? 5 : 0), name);
        QVERIFY2(c.runningAfter || e.tick(c.stage).result == -1, name);
    }
}

void EngineTest::replies()
{
    upgrade::Engine e;
    const Action stopDelay = timer(Type::StopTimer, Timer::Delay),
                 startDsp = timer(Type::StartTimer, Timer::Dsp);
    QVERIFY(e.reply(report("800a00000000ac0d")).list.empty());
    QVERIFY(e.state.deviceVersion == 3500 && e.state.versionReply == toBytes(report("800a00000000ac0d")));
    for (const char* ignored : {"800c57", "800f56", "800d56", "80"})
        QVERIFY(e.reply(report(ignored)).list.empty());
    QVERIFY(e.reply(QByteArray::fromHex("800a000000ffff")).list.empty()); // 7 bytes: too short for a number
    QCOMPARE(int(e.state.deviceVersion), 3500);
    QVERIFY(!e.state.dsp.maySend && !e.state.arm.maySend && !e.state.upgradeRunning);

    e.state.startWaitTicks = 7;
    const upgrade::Actions first = e.reply(report("800c55"));
    QVERIFY(first.list == (std::vector<Action>{stopDelay, send(frames::dspHandshake()),
                                               Action{Type::HandshakeDone}, startDsp}));
    QVERIFY(e.state.upgradeRunning && e.state.dspHandshakeSent && !e.state.handshakeGuard);
    QCOMPARE(int(e.state.startWaitTicks), 0);
    Recorder r;
    e.carry(first, r);
    QVERIFY(e.state.handshakeGuard);
    QVERIFY(e.reply(report("800c55")).list == (std::vector<Action>{stopDelay, startDsp})); // once per run

    e.state.dsp.endSent = true;
    QVERIFY(e.reply(report("800c56")).list ==
            (std::vector<Action>{timer(Type::StopTimer, Timer::Dsp), send(frames::armHandshake()),
                                 timer(Type::StartTimer, Timer::Arm)}));
    QVERIFY(!e.state.dsp.endSent && e.state.dsp.maySend);
}

void EngineTest::startWait()
{
    upgrade::Engine e;
    QVERIFY(e.start().list ==
            (std::vector<Action>{send(frames::start()), timer(Type::StartTimer, Timer::Delay),
                                 Action{Type::DisableButtons}}));
    for (int i = 1; i < frames::kStartTimeoutTicks; ++i)
        QVERIFY(e.startTick().list.empty());
    QVERIFY(e.startTick().list == (std::vector<Action>{timer(Type::StopTimer, Timer::Delay), error(1)}));
    QCOMPARE(int(e.state.startWaitTicks), 0);
}

void EngineTest::eventsWhileCarrying()
{
    // A box opened by a send runs further replies and ticks before the send
    // returns: a second start acknowledgement sends no second handshake, and
    // a tick inside a block's send sends the next block, never the same one.
    upgrade::Engine e;
    e.image.data = fwimage::pack(fwimage::sampleBytes(16, 5), fwimage::sampleBytes(8, 6), 1);
    e.image.dspImageEnd = 32;
    Recorder r;
    int nested = 0;
    r.onSend = [&] {
        if (nested++ == 0)
            e.carry(e.reply(report("800c55")), r);
    };
    e.carry(e.reply(report("800c55")), r);
    QVERIFY(r.frames == (std::vector<frames::Frame>{frames::dspHandshake()}));
    QVERIFY(e.state.handshakeGuard);

    e.reply(report("800c56"));
    nested = 0;
    r.onSend = [&] {
        if (nested++ == 0)
            e.carry(e.tick(Stage::Dsp), r);
    };
    e.carry(e.tick(Stage::Dsp), r);
    QVERIFY(r.frames == (std::vector<frames::Frame>{frames::dspHandshake(), frames::dspData(e.image.data, 16),
                                                    frames::dspData(e.image.data, 24), frames::dspEnd()}));
    QCOMPARE(QList<int>(r.offsets.begin(), r.offsets.end()), (QList<int>{24, 16}));
}

QTEST_MAIN(EngineTest)
#include "tst_engine.moc"
