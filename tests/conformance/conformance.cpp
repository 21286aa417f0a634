#include "conformance.h"

#include "image/firmwareimage.h"
#include "upgrade/engine.h"
#include "usb/discovery.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace conformance {

namespace {

using Clock = std::chrono::steady_clock;
using protocol::Bytes;
using std::chrono::milliseconds;

std::string hex(protocol::ByteView bytes)
{
    std::string out;
    char b[4];
    for (std::uint8_t v : bytes) {
        std::snprintf(b, sizeof b, out.empty() ? "%02x" : " %02x", v);
        out += b;
    }
    return out;
}

std::string ids(std::uint16_t vendor, std::uint16_t product)
{
    char b[10];
    std::snprintf(b, sizeof b, "%04x:%04x", vendor, product);
    return b;
}

// "vvvv:pppp" from the attributes a probe open reads; empty when that fails.
std::string idsOf(HidPlatform& hid, const std::string& path)
{
    const HidHandle h = hid.openProbe(path);
    HidAttributes a;
    const bool ok = h != kInvalidHidHandle && hid.getAttributes(h, &a);
    if (h != kInvalidHidHandle)
        hid.close(h);
    return ok ? ids(a.vendorId, a.productId) : std::string();
}

// The device of `setup`, plugged once the interfaces of earlier checks are
// gone and listed once it is up; removed again at the end of its scope.
class Plugged {
public:
    Plugged(Provider& p, const DeviceSetup& setup)
        : p_(p)
    {
        require(waitUntil(
                    p, [&] { return ourDevices(p.hid()).empty(); }, p.listWaitMs()),
                "a device of an earlier test is still listed");
        std::string why;
        require(p.plug(setup, &why), "the device was not plugged: " + why);
        std::size_t n = 0;
        if (!waitUntil(
                p, [&] { return (n = ourDevices(p.hid()).size()) == 1; }, p.listWaitMs())) {
            remove();
            require(false, "expected one 0483:0525 interface, found " + std::to_string(n));
        }
    }
    ~Plugged() { remove(); }
    bool remove(Bytes* dsp = nullptr, Bytes* arm = nullptr)
    {
        if (removed_)
            return true;
        removed_ = true;
        const bool clean = p_.remove(dsp, arm);
        waitUntil(
            p_, [&] { return ourDevices(p_.hid()).empty(); }, p_.listWaitMs());
        return clean;
    }

private:
    Provider& p_;
    bool removed_ = false;
};

// The device opened for reading and for writing, as the updater opens it.
struct OpenDevice {
    HidPlatform& hid;
    HidHandle r = kInvalidHidHandle;
    HidHandle w = kInvalidHidHandle;
    explicit OpenDevice(HidPlatform& h)
        : hid(h)
    {
        const std::vector<std::string> found = ourDevices(hid);
        require(found.size() == 1, "expected one 0483:0525 interface to open");
        r = hid.openRead(found.front());
        w = hid.openWrite(found.front());
        if (r == kInvalidHidHandle || w == kInvalidHidHandle) {
            close();
            require(false, "open failed: " + hid.lastError());
        }
    }
    ~OpenDevice() { close(); }
    void close()
    {
        for (HidHandle* h : {&r, &w})
            if (*h != kInvalidHidHandle)
                hid.close(std::exchange(*h, kInvalidHidHandle));
    }
};

// One read of an input report on a thread of its own. Whoever lets it go
// out of scope unfinished closes the handle first, which ends the read.
class PendingRead {
public:
    PendingRead(Provider& p, HidHandle h)
        : thread_([this, &p, h] {
            const int n = p.hid().readInput(h, buf_, sizeof buf_);
            const std::string why = n < 0 ? p.removalError() : std::string();
            std::lock_guard<std::mutex> lock(mutex_);
            n_ = n;
            removalError_ = why;
            done_ = true;
            cv_.notify_all();
        })
    {}
    ~PendingRead() { thread_.join(); }
    bool wait(int ms)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, milliseconds(ms), [this] { return done_; });
    }
    int n() const { return n_; }
    Bytes bytes() const { return n_ > 0 ? Bytes(buf_, buf_ + n_) : Bytes(); }
    const std::string& removalError() const { return removalError_; }

