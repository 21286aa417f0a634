// Download throughput from an update server on loopback (scripts/ftp-server):
// a 16 MiB file through the updater's FTP client, through libcurl with the
// updater's write callback, and through the curl command-line tool, in MB/s
// side by side; and the time of a 1 KiB download through the FTP client,
// whose floor is the client's fixed pauses (300 ms before the greeting, 50
// ms before every reply).
#include "online/curlfetch.h"
#include "online/ftpclient.h"
#include "testserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {
constexpr int kRuns = 3;
constexpr int kBigSize = 16 << 20;

// Median of kRuns timings in seconds; the check runs after each.
double medianSeconds(const std::function<bool()>& run)
{
    std::vector<double> seconds;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer clock;
        clock.start();
        const bool ok = run();
        seconds.push_back(clock.nsecsElapsed() / 1e9);
        if (!ok)
            return -1;
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[kRuns / 2];
}

// `retrSeconds`, when given, receives the time of DownloadFile alone.
bool ftpClientFetch(int port, const char* name, const QString& dir, int size, double* retrSeconds = nullptr)
{
    FtpClient client;
    client.SetServerInfo(std::string("127.0.0.1"), "ftp", "qzx", port);
    client.Login();
    if (client.GetFileSize(name) != size)
        return false;
    std::int64_t written = 0;
    QElapsedTimer clock;
    clock.start();
    client.DownloadFile(name, dir.toStdString(), &written);
    if (retrSeconds)
        *retrSeconds = clock.nsecsElapsed() / 1e9;
    return written == size;
}

// The client's trace would drown the figures.
void dropDebug(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

bool libcurlFetch(int port, const char* name, const QString& dir, int size)
{
    const QByteArray url = updateUrl(QStringLiteral("127.0.0.1"), port, QString::fromLatin1(name)).toLatin1();
    const QByteArray local = (dir + QLatin1Char('/') + QLatin1String(name)).toLocal8Bit();
    QFile::remove(QString::fromLocal8Bit(local)); // the write callback makes a new file only
    UrlFetchFile target;
    target.fileName = local.constData();
    CURL* handle = curl_easy_init();
    if (!handle)
        return false;
    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &WriteToFile);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &target);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kCurlTimeoutSeconds);
    const CURLcode result = curl_easy_perform(handle);
    curl_easy_cleanup(handle);
    if (target.stream)
        std::fclose(target.stream);
    return result == CURLE_OK && QFileInfo(QString::fromLocal8Bit(local)).size() == size;
}

bool curlToolFetch(int port, const char* name, const QString& dir, int size)
{
    const QString local = dir + QLatin1Char('/') + QLatin1String(name);
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("-s"), QStringLiteral("--connect-timeout"), QStringLiteral("5"),
                QStringLiteral("-o"), local,
                updateUrl(QStringLiteral("127.0.0.1"), port, QString::fromLatin1(name))});
    return curl.waitForFinished(60000) && curl.exitCode() == 0 && QFileInfo(local).size() == size;
}

void report(const char* what, double seconds, int size)
{
    if (seconds < 0)
        std::printf("  %-28s failed\n", what);
    else
        std::printf("  %-28s %8.1f MB/s  (%.3f s)\n", what, size / 1e6 / seconds, seconds);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(dropDebug);
    QTemporaryDir root;
    QTemporaryDir into;
    QByteArray big(kBigSize, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char((i * 2654435761u) >> 24);
    if (!writeFile(root.filePath(QStringLiteral("big.bin")), big) ||
        !writeFile(root.filePath(QStringLiteral("small.bin")), big.left(1024)))
        return 1;
    UpdateServerProcess server(root.path());
    if (!server.started()) {
        std::fprintf(stderr, "the update server did not start\n");
        return 1;
    }
    const int port = server.port();
    curl_global_init(CURL_GLOBAL_ALL);

    std::printf("download of 16 MiB from loopback, median of %d runs:\n", kRuns);
    std::vector<double> retr;
    report("FtpClient (login included)", medianSeconds([&] {
               double seconds = 0;
               const bool ok = ftpClientFetch(port, "big.bin", into.path(), kBigSize, &seconds);
               retr.push_back(seconds);
               return ok;
           }),
           kBigSize);
    std::sort(retr.begin(), retr.end());
    report("FtpClient (DownloadFile only)", retr.size() == kRuns ? retr[kRuns / 2] : -1, kBigSize);
    report("libcurl", medianSeconds([&] { return libcurlFetch(port, "big.bin", into.path(), kBigSize); }),
           kBigSize);
    report("curl command-line tool",
           medianSeconds([&] { return curlToolFetch(port, "big.bin", into.path(), kBigSize); }), kBigSize);

    const double small = medianSeconds([&] { return ftpClientFetch(port, "small.bin", into.path(), 1024); });
    std::printf("download of 1 KiB through FtpClient (login included): %.0f ms\n", small * 1000);
    std::printf("  floor of the fixed pauses: 300 ms + 50 ms per reply read\n");
    curl_global_cleanup();
    return 0;
}
