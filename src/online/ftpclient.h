// The updater's own blocking FTP client: one control connection, passive
// data connections to the control connection's address, and the handful of
// commands the online update needs. One object serves one download: created,
// given the server, logged in, asked for a file, destroyed. Every command
// sent, every reply received and every failure is traced through
// ftpTrace(), escaped (core/terminaltext.h). The client is free of Qt; the
// QString convenience overload and the trace sink's Qt implementation live
// in ftpclient_qt.cpp.
#pragma once

#include "online/socketshim.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class QString;

// One line of the client's debug trace. Implemented on top of qDebug.
// Server text in it is escaped there, the protocol's CR LF at its end left out.
void ftpTrace(const std::string& text);

class FtpClient {
public:
    static constexpr int kControlPort = 21;
    static constexpr std::size_t kBufferSize = 1000;
    static constexpr int kGreetingPauseMs = 300;
    static constexpr int kReplyPauseMs = 50;
    // No connect and no receive waits longer than this for the peer.
    static constexpr int kDefaultTimeoutMs = 5000;
    // The longest directory listing kept.
    static constexpr std::size_t kListingCap = 1 << 20;

    FtpClient();
    ~FtpClient();
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    // Stores the server and the login. Always 1.
    int SetServerInfo(const std::string& serverIp, const std::string& userName, const std::string& password,
                      int port = kControlPort);
    int SetServerInfo(const QString& serverIp, const QString& userName, const QString& password,
                      int port = kControlPort);

    using Clock = std::chrono::steady_clock;

    // The longest wait for a connect, a reply or a block of data.
    void SetTimeout(int milliseconds) { timeoutMs = milliseconds; }
    // No wait of any kind goes past this point in time: a server that
    // answers each receive just in time still cannot hold the caller longer.
    void SetDeadline(Clock::time_point until) { deadline = until; }
    // The most bytes a download keeps, whatever the server announces.
    void SetTransferCap(std::int64_t bytes) { transferCap = bytes; }

    // How the last DownloadFile went.
    struct Transfer {
        std::int64_t announced = -1; // the size the server gave, -1 for none
        std::int64_t written = 0;    // bytes that reached the local file, -1 for a write error
        bool overLimit = false;      // more data than announced, or than the cap
        bool timedOut = false;       // the deadline or a receive's time-out ended it
        bool completed = false;      // the data connection ended and 226 followed
    };
    const Transfer& LastTransfer() const { return transfer; }

    // 0 once the control connection is up (whatever the server answers to
    // the login), -1 when it could not be made.
    int Login();
    // Appends CR LF to `line`, traces it and sends it. Always 0.
    int SendCommand(std::string& line);
    // Reads one whole reply, single or multi-line, however its bytes arrive;
    // bytes behind it wait for the next call. 0 when its code is
    // `expectedCode`; -1 otherwise, with `failureText` traced, and -1 when no
    // whole reply arrives in time or it would not fit the control buffer. A
    // one-character `failureText` is first replaced by "state code error!".
    int ReadReply(int expectedCode, std::string& failureText);
    // QUIT, then both connections closed. Always 1.
    int Quit();

    // Passive data connection: 0 when connected, -1 otherwise.
    int EnterPassiveMode();
    // The data port named by the 227 reply held in the control buffer.
    int ParsePassivePort();
    // Lists the current directory and discards the listing. Always 0.
    int ListDirectory();
    // Size from the 213 reply; -1 for any other reply.
    int GetFileSize(const std::string& name);
    // Fetches `name` into localDir + "/" + name, keeping at most the size
    // the server announces and never more than the transfer cap. Always 1;
    // `bytesWritten`, when given, receives the number of bytes that reached
    // the local file; LastTransfer() tells the rest.
    int DownloadFile(const std::string& name, const std::string& localDir,
                     std::int64_t* bytesWritten = nullptr);
    // Stores the local file under its own name. 1, or -1 when it cannot be
    // opened.
    int UploadFile(const std::string& localPath);
    int ChangeDirectory(const std::string& dir);
    int DeleteRemoteFile(const std::string& name);
    int RemoveRemoteDirectory(const std::string& dir);
    int RenameRemoteFile(const std::string& from, const std::string& to);
    int MakeRemoteDirectory(const std::string& dir);

    // The text of the last reply, as received.
    const std::string& ReplyText() const { return replyText; }
    // The text of the last directory listing.
    const std::string& LastListing() const { return listing; }

private:
    int readReplyAccepting(int expectedCode, int alternativeCode, std::string& failureText);
    int readTransferStart(const char* failureText);
    int simpleCommand(const std::string& line, int expectedCode);
    bool connectWithTimeout(sockshim::Socket s, const char* failureText, bool withCode);
    bool sendAll(sockshim::Socket s, const char* data, std::size_t length);
    int receiveData(char* buffer, std::size_t capacity);
    // The time a wait may take now: the time-out, cut short by the deadline.
    int waitBudget(int timeout) const;
    void closeData();
    void closeControl();
    void endSockets();

    sockaddr_in serverAddr{};
    std::string serverIp;
    std::string userName;
    std::string password;
    std::unique_ptr<char[]> controlBuffer;
    std::unique_ptr<char[]> dataBuffer;
    sockshim::Socket controlSocket = sockshim::kNoSocket;
    sockshim::Socket dataSocket = sockshim::kNoSocket;
    std::string replyText;
    // Control bytes received behind the last complete reply; the next
    // ReadReply starts with them.
    std::string inbox;

    std::string listing;
    int serverPort = kControlPort;
    int timeoutMs = kDefaultTimeoutMs;
    Clock::time_point deadline = Clock::time_point::max();
    std::int64_t transferCap = INT64_MAX;
    Transfer transfer;
    std::size_t controlLength = 0; // bytes of the last receive in controlBuffer
    bool socketsStarted = false;
};