private:
    std::uint8_t buf_[protocol::kInputReportSize] = {}; // as the updater's reader reads
    int n_ = 0;
    std::string removalError_;
    bool done_ = false;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::thread thread_;
};

// Reads one report; gives up after `ms` by closing the device.
Bytes readReport(Provider& p, OpenDevice& d, int ms = 3000)
{
    PendingRead read(p, d.r);
    if (!read.wait(ms))
        d.close();
    read.wait(5000);
    return read.bytes();
}

int firmwareIn(const Bytes& r)
{
    return frames::decodeReply(r) == frames::Reply::Version ? frames::replyVersion(r) : -1;
}

// Writes a feature report of the device's 11 bytes starting with `frame`.
bool send(OpenDevice& d, std::initializer_list<std::uint8_t> frame)
{
    Bytes f(frame);
    f.resize(protocol::kFeatureReportSize);
    return d.hid.setFeature(d.w, f.data(), f.size());
}

// Sends a frame and reads the next report: the reply when it is 20 bytes
// long with the given code and sub-code (-1: any), otherwise nothing.
Bytes ask(Provider& p, OpenDevice& d, std::initializer_list<std::uint8_t> f, int code, int sub = -1)
{
    const Bytes r = send(d, f) ? readReport(p, d) : Bytes();
    const bool ok = r.size() == protocol::kInputReportSize && r[0] == protocol::kReportId && r[1] == code &&
                    (sub < 0 || r[2] == sub);
    return ok ? r : Bytes();
}

// A backend may list a new device a moment before it reads its reports (Wine
// does), and a reply sent then is lost: asks for the version until one
// comes, at most five times, before a check that must not lose one.
void awaitAnswers(Provider& p, OpenDevice& d)
{
    PendingRead read(p, d.r);
    for (int asked = 0; asked < 5 && !read.wait(0); ++asked) {
        send(d, {0x80, 0x03, 0x01});
        read.wait(1000);
    }
    const bool answered = read.wait(0);
    if (!answered)
        d.close(); // ends the pending read
    require(answered && firmwareIn(read.bytes()) >= 0, "the device never answered a version query");
}

// ------------------------------------------------- the product's engine

struct Run {
    int result = -1; // 0 completed, else the numbered error; -1 neither in time
    int framesWritten = 0;
    int writesFailed = 0;
    int readFailures = 0; // reads that failed before the run was over
};

// A whole upgrade of `file` by upgrade::Engine over the open handles: the
// engine's timers as deadlines (the stages' 2 ms, the start wait's 1 s),
// its frames through the backend, the replies from a reader thread. `read`
// is closed before it returns.
class EngineRun : public upgrade::Sink {
public:
    EngineRun(HidPlatform& hid, HidHandle write)
        : hid_(hid)
        , write_(write)
    {
        HidCaps caps;
        if (hid.getCaps(write, &caps) && caps.featureReportByteLength > 0)
            featureLength_ = caps.featureReportByteLength;
    }

