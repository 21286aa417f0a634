// The tests that run under Wine inside the Windows guest
// (scripts/guest/run-windows-tests): the Windows HID backend (SetupAPI,
// hid.dll, overlapped reads, WM_DEVICECHANGE notices) against
// virtual-hid-uhid, which Wine's HID bus presents as a Windows HID device.
// The checks are those of guest-hidraw-tests wherever Windows has the
// feature. Wine cannot start the Linux device program, so
// scripts/guest/device-control.py starts and commands it over loopback TCP.
//
// Each test prints "GUEST-TEST <name> PASS" or "GUEST-TEST <name> FAIL: why",
// and the run ends with "N passed, M failed". Every wait is bounded.
#define __USE_MINGW_ANSI_STDIO 1 // %zu and %llu in printf
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <dbt.h>

#include "upgradedriver.h"
#include "usb/discovery.h"
#include "usb/hidplatform.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Failure {
    std::string message;
};

std::string format(const char* fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
std::string format(const char* fmt, ...)
{
    char buf[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

#define CHECK(cond, msg)                                                                                     \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            throw Failure{std::string(msg) + format(" (line %d)", __LINE__)};                                \
    } while (0)

HidPlatform& platform()
{
    return *nativeHidPlatform();
}

// Runs the thread's window messages (the device notices come as sent
// WM_DEVICECHANGE messages, handled while waiting here) until `done` holds
// or `timeoutMs` passes; true when done.
bool waitUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(std::min<ULONGLONG>(end - now, 20)), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

// ------------------------------------------------------------ the device

// The control connection to device-control.py.
class Control {
public:
    bool connect(const char* host, int port)
    {
        // device-control.py may still be starting: retry for up to 20 s.
        for (int attempt = 0; attempt < 100; ++attempt) {
            sock_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<u_short>(port));
            inet_pton(AF_INET, host, &a.sin_addr);
            if (::connect(sock_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
                DWORD timeout = 30000; // the longest answer: a wait of at most 15 s
                setsockopt(sock_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                           sizeof timeout);
                return true;
            }
            closesocket(sock_);
            sock_ = INVALID_SOCKET;
            Sleep(200);
        }
        return false;
    }
    // Sends a command line; the answer line ("ok ..." or "fail ...").
    std::string ask(const std::string& line)
    {
        const std::string out = line + "\n";
        if (send(sock_, out.data(), int(out.size()), 0) != int(out.size()))
            return "fail control connection lost";
        std::string answer;
        char c;
        while (answer.size() < 4096 && recv(sock_, &c, 1, 0) == 1 && c != '\n')
            answer += c;
        return answer.empty() ? "fail no answer from device-control" : answer;
    }

private:
    SOCKET sock_ = INVALID_SOCKET;
} g_control;

// "vvvv:pppp" from the attributes a probe open reads; empty when that fails.
std::string idsOf(const std::string& path)
{
    const HidHandle h = platform().openProbe(path);
    HidAttributes a;
    const bool ok = h != kInvalidHidHandle && platform().getAttributes(h, &a);
    if (h != kInvalidHidHandle)
        platform().close(h);
    return ok ? format("%04x:%04x", a.vendorId, a.productId) : std::string();
}

// The ids a device path carries after "vid_" and "pid_", in lower case.
// SetupAPI lists interface paths in lower case, on Wine as on Windows; the
// updater reads ids from the path only in notices (upper case there).
std::string idsInPath(std::string path)
{
    for (char& c : path)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t v = path.find("vid_");
    const std::size_t p = path.find("pid_");
    if (v == std::string::npos || p == std::string::npos || path.size() < v + 8 || path.size() < p + 8)
        return {};
    return path.substr(v + 4, 4) + ":" + path.substr(p + 4, 4);
}

// Paths of the listed 0483:0525 interfaces, by the ids in their paths. The
// waits use this, not the attributes: opening devices while Wine adds or
// drops one is left to the enumeration test.
std::vector<std::string> ourDevices()
{
    std::vector<std::string> found;
    for (const std::string& path : platform().enumerate())
        if (idsInPath(path) == "0483:0525")
            found.push_back(path);
    return found;
}

// The one 0483:0525 interface, once Wine's HID bus lists it.
std::string theDevice()
{
    std::vector<std::string> found;
    const bool one = waitUntil([&] { return (found = ourDevices()).size() == 1; }, 30000);
    CHECK(one, format("expected one 0483:0525 interface, found %zu", found.size()));
    return found.front();
}

// virtual-hid-uhid with `args`, started through device-control.py; stopped,
// and gone from the bus, when this goes out of scope.
class Device {
public:
    explicit Device(const std::string& args)
    {
        // Wine may take a while to drop the device of the test before (on a
        // loaded machine, seconds).
        CHECK(waitUntil([] { return ourDevices().empty(); }, 30000),
              "a device of an earlier test is still listed after 30 s");
        const std::string answer = g_control.ask("start " + args);
        CHECK(answer == "ok", "virtual-hid-uhid " + args + ": " + answer);
        try {
            theDevice();
        } catch (...) {
            stop();
            throw;
        }
    }
    ~Device()
    {
        stop();
        waitUntil([] { return ourDevices().empty(); }, 15000);
    }
    bool command(const char* line) { return g_control.ask(std::string("send ") + line) == "ok"; }
    bool waitLine(const char* prefix, int count = 1, int timeoutMs = 5000)
    {
        return g_control.ask(format("wait %d %d %s", count, timeoutMs, prefix)) == "ok";
    }
    // SIGTERM: the program dumps its images and removes its devices. The
    // device under test leaves first, and alone: Wine's HID bus has been
    // seen to stop taking plugs for good after several devices left at once.
    bool stop()
    {
        if (stopped_)
            return true;
        stopped_ = true;
        if (command("unplug"))
            waitUntil([] { return ourDevices().empty(); }, 15000);
        return g_control.ask("stop") == "ok 0";
    }

private:
    bool stopped_ = false;
};

struct OpenDevice {
    HidHandle r = kInvalidHidHandle;
    HidHandle w = kInvalidHidHandle;
    OpenDevice()
    {
        const std::string path = theDevice();
        r = platform().openRead(path);
        w = platform().openWrite(path);
        if (r == kInvalidHidHandle || w == kInvalidHidHandle) {
            close();
            throw Failure{"open failed: " + platform().lastError()};
        }
    }
    ~OpenDevice() { close(); }
    void close()
    {
        for (HidHandle* h : {&r, &w})
            if (*h != kInvalidHidHandle)
                platform().close(std::exchange(*h, kInvalidHidHandle));
    }
};

// A read of one input report on a thread of its own, with the thread's
// last error as the backend left it.
struct PendingRead {
    HidHandle handle;
    std::uint8_t buf[20] = {};
    int n = 0;
    DWORD error = 0;
    HANDLE thread = nullptr;
    explicit PendingRead(HidHandle h)
        : handle(h)
    {
        thread = CreateThread(nullptr, 0, &PendingRead::run, this, 0, nullptr);
    }
    ~PendingRead()
    {
        if (thread) {
            WaitForSingleObject(thread, 10000);
            CloseHandle(thread);
        }
    }
    bool wait(DWORD ms) { return WaitForSingleObject(thread, ms) == WAIT_OBJECT_0; }
    static DWORD WINAPI run(void* self)
    {
        auto* p = static_cast<PendingRead*>(self);
        p->n = platform().readInput(p->handle, p->buf, sizeof p->buf);
        p->error = GetLastError();
        return 0;
    }
};

// Reads one report; gives up after `timeoutMs` by closing the device, which
// ends the pending read. The bytes read; none when the read failed.
std::vector<std::uint8_t> readReport(OpenDevice& d, DWORD timeoutMs = 3000)
{
    PendingRead read(d.r);
    if (!read.wait(timeoutMs))
        d.close();
    read.wait(5000);
    return read.n > 0 ? std::vector<std::uint8_t>(read.buf, read.buf + read.n) : std::vector<std::uint8_t>();
}

std::string hex(const std::vector<std::uint8_t>& bytes)
{
    std::string out;
    for (std::uint8_t b : bytes)
        out += format("%s%02x", out.empty() ? "" : " ", b);
    return out;
}

int firmwareIn(const std::vector<std::uint8_t>& r)
{
    return r.size() < 8 ? -1 : r[6] | r[7] << 8;
}

bool send(const OpenDevice& d, std::initializer_list<std::uint8_t> bytes)
{
    std::vector<std::uint8_t> f(bytes);
    f.resize(11);
    return platform().setFeature(d.w, f.data(), f.size());
}

std::vector<std::uint8_t> ask(OpenDevice& d, std::initializer_list<std::uint8_t> f, int code, int sub = -1)
{
    const std::vector<std::uint8_t> r = send(d, f) ? readReport(d) : std::vector<std::uint8_t>();
    const bool ok = r.size() == 20 && r[0] == 0x80 && r[1] == code && (sub < 0 || r[2] == sub);
    return ok ? r : std::vector<std::uint8_t>();
}

// Wine's HID bus may list a new device a moment before it reads the device's
// reports, and a reply sent in that moment is lost. Asks for the version
// until a reply comes, for at most 5 s, before a test that must not lose one.
void awaitAnswers(OpenDevice& d)
{
    PendingRead read(d.r);
    int asked = 0;
    while (asked < 5 && !read.wait(0)) {
        ++asked;
        send(d, {0x80, 0x03, 0x01});
        read.wait(1000);
    }
    const bool answered = read.wait(0);
    if (!answered)
        d.close(); // ends the pending read
    CHECK(answered && read.n >= 8 && read.buf[1] == 0x0A, "the device never answered a version query");
    if (asked > 1)
        std::printf("GUEST-INFO the device answered the version query number %d\n", asked);
}

std::vector<std::uint8_t> readFile(const std::string& path)
{
    std::vector<std::uint8_t> out;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::uint8_t buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0 && out.size() < (1u << 20);)
            out.insert(out.end(), buf, buf + n);
        std::fclose(f);
    }
    return out;
}

