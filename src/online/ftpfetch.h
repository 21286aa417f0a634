// One file from the update server through the updater's own FTP client,
// bounded: the fetch ends by the deadline, keeps no more than the server
// announced nor more than the cap, and leaves no partial file behind. A
// file whose size the server refuses to tell is fetched all the same (up to
// the cap, whole only when the server confirms the end), as libcurl does:
// it is missing only when RETR is refused too.
#pragma once

#include <QString>

#include <chrono>
#include <cstdint>

struct FtpServer {
    QString address;
    int port = 21;
    QString user, password;
};

struct FtpFetch {
    enum class Outcome {
        Ok,      // the announced size arrived, exactly
        Missing, // the server has no such file (SIZE and RETR refused, or a size of 0)
        Failed,  // anything else; `why` says what
    };
    Outcome outcome = Outcome::Failed;
    std::int64_t announced = -1;
    std::int64_t written = 0;
    QString why;
};

// Fetches `remote` into localDir + "/" + remote.
FtpFetch fetchWithFtpClient(const FtpServer& server, const QString& remote, const QString& localDir,
                            std::int64_t cap, std::chrono::steady_clock::time_point deadline);