    Run run(HidHandle read, const Bytes& file, int limitMs)
    {
        fwimage::Header h;
        fwimage::parseHeader(file, &h);
        engine_.image.data = file;
        engine_.image.dspImageEnd = std::int32_t(h.dspLength + fwimage::kHeaderSize);
        std::thread reader([&] { readAll(read); });
        engine_.carry(engine_.start(), *this);
        const Clock::time_point limit = Clock::now() + milliseconds(limitMs);
        while (!over_ && Clock::now() < limit) {
            Clock::time_point next = Clock::now() + milliseconds(100);
            for (int t = 0; t < 3; ++t)
                if (running_[t])
                    next = std::min(next, due_[t]);
            std::deque<Bytes> replies;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                cv_.wait_until(lock, next, [this] { return !queue_.empty(); });
                replies.swap(queue_);
            }
            for (const Bytes& r : replies)
                if (!over_)
                    engine_.carry(engine_.reply(r), *this);
            const Clock::time_point now = Clock::now();
            for (upgrade::Timer t : {upgrade::Timer::Delay, upgrade::Timer::Dsp, upgrade::Timer::Arm}) {
                if (over_ || !running_[int(t)] || now < due_[int(t)])
                    continue;
                due_[int(t)] = now + period(t);
                engine_.carry(
                    t == upgrade::Timer::Delay
                        ? engine_.startTick()
                        : engine_.tick(t == upgrade::Timer::Dsp ? upgrade::Stage::Dsp : upgrade::Stage::Arm),
                    *this);
            }
        }
        stopping_ = true;
        hid_.close(read);
        reader.join();
        return run_;
    }

    void send(const frames::Frame& frame) override
    {
        // Exactly the declared feature report length goes out, zero-padded.
        Bytes report(std::max<std::size_t>(featureLength_, 1), 0);
        std::copy(frame.begin(), frame.begin() + std::min(frame.size(), featureLength_), report.begin());
        if (hid_.setFeature(write_, report.data(), featureLength_))
            ++run_.framesWritten;
        else
            ++run_.writesFailed;
    }
    void setTimer(upgrade::Timer t, bool on) override
    {
        running_[int(t)] = on;
        if (on)
            due_[int(t)] = Clock::now() + period(t);
    }
    void numberedError(int number) override
    {
        run_.result = number;
        over_ = true;
    }
    bool completion() override
    {
        run_.result = 0;
        over_ = true;
        return true;
    }

private:
    static milliseconds period(upgrade::Timer t)
    {
        return milliseconds(t == upgrade::Timer::Delay ? 1000 : 2);
    }

    void readAll(HidHandle read)
    {
        std::uint8_t buf[protocol::kInputReportSize];
        for (;;) {
            const int n = hid_.readInput(read, buf, sizeof buf);
            std::lock_guard<std::mutex> lock(mutex_);
            if (n <= 0) {
                if (!stopping_)
                    ++run_.readFailures;
                return;
            }
            if (buf[0] == protocol::kReportId)
                queue_.emplace_back(buf, buf + n);
            cv_.notify_all();
        }
    }

    HidPlatform& hid_;
    HidHandle write_;
    std::size_t featureLength_ = protocol::kFeatureReportSize;
    upgrade::Engine engine_;
    Run run_;
    bool over_ = false;
    bool running_[3] = {};
    Clock::time_point due_[3];
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Bytes> queue_;
};

// ---------------------------------------------------------------- checks

void enumerationByIds(Provider& p)
{
    DeviceSetup s;
    s.others = {0x12345678, 0x04830526};
    Plugged dev(p, s);
    HidPlatform& hid = p.hid();
    std::vector<std::string> paths;
    auto listed = [&](const std::string& which) {
        return std::count_if(paths.begin(), paths.end(),
                             [&](const std::string& x) { return idsInPath(x) == which; });
    };
    // The platform may list devices of its own as well (Wine: its keyboard and mouse).
    waitUntil(
        p, [&] { return paths = hid.enumerate(), listed("1234:5678") + listed("0483:0526") >= 2; },
        p.listWaitMs());
    std::string all;
    for (const std::string& path : paths) {
        const std::string got = idsOf(hid, path);
        require(!got.empty(), "attributes of " + path + " not read: " + hid.lastError());
        require(idsInPath(path) == got, "path " + path + " does not carry the ids " + got);
        all += " " + got;
    }
    for (const char* which : {"0483:0525", "1234:5678", "0483:0526"})
        require(listed(which) == 1, std::string(which) + " not listed once:" + all);
}

