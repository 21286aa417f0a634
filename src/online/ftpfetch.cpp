#include "online/ftpfetch.h"

#include "online/ftpclient.h"

#include <QFile>

FtpFetch fetchWithFtpClient(const FtpServer& server, const QString& remote, const QString& localDir,
                            std::int64_t cap, std::chrono::steady_clock::time_point deadline)
{
    FtpFetch result;
    const QString local = localDir + QLatin1Char('/') + remote;
    const std::string name = remote.toUtf8().toStdString();
    // A download whose deadline has passed does not start another login.
    if (std::chrono::steady_clock::now() >= deadline) {
        result.why = QStringLiteral("server %1:%2, file %3: the download's deadline has passed")
                         .arg(server.address)
                         .arg(server.port)
                         .arg(remote);
        return result;
    }
    FtpClient client;
    client.SetServerInfo(server.address, server.user, server.password, server.port);
    client.SetDeadline(deadline);
    client.SetTransferCap(cap);
    client.Login(); // a failed login shows as a size the server never gave
    const int size = client.GetFileSize(name);
    result.announced = size;
    // A refusal in words (5xx) may only mean the server will not tell the
    // size: the file is asked for all the same (then kept to the cap), so
    // a server that refuses SIZE cannot make a .sha256 look absent. Silence
    // or a cut connection is a failure of the server; a size of 0 a file
    // that is there and empty.
    const auto refused = [&] { return !client.ReplyText().empty() && client.ReplyText()[0] == '5'; };
    if (size <= 0 && (size == 0 || !refused())) {
        result.outcome = size == 0 ? FtpFetch::Outcome::Missing : FtpFetch::Outcome::Failed;
        result.why =
            QStringLiteral("%1:%2 gave no size for %3").arg(server.address).arg(server.port).arg(remote);
        return result;
    }
    if (size > cap) {
        result.why = QStringLiteral("%1:%2 announces %3 bytes for %4, more than the %5 allowed")
                         .arg(server.address)
                         .arg(server.port)
                         .arg(size)
                         .arg(remote)
                         .arg(cap);
        return result;
    }
    client.DownloadFile(name, localDir.toUtf8().toStdString());
    const FtpClient::Transfer& t = client.LastTransfer();
    result.written = t.written;
    const QString expected = size < 0 ? QStringLiteral("no announced") : QString::number(size);
    if (size < 0 && !t.completed && t.written == 0 && refused()) {
        result.outcome = FtpFetch::Outcome::Missing; // RETR refused as well
        QFile::remove(local);
        result.why = QStringLiteral("%1:%2 has no %3").arg(server.address).arg(server.port).arg(remote);
        return result;
    }
    if (t.overLimit)
        result.why = QStringLiteral("sent more than the %1 bytes allowed").arg(size < 0 ? cap : size);
    else if (t.timedOut)
        result.why = QStringLiteral("timed out after %1 of %2 bytes").arg(t.written).arg(expected);
    else if (size < 0 ? !t.completed || t.written < 0 : t.written != size || t.announced != size)
        result.why = QStringLiteral("%1 of %2 bytes arrived").arg(t.written).arg(expected);
    else
        result.outcome = FtpFetch::Outcome::Ok;
    if (result.outcome != FtpFetch::Outcome::Ok) {
        result.why =
            QStringLiteral("server %1:%2, file %3: ").arg(server.address).arg(server.port).arg(remote) +
            result.why;
        QFile::remove(local);
    }
    return result;
}
