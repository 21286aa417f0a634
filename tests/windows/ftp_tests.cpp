// The FTP client on Winsock, run under Wine on the host (scripts/wine-ftp-
// tests) against the loopback update server scripts/ftp-server serves:
// login and listing, a refused login, byte-exact downloads, and a server
// that accepts the connection and never answers, bounded by the time-out.
// The Linux build runs the same client on BSD sockets in tst_ftpclient.
//
// Prints "WINE-TEST <name> PASS" or "WINE-TEST <name> FAIL: why" per test and
// ends with "N passed, M failed".
#define __USE_MINGW_ANSI_STDIO 1 // %lld in printf
#include "online/ftpclient.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_trace;

struct Failure {
    std::string message;
};

#define CHECK(cond, msg)                                                                                     \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            throw Failure{std::string(msg) + " (line " + std::to_string(__LINE__) + ")"};                    \
    } while (0)

int g_port = 0;
std::string g_root;  // the server's directory, as a Windows path
std::string g_local; // where downloads go, as a Windows path

bool traced(const std::string& line)
{
    return std::find(g_trace.begin(), g_trace.end(), line) != g_trace.end();
}

// The file's bytes (at most 4 MiB), or "missing" when it cannot be opened.
std::string readFile(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return "missing";
    std::string out;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0 && out.size() < (4u << 20);)
        out.append(buf, n);
    std::fclose(f);
    return out;
}

void login(FtpClient& client, int port, const char* password = "qzx", int timeoutMs = 1000)
{
    client.SetServerInfo(std::string("127.0.0.1"), "ftp", password, port);
    client.SetTimeout(timeoutMs);
    CHECK(client.Login() == 0, "no control connection to 127.0.0.1:" + std::to_string(port));
}

void loginAndListing()
{
    FtpClient client;
    login(client, g_port);
    CHECK(client.LastListing().find("f2000.bin") != std::string::npos, "f2000.bin not in the listing");
    CHECK(client.GetFileSize("f2000.bin") == 2000, "SIZE of f2000.bin is not 2000");
    CHECK(client.Quit() == 1 && client.ReplyText().rfind("221", 0) == 0, "QUIT not answered with 221");
    // A wrong password: the client stays connected; every command is refused with 530.
    FtpClient refused;
    login(refused, g_port, "wrong");
    CHECK(refused.GetFileSize("f2000.bin") == -1, "SIZE answered without a login");
    CHECK(refused.ReplyText().rfind("530", 0) == 0, "not refused with 530: " + refused.ReplyText());
}

void downloadsAreByteExact()
{
    FtpClient client;
    login(client, g_port);
    for (int size : {0, 1, 2000, 1 << 20}) {
        const std::string name = "f" + std::to_string(size) + ".bin";
        std::int64_t written = -2;
        CHECK(client.DownloadFile(name, g_local, &written) == 1, name + ": download failed");
        const std::string want = readFile(g_root + "/" + name), got = readFile(g_local + "/" + name);
        CHECK(written == size && got == want && want.size() == std::size_t(size),
              name + ": " + std::to_string(written) + " bytes written, " + std::to_string(got.size()) +
                  " read back, not the server's " + std::to_string(want.size()));
    }
}

void silentServerIsBounded()
{
    // A listening socket that never accepts: the connection completes in
    // the backlog and no byte ever comes.
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof a;
    CHECK(listener != INVALID_SOCKET && bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              listen(listener, 4) == 0 &&
              getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length) == 0,
          "no silent listener");
    const ULONGLONG start = GetTickCount64();
    {
        FtpClient client;
        login(client, ntohs(a.sin_port), "qzx", 200);
        CHECK(client.GetFileSize("image.bin") == -1, "a size from a silent server");
        CHECK(traced("Control Socket receiving timed out."), "the time-out was not traced");
    }
    closesocket(listener);
    std::printf("WINE-INFO the silent server took %llu ms\n", GetTickCount64() - start);
}

} // namespace

void ftpTrace(const std::string& text)
{
    if (g_trace.size() < 10000)
        g_trace.push_back(text);
}

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--port") == 0)
            g_port = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--root") == 0)
            g_root = argv[i + 1];
        else if (std::strcmp(argv[i], "--local") == 0)
            g_local = argv[i + 1];
    }
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        std::printf("WINE-TEST winsock FAIL: WSAStartup failed\n0 passed, 1 failed\n");
        return 1;
    }
    const struct {
        const char* name;
        void (*test)();
    } tests[] = {
        {"winsock-login-and-listing", loginAndListing},
        {"winsock-download-byte-exact", downloadsAreByteExact},
        {"winsock-silent-server-bounded", silentServerIsBounded},
    };
    int passed = 0;
    for (const auto& t : tests) {
        g_trace.clear();
        try {
            t.test();
            ++passed;
            std::printf("WINE-TEST %s PASS\n", t.name);
        } catch (const Failure& f) {
            std::printf("WINE-TEST %s FAIL: %s\n", t.name, f.message.c_str());
        }
    }
    const int failed = int(sizeof tests / sizeof tests[0]) - passed;
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
