#include "dispatcher_driver.h"

#include "fuzzcheck.h"
#include "image/firmwareimage.h"
#include "support/ticker.h"
#include "upgrade/engine.h"
#include "upgrade/frames.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace dispatcherfuzz {

namespace {

using Frame = std::vector<std::uint8_t>;
using upgrade::Timer;

// DISPATCHER_TRACE=1 prints every operation and frame, for reading a finding.
bool tracing()
{
    static const bool on = qEnvironmentVariableIsSet("DISPATCHER_TRACE");
    return on;
}

// The bytes of the input, read front to back; zeros once they run out.
struct Input {
    const std::uint8_t* p;
    std::size_t n;
    bool empty() const { return n == 0; }
    std::uint8_t byte()
    {
        if (n == 0)
            return 0;
        --n;
        return *p++;
    }
};

bool sameFrame(const Frame& f, const frames::Frame& expected)
{
    return f.size() == expected.size() && std::memcmp(f.data(), expected.data(), f.size()) == 0;
}

// What the frames seen so far allow next, kept from the frames the device
// recorded and the reports the engine was given.
struct Monitor {
    protocol::Bytes image; // the engine's image as last loaded
    int dspImageEnd = 0;
    bool imageValid = false; // it passes the format checks
    int dspBlocks = 0;       // blocks of each image, when it is valid
    int armBlocks = 0;

    void setImage(const protocol::Bytes& bytes, int end)
    {
        image = bytes;
        dspImageEnd = end;
        imageValid = fwimage::checkImage(bytes) == fwimage::Check::Ok;
        dspBlocks = imageValid ? (end - 16) / 8 : -1;
        armBlocks = imageValid ? (int(bytes.size()) - end) / 8 : -1;
    }

    std::size_t seen = 0; // frames checked so far
    int startClicks = 0;  // clicks on the start button while it was enabled
    int startFrames = 0;
    int startAcks = 0;
    bool dspHandshake = false;
    bool dspWindow = false; // a DSP acknowledgement opened a window
    int dspSent = 0;        // DSP data frames so far
    bool dspEnd = false;
    bool dspAckAfterEnd = false;
    bool armHandshake = false;
    bool armWindow = false;
    int armSent = 0;
    bool armEnd = false;
    bool forcedArmTick = false; // an ARM tick no running timer could have given
    int completions = 0;
    bool exited = false;

    void onReport(const QByteArray& r, std::uint8_t reportId)
    {
        // Taken as the device meant it whatever byte 0 of the copy says: a
        // window the engine does not open only makes the checks looser.
        if (reportId != 0x80 || r.size() < 3)
            return;
        const std::uint8_t code = std::uint8_t(r[1]);
        const std::uint8_t sub = std::uint8_t(r[2]);
        if (code == 0x0C && sub == 0x55)
            ++startAcks;
        if (code == 0x0C && sub == 0x56) {
            dspWindow = true;
            if (dspEnd)
                dspAckAfterEnd = true;
        }
        if ((code == 0x0C || code == 0x0F) && sub == 0x54)
            armWindow = true;
    }

    Frame expectedData(std::uint8_t command, int offset) const
    {
        const frames::Frame f =
            command == 0x0D ? frames::dspData(image, offset) : frames::armData(image, offset);
        return Frame(f.begin(), f.end());
    }

