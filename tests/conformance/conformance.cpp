#include "conformance.h"

#include "image/firmwareimage.h"
#include "upgrade/engine.h"
#include "usb/discovery.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iterator>
#include <mutex>
#include <stdexcept>
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

// "VVVV:PPPP" (upper case) from the ids a device path carries after "VID"
// and "PID", in either case; empty if none.
std::string idsInPath(std::string path)
{
    for (char& c : path)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    std::string vendor, product;
    return idsFromDevicePath(path, &vendor, &product) ? vendor + ":" + product : std::string();
}

// Runs the provider's notices until `done` holds or `ms` pass; true when done.
bool waitUntil(Provider& p, const std::function<bool()>& done, int ms = 5000)
{
    for (const Clock::time_point end = Clock::now() + milliseconds(ms); !done(); p.pump(10))
        if (Clock::now() >= end)
            return false;
    return true;
}

bool noneOfOurs(Provider& p)
{
    return waitUntil(
        p, [&] { return ourDevices(p.hid()).empty(); }, p.listWaitMs());
}

// The device of `args`, plugged once the interfaces of earlier checks are
// gone and listed once it is up; removed again at the end of its scope.
class Plugged {
public:
    Plugged(Provider& p, const Args& args)
        : p_(p)
    {
        require(noneOfOurs(p), "a device of an earlier test is still listed");
        std::string why;
        require(p.plug(args, &why), "the device was not plugged: " + why);
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
        if (std::exchange(removed_, true))
            return true;
        const bool clean = p_.remove(dsp, arm);
        noneOfOurs(p_);
        return clean;
    }

private:
    Provider& p_;
    bool removed_ = false;
};

// The device opened for reading and for writing, as the updater opens it,
// and a thread that reads its input reports (as the updater's reader reads
// them) into a queue until a read fails.
class OpenDevice {
public:
    explicit OpenDevice(Provider& p)
        : hid(p.hid())
    {
        const std::vector<std::string> found = ourDevices(hid);
        require(found.size() == 1, "expected one 0483:0525 interface to open");
        r = hid.openRead(found.front());
        w = hid.openWrite(found.front());
        if (r == kInvalidHidHandle || w == kInvalidHidHandle) {
            close();
            require(false, "open failed: " + hid.lastError());
        }
        reader_ = std::thread([this, &p, h = r] {
            std::uint8_t buf[protocol::kInputReportSize];
            for (int n = 1; n > 0;) {
                n = hid.readInput(h, buf, sizeof buf);
                const std::string why = n <= 0 ? p.removalError() : std::string();
                std::lock_guard<std::mutex> lock(mutex_);
                if (n > 0)
                    queue_.emplace_back(buf, buf + n);
                else
                    failure = n, removalError = why, ended_ = true;
                cv_.notify_all();
            }
        });
    }
    ~OpenDevice() { close(); }
    // Closes the handles, which ends a pending read, and joins the reader.
    void close()
    {
        for (HidHandle* h : {&r, &w})
            if (*h != kInvalidHidHandle)
                hid.close(std::exchange(*h, kInvalidHidHandle));
        if (reader_.joinable())
            reader_.join();
    }
    // Writes a feature report of the device's 11 bytes starting with `frame`.
    bool send(std::initializer_list<std::uint8_t> frame)
    {
        Bytes f(frame);
        f.resize(protocol::kFeatureReportSize);
        return hid.setFeature(w, f.data(), f.size());
    }
    // The next report read by `until`; empty when none came.
    Bytes next(Clock::time_point until)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_until(lock, until, [this] { return !queue_.empty(); }))
            return {};
        Bytes b = std::move(queue_.front());
        queue_.pop_front();
        return b;
    }
    Bytes next(int ms = 3000) { return next(Clock::now() + milliseconds(ms)); }
    // Whether the reads have ended within `ms`; then `failure` and
    // `removalError` say how.
    bool ended(int ms = 0)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, milliseconds(ms), [this] { return ended_; });
    }

    HidPlatform& hid;
    HidHandle r = kInvalidHidHandle;
    HidHandle w = kInvalidHidHandle;
    int failure = 0;          // the failed read's result
    std::string removalError; // the provider's removalError() right after it

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Bytes> queue_;
    bool ended_ = false;
    std::thread reader_;
};

