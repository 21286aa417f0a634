#include "online/curlfetch.h"

#include "online/updateserver.h"

#include <curl/curl.h>

#include <atomic>
#include <cerrno>

namespace {
std::atomic<bool> g_curlTrace{true};
}

void setCurlTrace(bool on)
{
    g_curlTrace.store(on);
}

bool curlTrace()
{
    return g_curlTrace.load();
}

std::size_t WriteToFile(char* data, std::size_t size, std::size_t count, UrlFetchFile* target)
{
    if (size == 0 || count == 0)
        return 0;
    if (!target->stream) {
        target->stream = std::fopen(target->fileName, "wb");
        if (!target->stream) {
            target->error = errno;
            return static_cast<std::size_t>(-1); // not the data's size: libcurl stops with a write error
        }
    }
    const std::size_t written = std::fwrite(data, size, count, target->stream);
    if (written != count)
        target->error = errno;
    return written;
}

QString updateUrl(const QString& address, int port, const QString& path)
{
    QString url = QStringLiteral("ftp://%1:%2@%3").arg(updateServerUser(), updateServerPassword(), address);
    if (port != 21)
        url += QLatin1Char(':') + QString::number(port);
    return url + QLatin1Char('/') + path;
}