// Device notices for 0483:0525, as the backend translates the window's
// WM_DEVICECHANGE messages.
struct Notices {
    bool registered = false;
    int arrivals = 0;
    int removals = 0;
    std::string lastPath;
} g_notices;

LRESULT CALLBACK noticeWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg{};
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    HidNoticeKind kind;
    std::string path;
    // Matched by the updater's own rule for notice names, which Wine writes
    // in upper case as Windows does (\\?\HID#VID_0483&PID_0525#...).
    std::string vendor, product;
    if (platform().translateNativeMessage(&msg, &kind, &path) && idsFromDevicePath(path, &vendor, &product) &&
        vendor == "0483" && product == "0525") {
        g_notices.lastPath = path;
        if (kind == HidNoticeKind::Arrival)
            ++g_notices.arrivals;
        else if (g_notices.arrivals > 0)
            ++g_notices.removals;
    }
    return message == WM_DEVICECHANGE ? TRUE : DefWindowProcW(hwnd, message, wParam, lParam);
}

// ------------------------------------------------------------------ tests

void enumerationFindsTheDeviceByItsIds()
{
    Device dev("--other 1234:5678 --other 0483:0526");
    // Wine lists HID devices of its own as well (845e:0001 and 845e:0002,
    // its keyboard and mouse), as Windows lists the machine's.
    std::vector<std::string> paths;
    auto listed = [&](const char* ids) {
        return std::count_if(paths.begin(), paths.end(),
                             [&](const std::string& p) { return idsInPath(p) == ids; });
    };
    waitUntil([&] { return paths = platform().enumerate(), listed("1234:5678") + listed("0483:0526") >= 2; },
              30000);
    std::vector<std::string> seen;
    for (const std::string& path : paths) {
        const std::string ids = idsOf(path);
        CHECK(!ids.empty(), "attributes of " + path + " not read: " + platform().lastError());
        CHECK(idsInPath(path) == ids, "path " + path + " does not carry the ids " + ids);
        seen.push_back(ids);
    }
    std::string all;
    for (const std::string& ids : seen)
        all += " " + ids;
    for (const char* ids : {"0483:0525", "1234:5678", "0483:0526"})
        CHECK(std::count(seen.begin(), seen.end(), ids) == 1, std::string(ids) + " not listed once:" + all);
}

