#include "upgradedriver.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <array>
#include <cstdio>
#include <deque>

namespace upgradedriver {

namespace {

constexpr std::uint8_t kReportId = 0x80;
constexpr int kFrameSize = 11;
constexpr int kDataBytes = 8;
constexpr int kWindowFrames = 25;
constexpr int kTickMs = 2;
constexpr int kAckTimeoutTicks = 2500;
constexpr int kStartTickMs = 1000;
constexpr int kStartTimeoutTicks = 10;

using Frame = std::array<std::uint8_t, kFrameSize>;

Frame command(std::uint8_t code, std::uint8_t a, std::uint8_t b = 0)
{
    return Frame{kReportId, code, a, b};
}

Frame dataFrame(std::uint8_t code, const std::vector<std::uint8_t>& image, std::size_t block)
{
    Frame f{kReportId, code};
    for (std::size_t i = 0; i < kDataBytes && block * kDataBytes + i < image.size(); ++i)
        f[2 + i] = image[block * kDataBytes + i];
    return f;
}

enum class Reply { Ignored, Version, StartAck, DspAck, ArmAck, Completion };

Reply decode(const std::uint8_t* r, int n)
{
    if (n < 3 || r[0] != kReportId)
        return Reply::Ignored;
    if (r[1] == 0x0A)
        return Reply::Version;
    if (r[1] == 0x0F && r[2] == 0x54)
        return Reply::ArmAck;
    if (r[1] != 0x0C)
        return Reply::Ignored;
    switch (r[2]) {
    case 0x55:
        return Reply::StartAck;
    case 0x56:
        return Reply::DspAck;
    case 0x54:
        return Reply::ArmAck;
    case 0x59:
        return Reply::Completion;
    default:
        return Reply::Ignored;
    }
}

double nowMs()
{
    static const double perMs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return double(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / perMs;
}

// The reader thread: every input report decoded into a queue; ends when a
// read fails (the device left, or the handle was closed).
class Reader {
public:
    Reader(HidPlatform& hid, HidHandle handle)
        : hid_(hid)
        , handle_(handle)
        , ready_(CreateEventW(nullptr, FALSE, FALSE, nullptr))
        , thread_(CreateThread(nullptr, 0, &Reader::run, this, 0, nullptr))
    {}
    ~Reader()
    {
        hid_.close(handle_); // ends a pending read
        if (thread_) {
            if (WaitForSingleObject(thread_, 5000) != WAIT_OBJECT_0)
                std::printf("upgradedriver: the reader did not end within 5 s of the close\n");
            CloseHandle(thread_);
        }
        CloseHandle(ready_);
    }
    // The next reply, waiting at most `ms` for one.
    bool next(Reply* out, double ms)
    {
        if (take(out))
            return true;
        WaitForSingleObject(ready_, ms > 0 ? DWORD(ms) : 0);
        return take(out);
    }
    int failures()
    {
        AcquireSRWLockExclusive(&lock_);
        const int n = failures_;
        ReleaseSRWLockExclusive(&lock_);
        return n;
    }

private:
    static DWORD WINAPI run(void* self)
    {
        auto* r = static_cast<Reader*>(self);
        for (;;) {
            std::uint8_t buf[20] = {};
            const int n = r->hid_.readInput(r->handle_, buf, sizeof buf);
            AcquireSRWLockExclusive(&r->lock_);
            if (n < 0)
                ++r->failures_;
            else
                r->replies_.push_back(decode(buf, n));
            ReleaseSRWLockExclusive(&r->lock_);
            SetEvent(r->ready_);
            if (n < 0)
                return 0;
        }
    }
    bool take(Reply* out)
    {
        AcquireSRWLockExclusive(&lock_);
        const bool any = !replies_.empty();
        if (any) {
            *out = replies_.front();
            replies_.pop_front();
        }
        ReleaseSRWLockExclusive(&lock_);
        return any;
    }

    HidPlatform& hid_;
    HidHandle handle_;
    HANDLE ready_;
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::deque<Reply> replies_;
    int failures_ = 0;
    HANDLE thread_;
};

class Driver {
public:
    Driver(HidPlatform& hid, HidHandle write, Reader& reader, Run& run)
        : hid_(hid)
        , write_(write)
        , reader_(reader)
        , run_(run)
    {}

    void send(const Frame& f)
    {
        // As in the updater, a failed write is not an error of its own: the
        // stage's time-out decides.
        if (hid_.setFeature(write_, f.data(), f.size()))
            ++run_.framesWritten;
        else
            ++run_.writesFailed;
    }

    // Waits up to `ticks` ticks of `tickMs` for `wanted`.
    bool await(Reply wanted, int ticks, int tickMs)
    {
        const double end = nowMs() + double(ticks) * tickMs;
        for (double left = end - nowMs(); left > 0; left = end - nowMs()) {
            Reply r = Reply::Ignored;
            if (reader_.next(&r, left) && r == wanted)
                return true;
        }
        return false;
    }

    // One stage: handshake, data frames in acknowledged windows, end frame.
    Result stage(const Frame& handshake, std::uint8_t dataCode, const Frame& end, Reply ack, Reply endReply,
                 const std::vector<std::uint8_t>& image, Result timeout)
    {
        const std::size_t blocks = image.size() / kDataBytes;
        std::size_t block = 0;
        bool maySend = false;
        bool endSent = false;
        int waitTicks = 0;
        send(handshake);
        double nextTick = nowMs() + kTickMs;
        for (;;) {
            // Replies until the tick is due.
            for (double left = nextTick - nowMs(); left > 0; left = nextTick - nowMs()) {
                Reply r = Reply::Ignored;
                if (!reader_.next(&r, left))
                    continue;
                if (endSent && r == endReply)
                    return Completed;
                if (!endSent && r == ack)
                    maySend = true;
            }
            nextTick = nowMs() + kTickMs;
            if (++waitTicks == kAckTimeoutTicks)
                return endSent ? EndTimeout : timeout;
            if (!maySend)
                continue;
            waitTicks = 0;
            send(dataFrame(dataCode, image, block));
            ++block;
            if (block % kWindowFrames == 0)
                maySend = false;
            if (block == blocks) {
                send(end);
                endSent = true;
                maySend = false;
            }
        }
    }

private:
    HidPlatform& hid_;
    HidHandle write_;
    Reader& reader_;
    Run& run_;
};

} // namespace

Run upgrade(HidPlatform& hid, HidHandle read, HidHandle write, const std::vector<std::uint8_t>& dsp,
            const std::vector<std::uint8_t>& arm)
{
    Run run;
    {
        Reader reader(hid, read);
        Driver driver(hid, write, reader, run);
        driver.send(command(0x03, 0x01)); // version query; its reply is not needed
        driver.send(command(0x0C, 0x54, 0x02));
        if (!driver.await(Reply::StartAck, kStartTimeoutTicks, kStartTickMs))
            run.result = StartTimeout;
        else
            run.result = driver.stage(command(0x0C, 0x23, 0x01), 0x0D, command(0x0D, 0x21, 0x03),
                                      Reply::DspAck, Reply::DspAck, dsp, DspTimeout);
        if (run.result == Completed)
            run.result = driver.stage(command(0x0F, 0x25, 0x01), 0x0E, command(0x0F, 0x01, 0x03),
                                      Reply::ArmAck, Reply::Completion, arm, ArmTimeout);
        run.readFailures = reader.failures();
    }
    return run;
}

} // namespace upgradedriver
