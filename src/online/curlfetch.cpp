#include "online/curlfetch.h"

#include "core/terminaltext.h"
#include "online/privatefiles.h"
#include "online/updateserver.h"

#include <QFile>
#include <QStringList>

#include <curl/curl.h>

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#define fdopen _fdopen
#else
#include <unistd.h>
#endif

namespace {
// libcurl's trace, as its own verbose output shows it ("* " its notes, "< "
// what the server said, "> " what was sent), but escaped line by line: a
// server's replies and libcurl's texts about them are the server's words.
int traceEscaped(CURL*, curl_infotype type, char* data, std::size_t size, void*)
{
    const char* mark = type == CURLINFO_TEXT ? "* " : type == CURLINFO_HEADER_IN ? "< " : "> ";
    if (type != CURLINFO_TEXT && type != CURLINFO_HEADER_IN && type != CURLINFO_HEADER_OUT)
        return 0; // data and TLS bytes are not shown, as by libcurl's own trace
    for (const QByteArray& line : QByteArray(data, int(size)).split('\n')) {
        const QByteArray shown = line.endsWith('\r') ? line.left(line.size() - 1) : line;
        if (!shown.isEmpty())
            std::fprintf(stderr, "%s%s\n", mark, terminaltext::printable(shown.toStdString()).c_str());
    }
    return 0;
}
} // namespace

std::size_t WriteToFile(char* data, std::size_t size, std::size_t count, UrlFetchFile* target)
{
    if (size == 0 || count == 0)
        return 0;
    const std::size_t bytes = size * count;
    if (static_cast<std::int64_t>(bytes) > target->cap - target->written) {
        target->overCap = true;
        return 0; // not the data's size: libcurl stops with a write error
    }
    if (!target->stream) {
        const int fd = createExclusive(QFile::decodeName(target->fileName));
        target->stream = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
        if (!target->stream) {
            target->error = errno;
            if (fd >= 0)
                ::close(fd);
            return static_cast<std::size_t>(-1); // not the data's size: libcurl stops with a write error
        }
    }
    const std::size_t done = std::fwrite(data, size, count, target->stream);
    target->written += static_cast<std::int64_t>(done * size);
    if (done != count)
        target->error = errno;
    return done;
}

QString escapedUrlPath(const QString& path)
{
    QStringList segments = path.split(QLatin1Char('/'));
    CURL* handle = curl_easy_init(); // only for the escaping's signature
    for (QString& segment : segments) {
        const QByteArray bytes = segment.toUtf8();
        char* escaped = bytes.isEmpty() ? nullptr : curl_easy_escape(handle, bytes.constData(), bytes.size());
        segment = escaped ? QString::fromLatin1(escaped) : QString();
        curl_free(escaped);
    }
    if (handle)
        curl_easy_cleanup(handle);
    return segments.join(QLatin1Char('/'));
}

QString updateUrl(const QString& address, int port, const QString& path)
{
    QString url = QStringLiteral("ftp://%1:%2@%3").arg(updateServerUser(), updateServerPassword(), address);
    if (port != 21)
        url += QLatin1Char(':') + QString::number(port);
    return url + QLatin1Char('/') + escapedUrlPath(path);
}

int fetchUrl(const QByteArray& url, const QByteArray& localName, std::int64_t cap, int deadlineMs, bool trace,
             std::int64_t* announced, int* writeError, bool askSize)
{
    UrlFetchFile target;
    target.fileName = localName.constData();
    target.cap = cap;
    curl_global_init(CURL_GLOBAL_ALL);
    CURLcode result = CURLE_FAILED_INIT;
    curl_off_t length = -1;
    if (CURL* handle = curl_easy_init()) {
        curl_easy_setopt(handle, CURLOPT_URL, url.constData());
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &WriteToFile);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &target);
        curl_easy_setopt(handle, CURLOPT_VERBOSE, trace ? 1L : 0L);
        curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, &traceEscaped);
        // A server that stops answering ends the fetch instead of the GUI.
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kCurlTimeoutSeconds);
        curl_easy_setopt(handle, CURLOPT_SERVER_RESPONSE_TIMEOUT, kCurlTimeoutSeconds);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, kCurlTimeoutSeconds);
        // ...and one that answers just in time, byte by byte, ends at the
        // deadline. A size announced above the cap is refused up front.
        curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(deadlineMs > 0 ? deadlineMs : 1));
        curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(cap));
        curl_easy_setopt(handle, CURLOPT_IGNORE_CONTENT_LENGTH, askSize ? 0L : 1L); // FTP: no SIZE
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        result = curl_easy_perform(handle);
        curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        curl_easy_cleanup(handle);
    }
    if (target.stream && std::fclose(target.stream) != 0) {
        target.error = target.error ? target.error : errno;
        if (result == CURLE_OK)
            result = CURLE_WRITE_ERROR; // the file's end may be missing
    }
    if (result == CURLE_OK && length >= 0 && target.written != length)
        result = CURLE_PARTIAL_FILE; // fewer bytes than the server announced
    if (target.overCap)
        std::fprintf(stderr, "%s: more than %lld bytes, the fetch was cut off\n", localName.constData(),
                     static_cast<long long>(cap));
    if (result != CURLE_OK) {
        if (trace)
            std::fprintf(stderr, "curl told us %d\n", static_cast<int>(result));
        // No part of a failed transfer may pass for a file later.
        if (target.stream)
            QFile::remove(QString::fromLocal8Bit(localName));
    }
    curl_global_cleanup();
    if (announced)
        *announced = length;
    if (writeError)
        *writeError = result == CURLE_WRITE_ERROR && !target.overCap ? target.error : 0;
    return static_cast<int>(result);
}
