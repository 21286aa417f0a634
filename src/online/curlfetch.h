// One file from the update server through libcurl, by URL. The local file is
// created only when the first data arrive, as a new file (never an existing
// file or a link: the caller downloads into a private directory). Every path segment that goes into
// a URL is percent-encoded by libcurl, so no text from the server can change
// what the URL means; every fetch is bounded in time and in bytes.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The write target of one transfer.
struct UrlFetchFile {
    const char* fileName = nullptr; // local 8-bit encoding, alive for the transfer
    std::FILE* stream = nullptr;    // opened on the first data
    std::int64_t written = 0;       // bytes handed to the stream
    std::int64_t cap = INT64_MAX;   // more than this ends the transfer
    bool overCap = false;
    int error = 0; // errno when the file could not be opened or written
};

// libcurl's write callback.
std::size_t WriteToFile(char* data, std::size_t size, std::size_t count, UrlFetchFile* target);

// Each "/"-separated segment of `path` percent-encoded by libcurl; the
// separators stay.
QString escapedUrlPath(const QString& path);

// "ftp://ftp:qzx@<address>[:<port>]/<escaped path>"; the port only when it
// is not 21.
QString updateUrl(const QString& address, int port, const QString& path);

// libcurl's protocol trace on standard error, with the window's
// "curl told us N" line after a failed transfer: on for the window; the
// unattended programs turn it on with --verbose only (they say a failed
// fetch in words, with its server and file).
void setCurlTrace(bool on);
bool curlTrace();

// Each wait of a transfer on the server ends after this long.
constexpr long kCurlTimeoutSeconds = 5;

// Fetches `url` into `localName` (local 8-bit encoding): at most `cap`
// bytes, over within `deadlineMs`. Returns the libcurl result code, 0 only
// for a whole transfer; a file this call created is removed when the result
// is not 0. `announced` receives the size the server gave, -1 for none;
// `writeError` the errno of a local file that could not be created or
// written, 0 when the failure was not local.
int fetchUrl(const QByteArray& url, const QByteArray& localName, std::int64_t cap, int deadlineMs,
             std::int64_t* announced = nullptr, int* writeError = nullptr);