    void check(const Frame& f, const Frame* previous)
    {
        FUZZ_CHECK(f.size() == 11 && f[0] == 0x80);
        // End frames follow the last block of their stage in the same tick.
        const bool lastWasFinalDspBlock = previous && (*previous)[1] == 0x0D && dspSent == dspBlocks;
        const bool lastWasFinalArmBlock = previous && (*previous)[1] == 0x0E && armSent == armBlocks;
        if (sameFrame(f, frames::versionQuery())) {
            return;
        }
        if (sameFrame(f, frames::start())) {
            FUZZ_CHECK(++startFrames <= startClicks);
            return;
        }
        if (sameFrame(f, frames::dspHandshake())) {
            FUZZ_CHECK(startAcks > 0 && !dspHandshake);
            dspHandshake = true;
            return;
        }
        if (sameFrame(f, frames::dspEnd()) && lastWasFinalDspBlock) {
            dspEnd = true;
            dspAckAfterEnd = false;
            dspWindow = false;
            return;
        }
        if (sameFrame(f, frames::armHandshake())) {
            // Once for each DSP end frame the device acknowledged.
            FUZZ_CHECK(dspEnd && dspAckAfterEnd);
            dspEnd = false;
            armHandshake = true;
            return;
        }
        if (sameFrame(f, frames::armEnd())) {
            FUZZ_CHECK(lastWasFinalArmBlock);
            armEnd = true;
            armWindow = false;
            return;
        }
        if (f[1] == 0x0D) {
            // From an image that passes the checks, inside a window the
            // device opened, the next block of the DSP image, never one past
            // its end. The block counter is never set back: an image picked
            // later goes on from the block where the last one stopped.
            const int at = 16 + 8 * dspSent;
            FUZZ_CHECK(imageValid && dspHandshake && dspWindow);
            FUZZ_CHECK(at + 8 <= std::min(dspImageEnd, int(image.size())));
            FUZZ_CHECK(f == expectedData(0x0D, at));
            if (++dspSent % 25 == 0)
                dspWindow = false;
            return;
        }
        if (f[1] == 0x0E) {
            const int at = dspImageEnd + 8 * armSent;
            FUZZ_CHECK(imageValid && armWindow);
            FUZZ_CHECK(forcedArmTick || armHandshake);
            FUZZ_CHECK(at >= 16 && at + 8 <= int(image.size()));
            FUZZ_CHECK(f == expectedData(0x0E, at));
            if (++armSent % 25 == 0)
                armWindow = false;
            return;
        }
        FUZZ_CHECK(!"a frame of no known kind");
    }
};

// The engine with the timers, the device link and the window's two buttons
// played here. Numbered errors, the completion box and the notices of a
// failed write are boxes: the next operation runs inside them, as a box's
// event loop would run it.
struct Session : upgrade::Sink {
    upgrade::Engine engine;
    std::vector<Frame> sent; // what reached the device
    bool timers[3] = {};
    Monitor monitor;
    Input in{nullptr, 0};
    bool prefixDone = false;
    bool acceptCompletion = false;
    bool startEnabled = false; // the start button
    bool fileEnabled = true;   // the file button
    int depth = 0;
    int sends = 0;
    int failFromSend = -1; // from this send on, writes fail and show a box

    bool running(Timer t) const { return timers[int(t)]; }
    bool cleanWrites() const { return failFromSend < 0 || sends < failFromSend; }

    void send(const frames::Frame& f) override
    {
        ++sends;
        if (!cleanWrites()) {
            box();
            return;
        }
        sent.emplace_back(f.begin(), f.end());
        sync();
    }
    void setTimer(Timer t, bool on) override { timers[int(t)] = on; }
    void numberedError(int) override { box(); }
    void disableButtons() override { startEnabled = fileEnabled = false; }
    bool completion() override
    {
        sync();
        ++monitor.completions;
        FUZZ_CHECK(monitor.completions == 1);
        // Shown with the last ARM block, all of the image gone out.
        if (cleanWrites() && monitor.imageValid)
            FUZZ_CHECK(monitor.armEnd && monitor.armSent == monitor.armBlocks);
        if (prefixDone && acceptCompletion) {
            monitor.exited = true;
            return true;
        }
        box();
        return false;
    }

    void box()
    {
        sync();
        if (prefixDone && depth == 0 && !in.empty() && !monitor.exited) {
            ++depth;
            operation();
            --depth;
        }
    }

    void carry(const upgrade::Actions& actions)
    {
        engine.carry(actions, *this);
        sync();
    }

    void sync()
    {
        monitor.setImage(engine.image.data, engine.image.dspImageEnd);
        for (; monitor.seen < sent.size(); ++monitor.seen) {
            const Frame* previous = monitor.seen > 0 ? &sent[monitor.seen - 1] : nullptr;
            if (tracing()) {
                std::fprintf(stderr, "%*s  frame", depth * 2, "");
                for (std::uint8_t b : sent[monitor.seen])
                    std::fprintf(stderr, " %02x", b);
                std::fprintf(stderr, "\n");
            }
            monitor.check(sent[monitor.seen], previous);
        }
    }