void featureLengthComesFromTheCaps()
{
    const struct {
        const char* args;
        int feature, input;
    } cases[] = {{"", 11, 20}, {"--feature-bytes 15 --input-bytes 12", 16, 13}};
    for (const auto& c : cases) {
        Device dev(c.args);
        const OpenDevice d;
        HidCaps caps;
        CHECK(platform().getCaps(d.w, &caps), "caps not read: " + platform().lastError());
        CHECK(caps.featureReportByteLength == c.feature && caps.inputReportByteLength == c.input,
              format("'%s': feature %d, input %d, not %d and %d", c.args, caps.featureReportByteLength,
                     caps.inputReportByteLength, c.feature, c.input));
    }
}

void framesReachTheDeviceAndRepliesComeBack()
{
    Device dev("--firmware 4321 --refuse-write 3");
    OpenDevice d;
    CHECK(firmwareIn(ask(d, {0x80, 0x03, 0x01}, 0x0A)) == 4321, "no version reply with firmware 4321");
    CHECK(!ask(d, {0x80, 0x0C, 0x54, 0x02}, 0x0C, 0x55).empty(), "no start acknowledgement");
    CHECK(!send(d, {0x80, 0x0C, 0x23, 0x01}), "a refused write reported success");
    CHECK(!ask(d, {0x80, 0x0C, 0x23, 0x01}, 0x0C, 0x56).empty(), "no DSP acknowledgement");
}