void capsGiveReportLengths(Provider& p)
{
    // Other descriptors, other lengths: they are read, not assumed.
    const struct {
        int featureBytes, inputBytes, feature, input;
    } cases[] = {{0, 0, 11, 20}, {15, 12, 16, 13}};
    for (const auto& c : cases) {
        DeviceSetup s;
        s.featureBytes = c.featureBytes;
        s.inputBytes = c.inputBytes;
        Plugged dev(p, s);
        OpenDevice d(p.hid());
        HidCaps caps;
        require(p.hid().getCaps(d.w, &caps), "caps not read: " + p.hid().lastError());
        require(caps.featureReportByteLength == c.feature && caps.inputReportByteLength == c.input,
                "feature " + std::to_string(caps.featureReportByteLength) + ", input " +
                    std::to_string(caps.inputReportByteLength) + ", not " + std::to_string(c.feature) +
                    " and " + std::to_string(c.input));
    }
}

void framesAndReplies(Provider& p)
{
    DeviceSetup s;
    s.firmware = 4321;
    s.refuseWrite = 3;
    Plugged dev(p, s);
    OpenDevice d(p.hid());
    require(firmwareIn(ask(p, d, {0x80, 0x03, 0x01}, 0x0A)) == 4321, "no version reply with firmware 4321");
    require(!ask(p, d, {0x80, 0x0C, 0x54, 0x02}, 0x0C, 0x55).empty(), "no start acknowledgement");
    // The third write is refused by the device: the write reports failure.
    require(!send(d, {0x80, 0x0C, 0x23, 0x01}), "a refused write reported success");
    // The next one goes through again and is answered (DSP handshake).
    require(!ask(p, d, {0x80, 0x0C, 0x23, 0x01}, 0x0C, 0x56).empty(), "no DSP acknowledgement");
}

void backToBackReports(Provider& p)
{
    // Eight reports queued at one moment before the reply, each 12 bytes,
    // shorter than the declared 20: a backend may hand them out at the
    // declared length, zero-padded; the 12 bytes sent come first.
    DeviceSetup s;
    s.burstBefore = 8;
    s.inputReportLength = 12;
    s.firmware = 1234;
    Plugged dev(p, s);
    OpenDevice d(p.hid());
    require(send(d, {0x80, 0x03, 0x01}), "version query not written");
    for (int i = 0; i < 8; ++i) {
        const Bytes b = readReport(p, d);
        require(b.size() >= 12 && b[0] == 0x80 && b[1] == 0x7E && b[2] == i,
                "report " + std::to_string(i) + " is " + hex(b) + ", not 80 7e " + std::to_string(i));
    }
    const Bytes reply = readReport(p, d);
    require(reply.size() >= 12 && firmwareIn(reply) == 1234,
            "the version reply with firmware 1234 did not follow the burst: " + hex(reply));
}

struct Notices {
    bool registered = false;
    int arrivals = 0;
    int removals = 0; // counted from the first arrival on
};

void noticesOnUnplugAndReplug(Provider& p, Notices& n)
{
    require(n.registered, "registerNotices failed: " + p.hid().lastError());
    // Notices of the earlier checks' devices may still be on their way: let
    // them come until 1 s passes without one, for 10 s at most.
    for (int i = 0, seen = -1; i < 10 && seen != n.arrivals + n.removals; ++i) {
        seen = n.arrivals + n.removals;
        waitUntil(
            p, [] { return false; }, 1000);
    }
    n.arrivals = n.removals = 0;
    {
        DeviceSetup s;
        s.others = {0x12345678};
        Plugged dev(p, s);
        require(waitUntil(p, [&] { return n.arrivals >= 1; }), "no arrival notice");
        require(p.unplug(), "the device did not leave");
        require(waitUntil(p, [&] { return n.removals >= 1; }), "no removal notice");
        require(p.replug(), "the device did not come back");
        require(waitUntil(p, [&] { return n.arrivals >= 2; }), "no arrival notice on replug");
        require(n.removals == 1, "removal notices for a device that stayed");
        // The replugged device is found and opened again, and it answers.
        require(waitUntil(
                    p, [&] { return ourDevices(p.hid()).size() == 1; }, p.listWaitMs()),
                "the replugged device is not listed");
        OpenDevice d(p.hid());
        require(!ask(p, d, {0x80, 0x03, 0x01}, 0x0A).empty(), "no version reply from the replugged device");
    }
    require(waitUntil(p, [&] { return n.removals >= 2; }), "no removal notice at the end");
    require(n.arrivals == 2, "more arrivals than plugs");
}

