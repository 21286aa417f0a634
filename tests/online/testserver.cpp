#include "testserver.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int kWaitMs = 10000;

int listenLoopback(int* port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s >= 0 && (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 4) != 0 ||
                   ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length) != 0)) {
        ::close(s);
        s = -1;
    }
    *port = s < 0 ? 0 : ntohs(addr.sin_port);
    return s;
}

bool readable(int s)
{
    pollfd p{s, POLLIN, 0};
    return ::poll(&p, 1, kWaitMs) == 1;
}

void sendAll(int s, const std::string& bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::send(s, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

QMutex g_traceMutex;
QStringList g_trace;
QtMessageHandler g_previous = nullptr;
} // namespace

UpdateServerProcess::UpdateServerProcess(const QString& root)
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start("/usr/bin/python3",
                   {UPDATER_SOURCE_DIR "/scripts/ftp-server", "--port", "0", "--root", root});
    QByteArray out;
    while (process_.waitForStarted(kWaitMs) && !out.contains('\n') && process_.waitForReadyRead(kWaitMs))
        out += process_.readAllStandardOutput();
    if (out.startsWith("port "))
        port_ = out.mid(5, out.indexOf('\n') - 5).trimmed().toInt();
}

UpdateServerProcess::~UpdateServerProcess()
{
    process_.kill(); // the server keeps nothing that needs a clean stop
    process_.waitForFinished(kWaitMs);
}

int closedLoopbackPort()
{
    int port = 0;
    ::close(listenLoopback(&port)); // closing -1 does no harm
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
    g_previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& line) {
            QMutexLocker lock(&g_traceMutex);
            g_trace << line;
            if (type != QtDebugMsg && g_previous)
                g_previous(type, context, line);
        });
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

ScriptedServer::ScriptedServer()
{
    listener_ = listenLoopback(&port_);
}

ScriptedServer::~ScriptedServer()
{
    finish();
    if (listener_ >= 0)
        ::close(listener_);
}

std::vector<std::string> ScriptedServer::finish()
{
    if (thread_.joinable())
        thread_.join();
    return commands_;
}

void ScriptedServer::serve()
{
    const int control = readable(listener_) ? ::accept(listener_, nullptr, nullptr) : -1;
    if (control < 0)
        return;
    if (!silent)
        sendAll(control, greeting);
    int dataListener = -1;
    std::string pending;
    char buffer[4096];
    ssize_t n;
    while (readable(control) && (n = ::recv(control, buffer, sizeof buffer, 0)) > 0) {
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find("\r\n")) != std::string::npos;) {
            const std::string line = pending.substr(0, end), verb = line.substr(0, line.find(' '));
            pending.erase(0, end + 2);
            commands_.push_back(line);
            const auto reply = replies.find(verb);
            if (silent)
                continue;
            if (verb == "PASV") {
                if (dataListener >= 0)
                    ::close(dataListener);
                int dataPort = 0;
                dataListener = listenLoopback(&dataPort);
                sendAll(control, passiveReply(dataPort));
            } else if (reply == replies.end()) {
                sendAll(control, "502 not here\r\n");
            } else {
                sendAll(control, reply->second.before);
                const int dataSocket =
                    (verb == "LIST" || verb == "RETR") && dataListener >= 0 && readable(dataListener)
                        ? ::accept(dataListener, nullptr, nullptr)
                        : -1;
                if (dataSocket >= 0) {
                    sendAll(dataSocket, data);
                    ::close(dataSocket);
                }
                sendAll(control, reply->second.after);
            }
        }
    }
    if (dataListener >= 0)
        ::close(dataListener);
    ::close(control);
}