    // A report as the reader delivers it: only report id 0x80 reaches the engine.
    void deliver(const QByteArray& r, std::uint8_t reportId)
    {
        if (tracing())
            std::fprintf(stderr, "%*s  report id %02x: %s\n", depth * 2, "", reportId,
                         r.toHex(' ').constData());
        monitor.onReport(r, reportId);
        if (reportId == frames::kReportId)
            carry(engine.reply(r));
    }

    void reply(std::uint8_t code, std::uint8_t sub)
    {
        QByteArray r(20, '\0');
        r[0] = char(0x80), r[1] = char(code), r[2] = char(sub);
        deliver(r, 0x80);
    }

    void tick(Timer t, bool forced)
    {
        if (!forced && !running(t))
            return;
        if (t == Timer::Arm && !running(t))
            monitor.forcedArmTick = true;
        if (t == Timer::Delay)
            carry(engine.startTick());
        else
            carry(engine.tick(t == Timer::Dsp ? upgrade::Stage::Dsp : upgrade::Stage::Arm));
    }

    void clickStart()
    {
        if (!startEnabled)
            return;
        ++monitor.startClicks;
        startEnabled = false;
        carry(engine.start());
    }

    // The file button, with a file of any content, a well-formed image of
    // other lengths, or the dialog cancelled; a disabled button does
    // nothing. As the window does it: a file
    // too short for a header is not loaded; the start button is enabled
    // only for a file that passes the checks.
    void pickFile()
    {
        const std::uint8_t kind = in.byte();
        protocol::Bytes bytes;
        if (kind % 3 == 0) {
            bytes.resize(in.byte());
            for (std::uint8_t& c : bytes)
                c = in.byte();
        } else if (kind % 3 == 1) {
            const int dsp = 1 + in.byte() % 8;
            const int arm = 1 + in.byte() % 8;
            bytes = fwimage::pack(fwimage::sampleBytes(dsp * 8, 7u + kind), fwimage::sampleBytes(arm * 8, 9u),
                                  5000);
        }
        if (!fileEnabled)
            return;
        startEnabled = false;
        fwimage::Header header;
        if (kind % 3 != 2 && fwimage::parseHeader(bytes, &header)) {
            engine.image.data = bytes;
            engine.image.dspImageEnd = std::int32_t(header.dspLength + fwimage::kHeaderSize);
            startEnabled = fwimage::checkImage(bytes) == fwimage::Check::Ok;
        }
        sync();
    }

    // A real run of the upgrade up to the chosen state, ticked as the tests
    // tick the window, the device acknowledging whenever a stage runs dry.
    void prefix(int stage)
    {
        Ticker ticker;
        ticker.running = [this](Timer t) { return running(t); };
        ticker.fire = [this](Timer t) { tick(t, false); };
        ticker.progress = [this] { return long(engine.state.dsp.blockIndex) + engine.state.arm.blockIndex; };
        ticker.idle = [this](int) {
            if (running(Timer::Dsp))
                reply(0x0C, 0x56);
            else if (running(Timer::Arm))
                reply(0x0C, 0x54);
        };
        if (stage >= 1) {
            FUZZ_CHECK(startEnabled);
            clickStart();
            FUZZ_CHECK(running(Timer::Delay));
        }
        if (stage >= 2) {
            reply(0x0C, 0x55);
            FUZZ_CHECK(running(Timer::Dsp));
        }
        if (stage >= 3) {
            ticker.run([this] { return running(Timer::Arm); });
            FUZZ_CHECK(running(Timer::Arm) && monitor.armHandshake);
        }
        if (stage >= 4) {
            ticker.run([this] { return monitor.completions > 0; });
            FUZZ_CHECK(monitor.completions == 1 && monitor.armEnd);
        }
        prefixDone = true;
    }