int firmwareIn(const Bytes& r)
{
    return frames::decodeReply(r) == frames::Reply::Version ? frames::replyVersion(r) : -1;
}

// Sends a frame and reads the next report: the reply when it is 20 bytes
// long with the given code and sub-code (-1: any), otherwise nothing.
Bytes ask(OpenDevice& d, std::initializer_list<std::uint8_t> f, int code, int sub = -1)
{
    const Bytes r = d.send(f) ? d.next() : Bytes();
    const bool ok = r.size() == protocol::kInputReportSize && r[0] == protocol::kReportId && r[1] == code &&
                    (sub < 0 || r[2] == sub);
    return ok ? r : Bytes();
}

// A backend may list a new device a moment before it reads its reports (Wine
// does), and a reply sent then is lost: asks for the version until one
// comes, at most five times, before a check that must not lose one.
void awaitAnswers(OpenDevice& d)
{
    bool answered = false;
    for (int asked = 0; asked < 5 && !answered; ++asked)
        answered = d.send({0x80, 0x03, 0x01}) && firmwareIn(d.next(1000)) >= 0;
    require(answered, "the device never answered a version query");
}

// ------------------------------------------------- the product's engine

// A whole upgrade of a file by upgrade::Engine over the open device: the
// engine's timers as deadlines (the stages' 2 ms, the start wait's 1 s), its
// frames through the backend at the declared feature report length, the
// replies from the device's reader.
struct EngineRun : upgrade::Sink {
    int result = -1; // 0 completed, else the numbered error; -1 neither in time
    int framesWritten = 0, writesFailed = 0;
    bool readsEnded = false; // before the run was over

    EngineRun(OpenDevice& d, const Bytes& file, int limitMs)
        : d_(d)
    {
        HidCaps caps;
        if (d.hid.getCaps(d.w, &caps) && caps.featureReportByteLength > 0)
            featureLength_ = caps.featureReportByteLength;
        fwimage::Header h;
        fwimage::parseHeader(file, &h);
        engine_.image.data = file;
        engine_.image.dspImageEnd = std::int32_t(h.dspLength + fwimage::kHeaderSize);
        engine_.carry(engine_.start(), *this);
        const Clock::time_point limit = Clock::now() + milliseconds(limitMs);
        while (!over_ && Clock::now() < limit) {
            const Bytes r = d.next(std::min({Clock::now() + milliseconds(100), due_[0], due_[1], due_[2]}));
            if (!r.empty())
                engine_.carry(engine_.reply(r), *this);
            for (upgrade::Timer t : {upgrade::Timer::Delay, upgrade::Timer::Dsp, upgrade::Timer::Arm}) {
                if (over_ || Clock::now() < due_[int(t)])
                    continue;
                due_[int(t)] = Clock::now() + period(t);
                engine_.carry(
                    t == upgrade::Timer::Delay
                        ? engine_.startTick()
                        : engine_.tick(t == upgrade::Timer::Dsp ? upgrade::Stage::Dsp : upgrade::Stage::Arm),
                    *this);
            }
        }
        readsEnded = d.ended();
    }
    std::string counts() const
    {
        return " (" + std::to_string(framesWritten) + " frames written, " + std::to_string(writesFailed) +
               " writes failed)";
    }

    void send(const frames::Frame& frame) override
    {
        // Exactly the declared feature report length goes out, zero-padded.
        Bytes report(featureLength_, 0);
        std::copy(frame.begin(), frame.begin() + std::min(frame.size(), featureLength_), report.begin());
        ++(d_.hid.setFeature(d_.w, report.data(), featureLength_) ? framesWritten : writesFailed);
    }
    void setTimer(upgrade::Timer t, bool on) override
    {
        due_[int(t)] = on ? Clock::now() + period(t) : Clock::time_point::max();
    }
    void numberedError(int number) override { result = number, over_ = true; }
    bool completion() override { return result = 0, over_ = true; }

private:
    static milliseconds period(upgrade::Timer t)
    {
        return milliseconds(t == upgrade::Timer::Delay ? 1000 : 2);
    }

    OpenDevice& d_;
    std::size_t featureLength_ = protocol::kFeatureReportSize;
    upgrade::Engine engine_;
    bool over_ = false;
    Clock::time_point due_[3] = {Clock::time_point::max(), Clock::time_point::max(),
                                 Clock::time_point::max()};
};

// ---------------------------------------------------------------- checks

