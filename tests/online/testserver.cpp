#include "testserver.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>

#include <algorithm>
#include <chrono>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
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
    ::close(listener_); // closing -1 does no harm
}

std::vector<std::string> ScriptedServer::finish()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    return commands_;
}

namespace {
// Readable within the wait, checking `stop` every 100 ms: once it is set,
// a socket with nothing to read counts as finished.
bool readableUnlessStopped(int s, const std::atomic<bool>& stop)
{
    for (int waited = 0; waited < kWaitMs; waited += 100) {
        pollfd p{s, POLLIN, 0};
        if (::poll(&p, 1, 100) == 1)
            return true;
        if (stop)
            return false;
    }
    return false;
}

// The script's bytes, one segment at a time.
void sendScripted(int s, const std::string& bytes)
{
    std::size_t from = 0;
    for (std::size_t at; (at = bytes.find(ScriptedServer::kSegment, from)) != std::string::npos;
         from = at + 1) {
        sendAll(s, bytes.substr(from, at - from));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    sendAll(s, bytes.substr(from));
}

std::string normalPath(const std::string& cwd, const std::string& name)
{
    const std::string path = name.rfind('/', 0) == 0 ? name : cwd + "/" + name;
    return path.substr(std::min(path.find_first_not_of('/'), path.size()));
}
} // namespace

void ScriptedServer::serve()
{
    // The first client may take its time; later ones follow at once.
    for (int control;
         readableUnlessStopped(listener_, stop_) && (control = ::accept(listener_, nullptr, nullptr)) >= 0;)
        serveClient(control);
}

void ScriptedServer::sendFile(int dataSocket, const std::string& path)
{
    const std::string& content = files.at(path);
    // A client that stops reading must not hold the server for long.
    const timeval sendWait{2, 0};
    ::setsockopt(dataSocket, SOL_SOCKET, SO_SNDTIMEO, &sendWait, sizeof sendWait);
    const Stream how = path == faultFile ? stream : Stream::Whole;
    const linger reset{how == Stream::Cut, 0}; // a cut connection is dropped, not ended
    ::setsockopt(dataSocket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    const auto started = std::chrono::steady_clock::now();
    const auto more = [&](const char* bytes, std::size_t n) {
        return !stop_ && std::chrono::steady_clock::now() - started < std::chrono::seconds(30) &&
               ::send(dataSocket, bytes, n, MSG_NOSIGNAL) > 0;
    };
    if (how == Stream::Drip) {
        for (std::size_t i = 0; i < content.size() && more(content.data() + i, 1); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        return;
    }
    sendAll(dataSocket, how == Stream::Cut ? content.substr(0, content.size() / 2) : content);
    const std::string zeros(64 * 1024, '\0');
    for (long long sent = 0; (how == Stream::Endless || (how == Stream::Extra && sent < 10 * 1000 * 1000)) &&
                             more(zeros.data(), zeros.size());)
        sent += long(zeros.size());
}

void ScriptedServer::serveClient(int control)
{
    if (!silent)
        sendScripted(control, greeting);
    int dataListener = -1;
    std::string pending, cwd;
    char buffer[4096];
    ssize_t n;
    while (readableUnlessStopped(control, stop_) && (n = ::recv(control, buffer, sizeof buffer, 0)) > 0) {
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find("\r\n")) != std::string::npos;) {
            const std::string line = pending.substr(0, end), verb = line.substr(0, line.find(' '));
            const std::string argument = line.size() > verb.size() ? line.substr(verb.size() + 1) : "";
            pending.erase(0, end + 2);
            commands_.push_back(line);
            const auto reply = replies.find(verb);
            if (silent)
                continue;
            const std::string path = normalPath(cwd, argument);
            const bool fromFiles = !files.empty() && (verb == "SIZE" || verb == "RETR");
            // Without `files`, no companion file (digest, signature) is on the server.
            const QByteArray name = QByteArray::fromStdString(path);
            const bool isAbsent = files.empty() && (verb == "SIZE" || verb == "RETR") &&
                                  (name.endsWith(".sha256") || name.endsWith(".sig"));
            if (verb == "PASV") {
                ::close(dataListener);
                int dataPort = 0;
                dataListener = listenLoopback(&dataPort);
                sendAll(control, passiveReply(dataPort));
            } else if (!files.empty() && verb == "PWD") {
                sendAll(control, "257 \"/" + cwd + "\" is the current directory\r\n");
            } else if (!files.empty() && verb == "CWD") {
                const bool exists =
                    path.empty() || std::any_of(files.begin(), files.end(), [&](const auto& f) {
                        return f.first.rfind(path + "/", 0) == 0;
                    });
                if (exists)
                    cwd = path;
                sendAll(control, exists ? "250 directory changed\r\n" : "550 no such directory\r\n");
            } else if (isAbsent || (fromFiles && !files.count(path))) {
                sendAll(control, "550 no such file\r\n");
            } else if (fromFiles && verb == "SIZE") {
                const long long size =
                    path == faultFile && announce != -1 ? announce : (long long)files[path].size();
                sendScripted(control,
                             size == -2 ? "550 size refused\r\n" : "213 " + std::to_string(size) + "\r\n");
            } else if (reply == replies.end()) {
                sendAll(control, "502 not here\r\n");
            } else {
                sendScripted(control, reply->second.before);
                const int dataSocket = (verb == "LIST" || verb == "RETR") && dataListener >= 0 &&
                                               readableUnlessStopped(dataListener, stop_)
                                           ? ::accept(dataListener, nullptr, nullptr)
                                           : -1;
                if (dataSocket >= 0) {
                    if (fromFiles)
                        sendFile(dataSocket, path);
                    else
                        sendAll(dataSocket, data);
                    ::close(dataSocket);
                }
                const bool aborted = fromFiles && path == faultFile && stream != Stream::Whole;
                sendScripted(control, aborted ? "426 transfer aborted\r\n" : reply->second.after);
            }
        }
    }
    ::close(dataListener);
    ::close(control);
}