void removalEndsPendingRead(Provider& p)
{
    Plugged dev(p, DeviceSetup{});
    OpenDevice d(p.hid());
    PendingRead read(p, d.r);
    const bool blocked = !read.wait(300);
    require(p.unplug(), "the device did not leave");
    const bool ended = read.wait(5000);
    if (!ended)
        d.close(); // ends the read, so the thread can be joined
    require(blocked, "the read returned without a report");
    require(ended, "a pending read survived the removal for 5 s");
    require(read.n() == -1, "the read did not fail");
    require(read.removalError().empty(), read.removalError());
}

// A 1 KiB image: 512 bytes for each stage.
Bytes sampleFile()
{
    return fwimage::pack(fwimage::sampleBytes(512, 7), fwimage::sampleBytes(512, 8), 5001);
}

void upgradeThroughTheEngine(Provider& p)
{
    const Bytes file = sampleFile();
    DeviceSetup s;
    s.others = {0x12345678};
    s.dspLength = fwimage::dspImage(file).size();
    Plugged dev(p, s);
    OpenDevice d(p.hid());
    awaitAnswers(p, d);
    const Run run = EngineRun(p.hid(), d.w).run(std::exchange(d.r, kInvalidHidHandle), file, 120000);
    require(run.result == 0, "the upgrade ended in error " + std::to_string(run.result));
    require(run.writesFailed == 0, std::to_string(run.writesFailed) + " writes failed");
    d.close();
    Bytes dsp, arm;
    require(dev.remove(&dsp, &arm), "the device did not end cleanly");
    require(dsp == fwimage::dspImage(file), "the device's DSP image differs from the file's");
    require(arm == fwimage::armImage(file), "the device's ARM image differs from the file's");
}

void unplugDuringDspEndsInError2(Provider& p)
{
    // A version query, start, DSP handshake, then 31 of the 64 DSP blocks.
    DeviceSetup s;
    s.unplugAfterFrames = 34;
    s.dspLength = 512;
    Plugged dev(p, s);
    OpenDevice d(p.hid());
    awaitAnswers(p, d);
    const Run run = EngineRun(p.hid(), d.w).run(std::exchange(d.r, kInvalidHidHandle), sampleFile(), 60000);
    const std::string counts = " (" + std::to_string(run.framesWritten) + " frames written, " +
                               std::to_string(run.writesFailed) + " writes and " +
                               std::to_string(run.readFailures) + " reads failed)";
    require(run.result == 2, "ended in error " + std::to_string(run.result) + ", not 2" + counts);
    require(waitUntil(
                p, [&] { return ourDevices(p.hid()).empty(); }, p.listWaitMs()),
            "the device did not leave the bus" + counts);
    require(run.readFailures == 1, "the reader did not see the removal" + counts);
}

} // namespace

void require(bool ok, const std::string& why)
{
    if (!ok)
        throw Failure{why};
}

