// Servers for the online-update tests, all on loopback and all stopped by
// their owner: the update server of scripts/ftp-server (pyftpdlib) serving
// a directory the test lays out, and a scripted server that answers each
// command with exactly the bytes a test gives it.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

// scripts/ftp-server on a free port, serving `root` as it stands.
class UpdateServerProcess {
public:
    explicit UpdateServerProcess(const QString& root);
    ~UpdateServerProcess();
    bool started() const { return port_ > 0; }
    int port() const { return port_; }

private:
    QProcess process_;
    int port_ = 0;
};

// A port on loopback that nothing listens on.
int closedLoopbackPort();

// Writes `data` to `path`, making the directories on the way.
bool writeFile(const QString& path, const QByteArray& data);
QByteArray readFile(const QString& path);

// Collects the debug log while it lives.
struct TraceCapture {
    TraceCapture();
    ~TraceCapture();
    QStringList lines() const;
    bool contains(const QString& line) const { return lines().contains(line); }
};

// Accepts control connections one after the other until finish() and plays
// a script: the greeting, then for each command line the reply bytes set for
// its verb; a kSegment byte in a greeting or reply splits it into segments
// sent 150 ms apart. PASV opens a data listener; LIST and RETR send their
// reply, then `data` on the data connection, close it and send the `after`
// bytes (names of companion files, ".sha256" and ".sig", are not there).
// With `files` set, CWD, PWD, SIZE and RETR answer from that tree
// instead, and RETR of `faultFile` misbehaves as `stream` says. A silent
// server accepts and never answers. Everything it waits for is bounded.
class ScriptedServer {
public:
    struct Reply {
        std::string before, after = "";
    };
    static constexpr char kSegment = '\v';
    enum class Stream {
        Whole,   // the file as it is
        Endless, // the file, then zeros without end (until the client leaves)
        Extra,   // the file, then 10 MB more
        Drip,    // one byte every 400 ms
        Cut,     // half the file, then the data connection is dropped
    };
    ScriptedServer();
    ~ScriptedServer();
    int port() const { return port_; }

    std::string greeting = "220 ready\r\n";
    bool silent = false;
    std::map<std::string, Reply> replies{{"USER", {"331 password please\r\n"}},
                                         {"PASS", {"230 logged in\r\n"}},
                                         {"TYPE", {"200 binary\r\n"}},
                                         {"LIST", {"150 listing\r\n", "226 listed\r\n"}},
                                         {"RETR", {"150 sending\r\n", "226 sent\r\n"}},
                                         {"SIZE", {"550 no such file\r\n"}},
                                         {"QUIT", {"221 bye\r\n"}}};
    std::string data;
    // Builds the 227 reply from the data listener's port.
    std::function<std::string(int)> passiveReply = [](int port) {
        return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
               std::to_string(port % 256) + ")\r\n";
    };

    std::map<std::string, std::string> files; // path below the root -> content
    std::string faultFile;
    Stream stream = Stream::Whole;
    long long announce = -1; // SIZE of faultFile: -1 its own size, -2 refused

    void start()
    {
        thread_ = std::thread([this] { serve(); });
    }
    // Stops accepting, waits for the client in progress to leave; the
    // command lines received.
    std::vector<std::string> finish();

private:
    void serve();
    void serveClient(int control);
    void sendFile(int dataSocket, const std::string& path);
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::vector<std::string> commands_;
};
