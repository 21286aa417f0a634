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
#include <mutex>
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

// Writes `data` to root + "/" + name, making the directories on the way.
bool writeFile(const QString& path, const QByteArray& data);
QByteArray readFile(const QString& path);

// Collects the debug log while it lives.
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    QStringList lines() const;
    bool contains(const QString& line) const { return lines().contains(line); }
    bool anyStartsWith(const QString& prefix) const;
};

// Accepts one control connection and plays a script: the greeting, then for
// each command line the reply bytes set for its verb. PASV opens a data
// listener; LIST and RETR send their reply, then `data` on the data
// connection, close it and send the `after` bytes. A silent server accepts
// and never answers. Everything it waits for is bounded.
class ScriptedServer {
public:
    struct Reply {
        std::string before;
        std::string after;
    };

    ScriptedServer();
    ~ScriptedServer();
    int port() const { return port_; }

    std::string greeting = "220 ready\r\n";
    bool silent = false;
    std::map<std::string, Reply> replies;
    std::string data;
    // Builds the 227 reply from the data listener's port.
    std::function<std::string(int)> passiveReply;

    void start();
    // Waits for the client to leave; the command lines received.
    std::vector<std::string> finish();

private:
    void serve();
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::vector<std::string> commands_;
};