void backToBackReportsArriveInOrder()
{
    // Reports 12 bytes long, shorter than the declared 20: a read may give
    // them at the declared length, zero-padded; the 12 bytes sent come first.
    Device dev("--burst-before 8 --input-report-length 12 --firmware 1234");
    OpenDevice d;
    CHECK(send(d, {0x80, 0x03, 0x01}), "version query not written");
    for (int i = 0; i < 8; ++i) {
        const std::vector<std::uint8_t> b = readReport(d);
        CHECK(b.size() >= 12 && b[0] == 0x80 && b[1] == 0x7E && b[2] == i,
              format("report %d is %s, not 80 7e %02x", i, hex(b).c_str(), i));
    }
    const std::vector<std::uint8_t> reply = readReport(d);
    CHECK(reply.size() >= 12 && reply[1] == 0x0A && firmwareIn(reply) == 1234,
          "the version reply with firmware 1234 did not follow the burst: " + hex(reply));
}

void noticesComeThroughDeviceChangeMessages()
{
    CHECK(g_notices.registered, "registerNotices failed: " + platform().lastError());
    // Notices of the devices of earlier tests reach the window when it next
    // runs its messages: let them come, for at most 10 s, until 1 s passes
    // without one.
    for (int i = 0, seen = -1; i < 10 && seen != g_notices.arrivals + g_notices.removals; ++i) {
        seen = g_notices.arrivals + g_notices.removals;
        waitUntil([] { return false; }, 1000);
    }
    g_notices.arrivals = g_notices.removals = 0;
    {
        Device dev("--other 1234:5678");
        CHECK(waitUntil([] { return g_notices.arrivals >= 1; }), "no arrival notice");
        CHECK(dev.command("unplug") && dev.waitLine("destroyed 0483:0525"), "the device was not destroyed");
        CHECK(waitUntil([] { return g_notices.removals >= 1; }), "no removal notice");
        CHECK(dev.command("plug"), "plug not sent");
        CHECK(waitUntil([] { return g_notices.arrivals >= 2; }), "no arrival notice on replug");
        CHECK(g_notices.removals == 1, "removal notices for a device that stayed");
        std::printf("GUEST-INFO notice path %s\n", g_notices.lastPath.c_str());
        // The replugged device is found and opened again, and it answers.
        OpenDevice d;
        CHECK(!ask(d, {0x80, 0x03, 0x01}, 0x0A).empty(), "no version reply from the replugged device");
    }
    CHECK(waitUntil([] { return g_notices.removals >= 2; }), "no removal at program exit");
    CHECK(g_notices.arrivals == 2, "more arrivals than plugs");
}