void enumerationByIds(Provider& p)
{
    Plugged dev(p, {"--other", "1234:5678", "--other", "0483:0526"});
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
        // The ids a probe open reads are the ones the path carries.
        const HidHandle h = hid.openProbe(path);
        HidAttributes a;
        const bool ok = h != kInvalidHidHandle && hid.getAttributes(h, &a);
        if (h != kInvalidHidHandle)
            hid.close(h);
        char got[10];
        std::snprintf(got, sizeof got, "%04X:%04X", a.vendorId, a.productId);
        require(ok, "attributes of " + path + " not read: " + hid.lastError());
        require(idsInPath(path) == got, "path " + path + " does not carry the ids " + got);
        all += std::string(" ") + got;
    }
    for (const char* which : {"0483:0525", "1234:5678", "0483:0526"})
        require(listed(which) == 1, std::string(which) + " not listed once:" + all);
}

void capsGiveReportLengths(Provider& p)
{
    // Other descriptors, other lengths: they are read, not assumed.
    const struct {
        Args args;
        int feature, input;
    } cases[] = {{{}, 11, 20}, {{"--feature-bytes", "15", "--input-bytes", "12"}, 16, 13}};
    for (const auto& c : cases) {
        Plugged dev(p, c.args);
        OpenDevice d(p);
        HidCaps caps;
        require(p.hid().getCaps(d.w, &caps), "caps not read: " + p.hid().lastError());
        const int got[] = {caps.featureReportByteLength, caps.inputReportByteLength};
        require(got[0] == c.feature && got[1] == c.input,
                "feature and input " + std::to_string(got[0]) + " and " + std::to_string(got[1]) + ", not " +
                    std::to_string(c.feature) + " and " + std::to_string(c.input));
    }
}

void framesAndReplies(Provider& p)
{
    Plugged dev(p, {"--firmware", "4321", "--refuse-write", "3"});
    OpenDevice d(p);
    require(firmwareIn(ask(d, {0x80, 0x03, 0x01}, 0x0A)) == 4321, "no version reply with firmware 4321");
    require(!ask(d, {0x80, 0x0C, 0x54, 0x02}, 0x0C, 0x55).empty(), "no start acknowledgement");
    // The third write is refused by the device: the write reports failure.
    require(!d.send({0x80, 0x0C, 0x23, 0x01}), "a refused write reported success");
    // The next one goes through again and is answered (DSP handshake).
    require(!ask(d, {0x80, 0x0C, 0x23, 0x01}, 0x0C, 0x56).empty(), "no DSP acknowledgement");
}

void backToBackReports(Provider& p)
{
    // Eight reports queued at one moment before the reply, each 12 bytes,
    // shorter than the declared 20: a backend may hand them out at the
    // declared length, zero-padded; the 12 bytes sent come first.
    Plugged dev(p, {"--burst-before", "8", "--input-report-length", "12", "--firmware", "1234"});
    OpenDevice d(p);
    require(d.send({0x80, 0x03, 0x01}), "version query not written");
    for (int i = 0; i < 8; ++i) {
        const Bytes b = d.next();
        require(b.size() >= 12 && b[0] == 0x80 && b[1] == 0x7E && b[2] == i,
                "report " + std::to_string(i) + " is " + hex(b) + ", not 80 7e " + std::to_string(i));
    }
    const Bytes reply = d.next();
    require(reply.size() >= 12 && firmwareIn(reply) == 1234,
            "the version reply with firmware 1234 did not follow the burst: " + hex(reply));
}

struct Notices {
    bool registered = false;
    int arrivals = 0;
    int removals = 0; // counted from the first arrival on
};

void unplugAndReplug(Provider& p, Notices& n)
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
        Plugged dev(p, {"--other", "1234:5678"});
        require(waitUntil(p, [&] { return n.arrivals >= 1; }), "no arrival notice");
        {
            // A read pending when the device leaves ends, as a removal.
            OpenDevice d(p);
            require(d.next(300).empty() && !d.ended(), "the read returned without a report");
            require(p.unplug(), "the device did not leave");
            require(d.ended(5000), "a pending read survived the removal for 5 s");
            require(d.failure == -1 && d.removalError.empty(), "the read did not fail: " + d.removalError);
        }
        require(waitUntil(p, [&] { return n.removals >= 1; }), "no removal notice");
        require(p.replug(), "the device did not come back");
        require(waitUntil(p, [&] { return n.arrivals >= 2; }), "no arrival notice on replug");
        require(n.removals == 1, "removal notices for a device that stayed");
        // The replugged device is found and opened again, and it answers.
        require(waitUntil(
                    p, [&] { return ourDevices(p.hid()).size() == 1; }, p.listWaitMs()),
                "the replugged device is not listed");
        OpenDevice d(p);
        require(!ask(d, {0x80, 0x03, 0x01}, 0x0A).empty(), "no version reply from the replugged device");
    }
    require(waitUntil(p, [&] { return n.removals >= 2; }), "no removal notice at the end");
    require(n.arrivals == 2, "more arrivals than plugs");
}

