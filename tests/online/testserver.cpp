#include "testserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace {
constexpr int kWaitMs = 10000;

int listenLoopback(int* port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 4) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        if (s >= 0)
            ::close(s);
        return -1;
    }
    *port = ntohs(addr.sin_port);
    return s;
}

bool readable(int s, int timeoutMs)
{
    pollfd p{s, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1;
}

int acceptWithin(int listener, int timeoutMs)
{
    return readable(listener, timeoutMs) ? ::accept(listener, nullptr, nullptr) : -1;
}

void sendAll(int s, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(s, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

QMutex g_traceMutex;
QStringList g_trace;
QtMessageHandler g_previous = nullptr;

void collect(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    {
        QMutexLocker lock(&g_traceMutex);
        g_trace << message;
    }
    if (type != QtDebugMsg && g_previous)
        g_previous(type, context, message);
}
} // namespace

UpdateServerProcess::UpdateServerProcess(const QString& root)
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral(UPDATER_SOURCE_DIR "/scripts/ftp-server"), QStringLiteral("--port"),
                    QStringLiteral("0"), QStringLiteral("--root"), root});
    if (!process_.waitForStarted(kWaitMs))
        return;
    QByteArray out;
    while (!out.contains('\n') && process_.waitForReadyRead(kWaitMs))
        out += process_.readAllStandardOutput();
    if (out.startsWith("port "))
        port_ = out.mid(5, out.indexOf('\n') - 5).trimmed().toInt();
}

UpdateServerProcess::~UpdateServerProcess()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(kWaitMs)) {
        process_.kill();
        process_.waitForFinished(kWaitMs);
    }
}

int closedLoopbackPort()
{
    int port = 0;
    const int s = listenLoopback(&port);
    if (s >= 0)
        ::close(s);
    return port;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TraceCapture::TraceCapture()
{
    QMutexLocker lock(&g_traceMutex);
    g_trace.clear();
    g_previous = qInstallMessageHandler(collect);
}

TraceCapture::~TraceCapture()
{
    qInstallMessageHandler(g_previous);
}

QStringList TraceCapture::lines() const
{
    QMutexLocker lock(&g_traceMutex);
    return g_trace;
}

bool TraceCapture::anyStartsWith(const QString& prefix) const
{
    const QStringList all = lines();
    for (const QString& line : all) {
        if (line.startsWith(prefix))
            return true;
    }
    return false;
}

ScriptedServer::ScriptedServer()
{
    listener_ = listenLoopback(&port_);
    replies["USER"] = {"331 password please\r\n", ""};
    replies["PASS"] = {"230 logged in\r\n", ""};
    replies["TYPE"] = {"200 binary\r\n", ""};
    replies["LIST"] = {"150 listing\r\n", "226 listed\r\n"};
    replies["RETR"] = {"150 sending\r\n", "226 sent\r\n"};
    replies["SIZE"] = {"550 no such file\r\n", ""};
    replies["QUIT"] = {"221 bye\r\n", ""};
    passiveReply = [](int port) {
        return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
               std::to_string(port % 256) + ")\r\n";
    };
}

ScriptedServer::~ScriptedServer()
{
    finish();
    if (listener_ >= 0)
        ::close(listener_);
}

void ScriptedServer::start()
{
    thread_ = std::thread([this] { serve(); });
}

std::vector<std::string> ScriptedServer::finish()
{
    if (thread_.joinable())
        thread_.join();
    return commands_;
}

void ScriptedServer::serve()
{
    const int control = acceptWithin(listener_, kWaitMs);
    if (control < 0)
        return;
    if (!silent)
        sendAll(control, greeting);
    int dataListener = -1;
    std::string pending;
    char buffer[4096];
    while (readable(control, kWaitMs)) {
        const ssize_t n = ::recv(control, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = pending.find("\r\n")) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 2);
            commands_.push_back(line);
            if (silent)
                continue;
            const std::string verb = line.substr(0, line.find(' '));
            if (verb == "PASV") {
                if (dataListener >= 0)
                    ::close(dataListener);
                int dataPort = 0;
                dataListener = listenLoopback(&dataPort);
                sendAll(control, passiveReply(dataPort));
                continue;
            }
            const auto reply = replies.find(verb);
            if (reply == replies.end()) {
                sendAll(control, "502 not here\r\n");
                continue;
            }
            sendAll(control, reply->second.before);
            if ((verb == "LIST" || verb == "RETR") && dataListener >= 0) {
                const int dataSocket = acceptWithin(dataListener, kWaitMs);
                if (dataSocket >= 0) {
                    sendAll(dataSocket, data);
                    ::close(dataSocket);
                }
            }
            sendAll(control, reply->second.after);
        }
    }
    if (dataListener >= 0)
        ::close(dataListener);
    ::close(control);
}