    void operation()
    {
        const std::uint8_t op = in.byte();
        if (tracing())
            std::fprintf(stderr, "%*sop %d (byte %02x)  image %d bytes, DSP end %d, blocks %d/%d, %s%s\n",
                         depth * 2, "", op % 14, op, int(engine.image.data.size()), engine.image.dspImageEnd,
                         engine.state.dsp.blockIndex, engine.state.arm.blockIndex,
                         engine.state.dsp.endSent ? "end sent " : "",
                         engine.state.dsp.maySend ? "window open" : "");
        switch (op % 14) {
        case 0: { // a reply the device sends
            static const std::uint8_t known[][2] = {{0x0C, 0x55}, {0x0C, 0x56}, {0x0C, 0x54}, {0x0F, 0x54},
                                                    {0x0C, 0x59}, {0x0F, 0x56}, {0x0C, 0x00}, {0x0D, 0x56}};
            const std::uint8_t which = in.byte();
            if (which % 9 == 8) {
                QByteArray r(20, '\0');
                r[0] = char(0x80), r[1] = char(0x0A), r[6] = char(in.byte()), r[7] = char(in.byte());
                deliver(r, 0x80);
            } else {
                reply(known[which % 9][0], known[which % 9][1]);
            }
            break;
        }
        case 1: { // twenty bytes as read, report id first
            QByteArray r(20, '\0');
            for (int i = 0; i < 20; ++i)
                r[i] = char(in.byte());
            deliver(r, std::uint8_t(r[0]));
            break;
        }
        case 2: { // a report of odd shape: any length, any id
            const int length = in.byte() % 25;
            QByteArray r(length, '\0');
            for (int i = 0; i < length; ++i)
                r[i] = char(in.byte());
            deliver(r, in.byte());
            break;
        }
        case 4:
        case 5:
        case 6:
        case 7: {
            const Timer t = op % 14 < 6 ? Timer::Dsp : Timer::Arm;
            const int ticks = 1 + in.byte();
            for (int i = 0; i < ticks && !monitor.exited; ++i)
                tick(t, false);
            break;
        }
        case 8: { // silence long enough for a time-out of every timer
            const int which = in.byte() % 3;
            for (int i = 0; i < frames::kAckTimeoutTicks + 1 && !monitor.exited; ++i) {
                if (which == 0)
                    tick(Timer::Dsp, false);
                else if (which == 1)
                    tick(Timer::Arm, false);
                else if (i < frames::kStartTimeoutTicks + 1)
                    tick(Timer::Delay, false);
            }
            break;
        }
        case 9:
            tick(Timer::Delay, false);
            break;
        case 10: // a tick of a timer that is not running
            tick(Timer(in.byte() % 3), true);
            break;
        case 11:
            clickStart();
            break;
        case 13:
            pickFile();
            break;
        default: // 3, 12: events of the window's own (other event types, device notices)
            break;
        }
    }
};

} // namespace

void setUp(const char* program)
{
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(program), nullptr};
    new QCoreApplication(argc, argv);
}

void run(const std::uint8_t* data, std::size_t size)
{
    Input in{data, size};
    const std::uint8_t mode = in.byte();
    const int dspBlocks = 1 + in.byte() % 64;
    const int armBlocks = 1 + in.byte() % 64;
    const std::uint8_t faultKind = in.byte();
    const std::uint8_t faultCount = in.byte();

    Session s;
    s.engine.image.data = fwimage::pack(fwimage::sampleBytes(dspBlocks * 8, 0x5150u + dspBlocks),
                                        fwimage::sampleBytes(armBlocks * 8, 0xA0A0u + armBlocks), 5000);
    s.engine.image.dspImageEnd = 16 + dspBlocks * 8;
    s.startEnabled = true;
    s.acceptCompletion = mode & 0x10;
    s.prefix((mode & 0x07) % 5);
    // From then on writes may fail: each shows a box and reaches no device.
    if (faultKind % 4 == 1 || faultKind % 4 == 2)
        s.failFromSend = s.sends + 1 + faultCount % 64;
    s.in = in;
    while (!s.in.empty() && !s.monitor.exited)
        s.operation();
    s.sync();
}

} // namespace dispatcherfuzz
