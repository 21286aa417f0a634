// One file from the update server through libcurl, by URL. The local file is
// created only when the first data arrive.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdio>

// The write target of one transfer.
struct UrlFetchFile {
    const char* fileName = nullptr; // local 8-bit encoding, alive for the transfer
    std::FILE* stream = nullptr;    // opened on the first data
    int error = 0;                  // errno when the file could not be opened or written
};

// libcurl's write callback.
std::size_t WriteToFile(char* data, std::size_t size, std::size_t count, UrlFetchFile* target);

// "ftp://ftp:qzx@<address>[:<port>]/<path>"; the port only when it is not 21.
QString updateUrl(const QString& address, int port, const QString& path);

// libcurl's protocol trace on standard error: on for the window; the
// unattended programs turn it on with --verbose only.
void setCurlTrace(bool on);
bool curlTrace();

// Each wait of a transfer on the server ends after this long.
constexpr long kCurlTimeoutSeconds = 5;
