// The tests under Wine inside the Windows guest
// (scripts/guest/run-windows-tests): the backend checks of conformance.h
// against the Windows HID backend (SetupAPI, hid.dll, overlapped reads,
// WM_DEVICECHANGE notices), with virtual-hid-uhid as the device, which
// Wine's HID bus presents as a Windows HID device. Wine cannot start the
// Linux device program: scripts/guest/device-control.py starts and commands
// it over loopback TCP.
#define __USE_MINGW_ANSI_STDIO 1 // %llu in printf
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <dbt.h>

#include "conformance.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// virtual-hid-uhid (a Linux program) dumps its images into /tmp/windows-tests,
// which Wine sees as Z:\tmp\windows-tests.
class WineProvider : public conformance::UhidProvider {
public:
    WineProvider()
        : UhidProvider("/tmp/windows-tests", "Z:\\tmp\\windows-tests\\")
    {
        unplugBeforeStop_ = true;
        CreateDirectoryA("Z:\\tmp\\windows-tests", nullptr);
        // A message-only window for the notices, as the updater's window gets them.
        WNDCLASSW wc{};
        wc.lpfnWndProc = &WineProvider::windowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"guest-windows-tests";
        RegisterClassW(&wc);
        window_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    // The connection to device-control.py, which commands the device.
    bool connect(int port)
    {
        // device-control.py may still be starting: retry for up to 20 s.
        for (int attempt = 0; attempt < 100; ++attempt) {
            sock_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<u_short>(port));
            inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
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
    HidPlatform& hid() override { return *nativeHidPlatform(); }
    // Runs the thread's window messages: the notices come as sent
    // WM_DEVICECHANGE messages, handled while waiting here.
    void pump(int ms) override
    {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(ms), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    bool registerNotices(HidPlatform::NoticeSink sink) override
    {
        sink_ = std::move(sink);
        return window_ && hid().registerNotices(window_, nullptr);
    }
    // Windows ends the read with 1167, Wine with 5 (access denied): the
    // backend must report either as the device's removal, 1167.
    std::string removalError() override
    {
        const DWORD error = GetLastError();
        return error == ERROR_DEVICE_NOT_CONNECTED ? std::string()
                                                   : "the read failed with error " + std::to_string(error) +
                                                         ", not as a removal (" + hid().lastError() + ")";
    }
    // Wine may take a while to follow the bus (on a loaded machine, seconds).
    int listWaitMs() const override { return 30000; }

    std::string ask(const std::string& line) override
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
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<WineProvider*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        MSG msg{};
        msg.hwnd = hwnd;
        msg.message = message;
        msg.wParam = wParam;
        msg.lParam = lParam;
        HidNoticeKind kind;
        std::string path;
        if (self && self->sink_ && self->hid().translateNativeMessage(&msg, &kind, &path))
            self->sink_(kind, path);
        return message == WM_DEVICECHANGE ? TRUE : DefWindowProcW(hwnd, message, wParam, lParam);
    }

    SOCKET sock_ = INVALID_SOCKET;
    HWND window_ = nullptr;
    HidPlatform::NoticeSink sink_;
};

// Waits until the service `name` runs; Wine starts its HID bus (winebus)
// through plugplay some seconds after the first Wine process of the guest.
bool waitForService(const wchar_t* name, DWORD timeoutMs)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    bool running = false;
    for (DWORD waited = 0; !running && waited < timeoutMs; waited += 100) {
        SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
        SERVICE_STATUS status{};
        running = service && QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
        if (service)
            CloseServiceHandle(service);
        if (!running)
            Sleep(100);
    }
    CloseServiceHandle(manager);
    return running;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    int port = 0;
    std::string only; // --only PREFIX: the checks whose names start with it
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--control-port") == 0)
            port = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--only") == 0)
            only = argv[i + 1];
    }
    conformance::Runner runner(only);
    WineProvider provider;
    WSADATA wsa;
    const ULONGLONG busStart = GetTickCount64();
    const std::string why = port <= 0 || WSAStartup(MAKEWORD(2, 2), &wsa) != 0 || !provider.connect(port)
                                ? "no connection to device-control on port " + std::to_string(port)
                            : !waitForService(L"winebus", 60000) ? "Wine's HID bus did not start within 60 s"
                                                                 : std::string();
    if (!why.empty()) {
        runner.test("setup", [&] { conformance::require(false, why); });
        return runner.summary();
    }
    std::printf("GUEST-INFO device-control connected and Wine's HID bus running after %llu ms\n",
                GetTickCount64() - busStart);
    conformance::run(provider, runner, "win-");
    provider.ask("quit");
    return runner.summary();
}