void removalEndsAPendingRead()
{
    Device dev("");
    OpenDevice d;
    PendingRead read(d.r);
    const bool blocked = !read.wait(300);
    const ULONGLONG unplugged = GetTickCount64();
    CHECK(dev.command("unplug"), "unplug not sent");
    const bool ended = read.wait(5000);
    const ULONGLONG took = GetTickCount64() - unplugged;
    if (!ended)
        d.close();
    CHECK(blocked, "read returned without a report");
    CHECK(ended, "a pending read survived the removal for 5 s");
    CHECK(read.n == -1, "the read did not fail");
    // Windows ends the read with 1167, Wine with 5 (access denied): the
    // backend reports either as the device's removal, 1167.
    CHECK(read.error == ERROR_DEVICE_NOT_CONNECTED,
          format("read failed with error %lu, not as a removal (%s)", read.error,
                 platform().lastError().c_str()));
    std::printf("GUEST-INFO removal ended the pending read after %llu ms\n", took);
}

// The 1 KiB image: 512 bytes for each stage, from a fixed seed.
std::vector<std::uint8_t> sampleStage(std::uint32_t seed)
{
    std::vector<std::uint8_t> out(512);
    for (auto& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = std::uint8_t(seed >> 16);
    }
    return out;
}

void upgradeThroughTheBackend()
{
    const std::string dir = "/tmp/windows-tests/images";
    const std::vector<std::uint8_t> dsp = sampleStage(7), arm = sampleStage(8);
    CreateDirectoryA("Z:\\tmp\\windows-tests", nullptr);
    CreateDirectoryA("Z:\\tmp\\windows-tests\\images", nullptr);
    DeleteFileA("Z:\\tmp\\windows-tests\\images\\dsp.bin");
    DeleteFileA("Z:\\tmp\\windows-tests\\images\\arm.bin");
    Device dev(format("--other 1234:5678 --dump-dir %s --dsp-length %zu", dir.c_str(), dsp.size()));
    OpenDevice d;
    awaitAnswers(d);
    const ULONGLONG start = GetTickCount64();
    const upgradedriver::Run run =
        upgradedriver::upgrade(platform(), std::exchange(d.r, kInvalidHidHandle), d.w, dsp, arm);
    std::printf("GUEST-INFO the upgrade took %llu ms\n", GetTickCount64() - start);
    CHECK(run.result == upgradedriver::Completed, format("the upgrade ended in error %d", run.result));
    CHECK(run.writesFailed == 0, format("%d writes failed", run.writesFailed));
    CHECK(dev.stop(), "the device program did not end cleanly");
    CHECK(readFile("Z:\\tmp\\windows-tests\\images\\dsp.bin") == dsp, "the device's DSP image differs");
    CHECK(readFile("Z:\\tmp\\windows-tests\\images\\arm.bin") == arm, "the device's ARM image differs");
}

