#include "online/ftpclient.h"

#include "online/ftpreply.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

void pause(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Local paths are UTF-8 byte strings; Windows needs them as wide text.
std::FILE* openLocal(const std::string& path, const char* mode)
{
#ifdef _WIN32
    auto widen = [](const std::string& text) {
        const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
        std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 1u, L'\0');
        if (n > 0)
            MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], n);
        return wide;
    };
    return _wfopen(widen(path).c_str(), widen(mode).c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

std::string withCode(const char* text, int code)
{
    return std::string(text) + " " + std::to_string(code);
}

} // namespace

FtpClient::FtpClient()
    : controlBuffer(new char[kBufferSize]())
    , dataBuffer(new char[kBufferSize]())
{}

FtpClient::~FtpClient()
{
    endSockets();
}

int FtpClient::SetServerInfo(const std::string& ip, const std::string& user, const std::string& pass,
                             int port)
{
    serverIp = ip;
    userName = user;
    password = pass;
    serverPort = port;
    return 1;
}

void FtpClient::closeData()
{
    if (dataSocket != sockshim::kNoSocket) {
        sockshim::closeSocket(dataSocket);
        dataSocket = sockshim::kNoSocket;
    }
}

void FtpClient::closeControl()
{
    if (controlSocket != sockshim::kNoSocket) {
        sockshim::closeSocket(controlSocket);
        controlSocket = sockshim::kNoSocket;
    }
}

void FtpClient::endSockets()
{
    closeData();
    closeControl();
    if (socketsStarted) {
        sockshim::cleanup();
        socketsStarted = false;
    }
}

bool FtpClient::connectWithTimeout(sockshim::Socket s, const char* failureText, bool traceCode)
{
    // Connect without blocking so that a server that never answers the SYN
    // costs at most the time-out, then go back to blocking sockets.
    int error = 0;
    if (!sockshim::setNonBlocking(s, true)) {
        error = sockshim::lastError();
    } else if (::connect(s, reinterpret_cast<const sockaddr*>(&serverAddr), sizeof serverAddr) != 0) {
        error = sockshim::lastError();
        if (sockshim::connectPending(error))
            error = sockshim::waitReady(s, true, waitBudget(timeoutMs)) ? sockshim::pendingError(s)
                                                                        : sockshim::kTimedOut;
    }
    if (error == 0 && !sockshim::setNonBlocking(s, false))
        error = sockshim::lastError();
    if (error != 0) {
        ftpTrace(traceCode ? withCode(failureText, error) : std::string(failureText));
        return false;
    }
    return true;
}

int FtpClient::Login()
{
    bool connected = false;
    if (!sockshim::startup()) {
        ftpTrace(withCode("Init Failed: ", sockshim::lastError()));
    } else {
        socketsStarted = true;
        closeControl();
        controlSocket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (controlSocket == sockshim::kNoSocket) {
            ftpTrace(withCode("Creating Control Socket Failed: ", sockshim::lastError()));
        } else {
            serverAddr = sockaddr_in{};
            serverAddr.sin_family = AF_INET;
            serverAddr.sin_port = htons(static_cast<std::uint16_t>(serverPort));
            if (inet_pton(AF_INET, serverIp.c_str(), &serverAddr.sin_addr) != 1)
                ftpTrace(withCode("Control Socket Connecting Failed: ", sockshim::kBadAddress));
            else
                connected = connectWithTimeout(controlSocket, "Control Socket Connecting Failed: ", true);
            if (!connected)
                closeControl();
        }
    }
    if (!connected) {
        sockshim::pauseConsole();
        return -1;
    }

    ftpTrace("Control Socket connecting is success.");
    pause(kGreetingPauseMs);
    std::string failure = "0";
    ReadReply(220, failure);

    std::string line = "USER " + userName;
    SendCommand(line);
    failure = "0";
    ReadReply(331, failure);
    line = "PASS " + password;
    SendCommand(line);
    failure = "0";
    if (ReadReply(230, failure) == 0) {
        // Images are binary: without this a server in ASCII mode refuses SIZE
        // and rewrites line ends on the way.
        line = "TYPE I";
        SendCommand(line);
        failure = "0";
        ReadReply(200, failure);
    }
    ListDirectory();
    return 0;
}

int FtpClient::SendCommand(std::string& line)
{
    line += "\r\n";
    ftpTrace(line);
    if (controlSocket != sockshim::kNoSocket &&
        sockshim::waitReady(controlSocket, true, waitBudget(timeoutMs)))
        sockshim::sendBytes(controlSocket, line.data(), line.size());
    return 0;
}

int FtpClient::ReadReply(int expectedCode, std::string& failureText)
{
    return readReplyAccepting(expectedCode, expectedCode, failureText);
}

int FtpClient::waitBudget(int timeout) const
{
    if (deadline == Clock::time_point::max())
        return timeout;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, std::min<long long>(timeout, left)));
}

