// The options every unattended program spells alike: the image or the
// update server, the time limits, the fetch road, the digest, and the
// standard ones (--help, --version, --quiet, --verbose).
#pragma once

#include "core/commandline.h"
#include "core/services.h"
#include "online/context.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>

class QCommandLineParser;

namespace cli {

class EventLog;

struct Options {
    QString imagePath;
    int versionTimeoutMs = 5000; // for the version reply, from the start of run()
    int timeoutMs = 0;           // whole run; 0: from the image size
    std::FILE* out = stdout;
    // Online road: instead of a local file, each session fetches the
    // newest image the update server offers for its device and writes it.
    bool online = false;
    UpdateServer server; // from --server; the executable installs it
    // Machine-readable records of notices and progress (null: none).
    EventLog* events = nullptr;
    // Online road: libcurl, as the window's version check fetches, or the
    // updater's own FTP client for the image (the version list still comes
    // through libcurl, as for the window's fixed-model downloads).
    enum class Fetch { Curl, FtpClient };
    Fetch fetch = Fetch::Curl;
    // --image: the SHA-256 the file must have before anything is written.
    QByteArray sha256;
    // --confirm: after the completion, how long to wait for the device to
    // come back and answer its version (0: do not wait).
    int confirmMs = 0;
    // -q/--quiet, -v/--verbose: what is printed beside the results.
    cmdline::Verbosity verbosity = cmdline::Verbosity::Normal;
    // What the online road fetches with: the key, the limits, the libcurl
    // trace (on with --verbose). The build's key and limits unless the
    // program gives others.
    online::Context context;
};

// The driver's own options (--image, --sha256, --timeout, --version-timeout,
// --server, --fetch, --allow-unsigned) and the standard ones (--help, --version, --quiet,
// --verbose), so every executable spells them the same way.
void addOptions(QCommandLineParser& parser);
// False (and a message in `error`) when a value is not a number, or when
// neither --image nor --server is given. Changes nothing but `options`: the
// executable installs options->server (ScopedServices::server).
bool readOptions(const QCommandLineParser& parser, Options* options, QString* error);

// Prints "<program>: <message> (see --help)" on standard error and returns
// the Usage status.
int usage(const char* program, const QString& message);

// Parses `arguments` with the options already added to `parser` (the
// driver's own among them) and reads the driver's options. Returns -1 when
// the run goes on; otherwise the exit status: 0 after printing --help or
// --version, Usage after printing what is wrong. Puts the verbosity in
// `options` and filters Qt's messages by it: the libcurl and debug traces
// only with --verbose.
int parseCommandLine(QCommandLineParser& parser, const QStringList& arguments, const char* program,
                     Options* options);

} // namespace cli