void unplugDuringDspEndsInError2()
{
    // Version queries (usually one), version query, start, DSP handshake,
    // then DSP blocks: leave after about 30.
    Device dev("--unplug-after-frames 34 --dsp-length 512");
    OpenDevice d;
    awaitAnswers(d);
    const ULONGLONG start = GetTickCount64();
    const upgradedriver::Run run = upgradedriver::upgrade(platform(), std::exchange(d.r, kInvalidHidHandle),
                                                          d.w, sampleStage(7), sampleStage(8));
    const std::string counts = format(" (%d frames written, %d writes and %d reads failed)",
                                      run.framesWritten, run.writesFailed, run.readFailures);
    CHECK(run.result == upgradedriver::DspTimeout, format("ended in error %d, not 2", run.result) + counts);
    CHECK(dev.waitLine("destroyed 0483:0525"), "the device did not leave the bus" + counts);
    CHECK(run.readFailures == 1, "the reader did not see the removal");
    std::printf("GUEST-INFO the DSP stage gave up %llu ms after the start\n", GetTickCount64() - start);
}

// Waits until the service `name` runs; Wine starts its HID bus (winebus)
// through plugplay some seconds after the first Wine process of the guest.
bool waitForService(const wchar_t* name, DWORD timeoutMs)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    const bool running = waitUntil(
        [&] {
            SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
            SERVICE_STATUS status{};
            const bool ok =
                service && QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
            if (service)
                CloseServiceHandle(service);
            return ok;
        },
        timeoutMs);
    CloseServiceHandle(manager);
    return running;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::string host = "127.0.0.1";
    int port = 0;
    std::string only; // --only PREFIX: the tests whose names start with it
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--control-port") == 0)
            port = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--only") == 0)
            only = argv[i + 1];
    }
    WSADATA wsa;
    if (port <= 0 || WSAStartup(MAKEWORD(2, 2), &wsa) != 0 || !g_control.connect(host.c_str(), port)) {
        std::printf(
            "GUEST-TEST control FAIL: no connection to device-control on port %d\n0 passed, 1 failed\n",
            port);
        return 1;
    }
    const ULONGLONG busStart = GetTickCount64();
    if (!waitForService(L"winebus", 60000)) {
        std::printf(
            "GUEST-TEST hid-bus FAIL: Wine's HID bus did not start within 60 s\n0 passed, 1 failed\n");
        return 1;
    }
    std::printf("GUEST-INFO Wine's HID bus running after %llu ms\n", GetTickCount64() - busStart);

    // A message-only window for the notices, as the updater's window gets them.
    WNDCLASSW wc{};
    wc.lpfnWndProc = noticeWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"guest-hid-tests";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
    if (!window)
        std::printf("GUEST-INFO no message-only window (error %lu)\n", GetLastError());
    g_notices.registered = window && platform().registerNotices(window, nullptr);

    const std::vector<std::pair<const char*, void (*)()>> tests = {
        {"win-enumeration-by-ids", enumerationFindsTheDeviceByItsIds},
        {"win-feature-length-from-caps", featureLengthComesFromTheCaps},
        {"win-frames-and-replies", framesReachTheDeviceAndRepliesComeBack},
        {"win-back-to-back-reports", backToBackReportsArriveInOrder},
        {"win-notices-and-replug", noticesComeThroughDeviceChangeMessages},
        {"win-removal-ends-pending-read", removalEndsAPendingRead},
        {"win-upgrade", upgradeThroughTheBackend},
        {"win-unplug-during-dsp", unplugDuringDspEndsInError2},
    };
    int passed = 0;
    int ran = 0;
    for (const auto& [name, test] : tests) {
        if (std::strncmp(name, only.c_str(), only.size()) != 0)
            continue;
        ++ran;
        const ULONGLONG t = GetTickCount64();
        try {
            test();
            ++passed;
            std::printf("GUEST-TEST %s PASS (%llu ms)\n", name, GetTickCount64() - t);
        } catch (const Failure& f) {
            std::printf("GUEST-TEST %s FAIL: %s\n", name, f.message.c_str());
        }
    }
    g_control.ask("quit");
    const int failed = ran - passed;
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && ran > 0 ? 0 : 1;
}