int FtpClient::readReplyAccepting(int expectedCode, int alternativeCode, std::string& failureText)
{
    if (failureText.size() == 1)
        failureText = "state code error!";

    // A reply already held whole needs no pause and no receive.
    std::size_t length = ftpreply::replyLength(inbox.data(), inbox.data() + inbox.size());
    if (length == 0)
        pause(kReplyPauseMs);
    std::memset(controlBuffer.get(), 0, kBufferSize);
    controlLength = 0;
    replyText.clear();
    // One reply, however many receives it takes, within one time-out.
    const Clock::time_point replyEnd = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (length == 0) {
        // A reply and its terminator must fit the control buffer.
        if (inbox.size() >= kBufferSize - 1) {
            ftpTrace("ERROR! Too long information too receive!");
            inbox.clear();
            return -1;
        }
        if (controlSocket == sockshim::kNoSocket)
            return -1;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(replyEnd - Clock::now()).count();
        if (!sockshim::waitReady(controlSocket, false,
                                 waitBudget(static_cast<int>(std::max<long long>(0, left))))) {
            ftpTrace("Control Socket receiving timed out.");
            return -1;
        }
        char* room = controlBuffer.get();
        const int received = sockshim::receive(controlSocket, room, kBufferSize - 1 - inbox.size());
        if (received <= 0)
            return -1;
        inbox.append(room, static_cast<std::size_t>(received));
        length = ftpreply::replyLength(inbox.data(), inbox.data() + inbox.size());
        if (length == 0 && inbox.size() >= kBufferSize - 1) {
            ftpTrace("ERROR! Too long information too receive!");
            inbox.clear();
            return -1;
        }
    }
    // The reply is shorter than the buffer, so the terminator fits.
    std::memset(controlBuffer.get(), 0, kBufferSize);
    std::memcpy(controlBuffer.get(), inbox.data(), length);
    controlLength = length;
    inbox.erase(0, length);

    const char* begin = controlBuffer.get();
    const char* end = begin + controlLength;
    const int code = ftpreply::replyCode(begin, end);
    replyText.assign(begin, end);
    ftpTrace(replyText);

    if (code == expectedCode || code == alternativeCode)
        return 0;
    ftpTrace(failureText);
    return -1;
}

int FtpClient::readTransferStart(const char* failureText)
{
    // 125 says the data connection was already open; for a passive transfer
    // it means the same as 150.
    std::string failure = failureText;
    return readReplyAccepting(150, 125, failure);
}

int FtpClient::Quit()
{
    std::string line = "QUIT";
    SendCommand(line);
    std::string failure = "0";
    ReadReply(221, failure);
    std::memset(controlBuffer.get(), 0, kBufferSize);
    std::memset(dataBuffer.get(), 0, kBufferSize);
    controlLength = 0;
    endSockets();
    return 1;
}

int FtpClient::ParsePassivePort()
{
    return ftpreply::passivePort(controlBuffer.get(), controlBuffer.get() + controlLength);
}

int FtpClient::EnterPassiveMode()
{
    std::string line = "PASV";
    SendCommand(line);
    std::string failure = "0";
    ReadReply(227, failure);
    const int port = ParsePassivePort();

    closeData();
    // Without a control connection there is no address to go to.
    if (controlSocket != sockshim::kNoSocket)
        dataSocket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (dataSocket == sockshim::kNoSocket) {
        ftpTrace("Data Socket connecting Failed: ");
        return -1;
    }
    // Same address as the control connection; only the port changes.
    serverAddr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (!connectWithTimeout(dataSocket, "Data Socket connecting Failed: ", false)) {
        closeData();
        return -1;
    }
    ftpTrace("Data Socket connecting is success.");
    return 0;
}

int FtpClient::receiveData(char* buffer, std::size_t capacity)
{
    if (dataSocket == sockshim::kNoSocket)
        return -1;
    if (!sockshim::waitReady(dataSocket, false, waitBudget(timeoutMs))) {
        ftpTrace("Data Socket receiving timed out.");
        return -1;
    }
    return sockshim::receive(dataSocket, buffer, capacity);
}