// A 1 KiB image: 512 bytes for each stage.
const Bytes kFile = fwimage::pack(fwimage::sampleBytes(512, 7), fwimage::sampleBytes(512, 8), 5001);

void upgradeThroughTheEngine(Provider& p)
{
    Plugged dev(p, {"--other", "1234:5678", "--dsp-length", std::to_string(fwimage::dspImage(kFile).size())});
    OpenDevice d(p);
    awaitAnswers(d);
    const EngineRun run(d, kFile, 120000);
    require(run.result == 0 && run.writesFailed == 0,
            "the upgrade ended in error " + std::to_string(run.result) + run.counts());
    d.close();
    Bytes dsp, arm;
    require(dev.remove(&dsp, &arm), "the device did not end cleanly");
    require(dsp == fwimage::dspImage(kFile), "the device's DSP image differs from the file's");
    require(arm == fwimage::armImage(kFile), "the device's ARM image differs from the file's");
}

void unplugDuringDspEndsInError2(Provider& p)
{
    // A version query, start, DSP handshake, then 31 of the 64 DSP blocks.
    Plugged dev(p, {"--unplug-after-frames", "34", "--dsp-length", "512"});
    OpenDevice d(p);
    awaitAnswers(d);
    const EngineRun run(d, kFile, 60000);
    require(run.result == 2, "ended in error " + std::to_string(run.result) + ", not 2" + run.counts());
    require(noneOfOurs(p), "the device did not leave the bus" + run.counts());
    require(run.readsEnded && d.removalError.empty(), "the reader did not see the removal" + run.counts());
}

} // namespace

void require(bool ok, const std::string& why)
{
    if (!ok)
        throw std::runtime_error(why);
}

bool UhidProvider::plug(const Args& args, std::string* why)
{
    std::string line = "start --dump-dir " + dumpDir_;
    for (const std::string& a : args)
        line += " " + a;
    plugs_ = 1;
    *why = ask(line);
    return *why == "ok";
}

bool UhidProvider::unplug()
{
    return ask("send unplug") == "ok" &&
           ask("wait " + std::to_string(plugs_) + " 5000 destroyed 0483:0525") == "ok";
}

bool UhidProvider::replug()
{
    return ask("send plug") == "ok" &&
           ask("wait " + std::to_string(++plugs_) + " 5000 created 0483:0525") == "ok";
}

bool UhidProvider::remove(Bytes* dsp, Bytes* arm)
{
    if (unplugBeforeStop_ && ask("send unplug") == "ok")
        noneOfOurs(*this);
    const bool clean = ask("stop") == "ok 0";
    if (dsp)
        *dsp = readFile(readDir_ + "dsp.bin");
    if (arm)
        *arm = readFile(readDir_ + "arm.bin");
    return clean;
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
    } catch (const std::runtime_error& f) {
        ++failed_;
        std::printf("GUEST-TEST %s FAIL: %s\n", name.c_str(), f.what());
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
    const std::pair<const char*, void (*)(Provider&)> checks[] = {
        {"enumeration-by-ids", enumerationByIds},
        {"caps-give-report-lengths", capsGiveReportLengths},
        {"frames-and-replies", framesAndReplies},
        {"back-to-back-reports", backToBackReports},
        {"unplug-ends-read-notices-replug", [](Provider& q) { unplugAndReplug(q, notices); }},
        {"upgrade-through-the-engine", upgradeThroughTheEngine},
        {"unplug-during-dsp-is-error-2", unplugDuringDspEndsInError2},
    };
    for (const auto& [name, check] : checks)
        runner.test(prefix + name, [&, check = check] { check(p); });
}

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