std::vector<std::string> uhidArguments(const DeviceSetup& s, const std::string& dumpDir)
{
    std::vector<std::string> a = {"--firmware", std::to_string(s.firmware), "--dump-dir", dumpDir};
    for (std::uint32_t other : s.others)
        a.insert(a.end(), {"--other", ids(std::uint16_t(other >> 16), std::uint16_t(other))});
    const std::pair<const char*, long> numbers[] = {{"--feature-bytes", s.featureBytes},
                                                    {"--input-bytes", s.inputBytes},
                                                    {"--refuse-write", s.refuseWrite},
                                                    {"--burst-before", s.burstBefore},
                                                    {"--input-report-length", s.inputReportLength},
                                                    {"--unplug-after-frames", s.unplugAfterFrames},
                                                    {"--dsp-length", long(s.dspLength)}};
    for (const auto& [option, value] : numbers)
        if (value > 0)
            a.insert(a.end(), {option, std::to_string(value)});
    return a;
}

void Runner::test(const std::string& name, const std::function<void()>& check)
{
    if (name.compare(0, only_.size(), only_) != 0)
        return;
    const Clock::time_point start = Clock::now();
    try {
        check();
        ++passed_;
        const long long ms = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
        std::printf("GUEST-TEST %s PASS (%lld ms)\n", name.c_str(), ms);
    } catch (const Failure& f) {
        ++failed_;
        std::printf("GUEST-TEST %s FAIL: %s\n", name.c_str(), f.message.c_str());
    }
    std::fflush(stdout);
}

int Runner::summary() const
{
    std::printf("%d passed, %d failed\n", passed_, failed_);
    std::fflush(stdout);
    return failed_ == 0 && passed_ > 0 ? 0 : 1;
}

void run(Provider& p, Runner& runner, const std::string& prefix)
{
    static Notices notices;
    notices.registered = p.registerNotices([](HidNoticeKind kind, const std::string& path) {
        if (idsInPath(path) != "0483:0525")
            return;
        if (kind == HidNoticeKind::Arrival)
            ++notices.arrivals;
        else if (notices.arrivals > 0)
            ++notices.removals;
    });
    const std::pair<const char*, std::function<void()>> checks[] = {
        {"enumeration-by-ids", [&] { enumerationByIds(p); }},
        {"caps-give-report-lengths", [&] { capsGiveReportLengths(p); }},
        {"frames-and-replies", [&] { framesAndReplies(p); }},
        {"back-to-back-reports", [&] { backToBackReports(p); }},
        {"notices-on-unplug-and-replug", [&] { noticesOnUnplugAndReplug(p, notices); }},
        {"removal-ends-pending-read", [&] { removalEndsPendingRead(p); }},
        {"upgrade-through-the-engine", [&] { upgradeThroughTheEngine(p); }},
        {"unplug-during-dsp-is-error-2", [&] { unplugDuringDspEndsInError2(p); }},
    };
    for (const auto& [name, check] : checks)
        runner.test(prefix + name, check);
}

std::string idsInPath(const std::string& path)
{
    // Paths carry the ids after "VID" and "PID", in either case.
    std::string upper = path;
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    std::string vendor, product;
    if (!idsFromDevicePath(upper, &vendor, &product))
        return {};
    std::string out = vendor + ":" + product;
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool waitUntil(Provider& p, const std::function<bool()>& done, int ms)
{
    const Clock::time_point end = Clock::now() + milliseconds(ms);
    while (!done()) {
        if (Clock::now() >= end)
            return false;
        p.pump(10);
    }
    return true;
}

Bytes readFile(const std::string& path)
{
    Bytes out;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::uint8_t buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0 && out.size() < (1u << 20);)
            out.insert(out.end(), buf, buf + n);
        std::fclose(f);
    }
    return out;
}

std::vector<std::string> ourDevices(HidPlatform& hid)
{
    std::vector<std::string> found;
    for (const std::string& path : hid.enumerate())
        if (idsInPath(path) == "0483:0525")
            found.push_back(path);
    return found;
}

} // namespace conformance