bool FtpClient::sendAll(sockshim::Socket s, const char* data, std::size_t length)
{
    while (length > 0) {
        if (!sockshim::waitReady(s, true, waitBudget(timeoutMs)))
            return false;
        const int sent = sockshim::sendBytes(s, data, length);
        if (sent <= 0)
            return false;
        data += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

int FtpClient::ListDirectory()
{
    EnterPassiveMode();
    std::string line = "LIST -al";
    SendCommand(line);
    listing.clear();
    // A refused listing sends no data and no completion reply: waiting for
    // either would only run into the time-out.
    const bool started = readTransferStart("0") == 0;
    if (started) {
        std::memset(dataBuffer.get(), 0, kBufferSize);
        for (;;) {
            const int received = receiveData(dataBuffer.get(), kBufferSize - 1);
            if (received <= 0)
                break;
            dataBuffer[received] = '\0';
            // A listing is only looked at, never kept: a server that lists
            // without end is cut off here.
            if (listing.size() + static_cast<std::size_t>(received) > kListingCap) {
                ftpTrace("Data Socket listing longer than " + std::to_string(kListingCap) + " bytes.");
                break;
            }
            listing.append(dataBuffer.get(), static_cast<std::size_t>(received));
        }
    }
    closeData();
    if (started) {
        std::string failure = "0";
        ReadReply(226, failure);
    }
    return 0;
}

int FtpClient::GetFileSize(const std::string& name)
{
    std::string line = "SIZE " + name;
    SendCommand(line);
    std::string failure = "0";
    if (ReadReply(213, failure) != 0)
        return -1;
    const int size = ftpreply::sizeValue(controlBuffer.get(), controlBuffer.get() + controlLength);
    std::memset(controlBuffer.get(), 0, kBufferSize);
    controlLength = 0;
    return size;
}

int FtpClient::DownloadFile(const std::string& name, const std::string& localDir, std::int64_t* bytesWritten)
{
    transfer = Transfer{};
    // The directories on the way must exist; without the file the transfer
    // still runs and its data are dropped.
    std::FILE* file = openLocal(localDir + "/" + name, "wb");
    EnterPassiveMode();
    transfer.announced = GetFileSize(name);
    // Never more than announced, never more than the cap: a server that
    // streams on is cut off instead of filling the disk.
    const std::int64_t limit =
        transfer.announced >= 0 ? std::min<std::int64_t>(transfer.announced, transferCap) : transferCap;
    std::string line = "RETR " + name;
    SendCommand(line);
    std::int64_t written = 0;
    std::int64_t received = 0;
    bool dataEnded = false;
    const bool started = readTransferStart("0") == 0;
    if (started) {
        std::memset(dataBuffer.get(), 0, kBufferSize);
        for (;;) {
            if (dataSocket == sockshim::kNoSocket)
                break;
            if (!sockshim::waitReady(dataSocket, false, waitBudget(timeoutMs))) {
                ftpTrace("Data Socket receiving timed out.");
                transfer.timedOut = true;
                break;
            }
            const int n = sockshim::receive(dataSocket, dataBuffer.get(), kBufferSize);
            if (n <= 0) {
                dataEnded = n == 0;
                break;
            }
            received += n;
            if (received > limit) {
                ftpTrace("Data Socket sent more than " + std::to_string(limit) + " bytes for " + name + ".");
                transfer.overLimit = true;
                break;
            }
            if (file)
                written += static_cast<std::int64_t>(
                    std::fwrite(dataBuffer.get(), 1, static_cast<std::size_t>(n), file));
        }
    }
    if (file && std::fclose(file) != 0)
        written = -1; // the last bytes may not have reached the disk
    closeData();
    // After a cut-off the server has nothing sensible left to say.
    if (started && dataEnded) {
        std::string failure = "0";
        transfer.completed = ReadReply(226, failure) == 0;
    }
    transfer.written = written;
    if (bytesWritten)
        *bytesWritten = written;
    return 1;
}

int FtpClient::UploadFile(const std::string& localPath)
{
    std::FILE* file = openLocal(localPath, "rb");
    if (!file) {
        ftpTrace("fail to open the file!");
        return -1;
    }
    const std::size_t slash = localPath.rfind('/');
    const std::string remoteName = slash == std::string::npos ? localPath : localPath.substr(slash + 1);
    EnterPassiveMode();
    std::string line = "STOR " + remoteName;
    SendCommand(line);
    const bool started = readTransferStart("Permission denied.") == 0;
    if (started && dataSocket != sockshim::kNoSocket) {
        for (;;) {
            const std::size_t n = std::fread(dataBuffer.get(), 1, kBufferSize, file);
            if (n == 0 || !sendAll(dataSocket, dataBuffer.get(), n))
                break;
        }
    }
    std::fclose(file);
    closeData();
    if (started) {
        std::string failure = "0";
        ReadReply(226, failure);
    }
    ListDirectory();
    return 1;
}

int FtpClient::simpleCommand(const std::string& text, int expectedCode)
{
    std::string line = text;
    SendCommand(line);
    std::string failure = "0";
    ReadReply(expectedCode, failure);
    ListDirectory();
    return 0;
}

int FtpClient::ChangeDirectory(const std::string& dir)
{
    std::memset(controlBuffer.get(), 0, kBufferSize);
    controlLength = 0;
    return simpleCommand("CWD " + dir, 250);
}

int FtpClient::DeleteRemoteFile(const std::string& name)
{
    return simpleCommand("DELE " + name, 250);
}

int FtpClient::RemoveRemoteDirectory(const std::string& dir)
{
    return simpleCommand("RMD " + dir, 250);
}

int FtpClient::MakeRemoteDirectory(const std::string& dir)
{
    return simpleCommand("MKD " + dir, 257);
}

int FtpClient::RenameRemoteFile(const std::string& from, const std::string& to)
{
    std::string line = "RNFR " + from;
    SendCommand(line);
    std::string failure = "0";
    ReadReply(350, failure);
    return simpleCommand("RNTO " + to, 250);
}
