// The options every unattended program spells alike: the image or the
// update server, the time limits, the fetch road, the digest, and the
// standard ones (--help, --version, --quiet, --verbose).
#pragma once

#include "cli/devicelist.h"
#include "cli/devicesession.h"
#include "core/commandline.h"
#include "core/services.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace cli {

// Everything a run of the cli or the simulator is told, parsed once from
// its command line into this one struct. `session` is what every device's
// session gets, as it stands; the rest is the run's: which devices, how the
// results go out.
struct Options {
    // The image (--image) or the online road (--server, --fetch, the key,
    // the limits, the trace), the time limits, --sha256, the guards
    // (--allow-older, --allow-reinstall), --check and --confirm. The image's
    // bytes are read once the command line is settled.
    SessionOptions session;
    UpdateServer server; // from --server; the executable installs it
    // -q/--quiet, -v/--verbose: what is printed beside the results.
    cmdline::Verbosity verbosity = cmdline::Verbosity::Normal;
    bool list = false;      // --list
    bool all = false;       // --all
    bool watch = false;     // --watch
    bool json = false;      // --json
    bool child = false;     // run by a station for one device
    double waitSeconds = 5; // one device: how long to wait for it (--wait-device)
    QString logPath;        // --log
    Selection selection;    // --device, --serial
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

// Parses `arguments` (--confirm's optional value settled by
// withConfirmDefault) with the options already added to `parser` (the
// driver's own and the station's among them) and reads them all into
// `options`. Returns -1 when the run goes on; otherwise the exit status: 0
// after printing --help or --version, Usage after printing what is wrong.
// Puts the verbosity in `options` and filters Qt's messages by it: the
// libcurl and debug traces only with --verbose.
int parseCommandLine(QCommandLineParser& parser, const QStringList& arguments, const char* program,
                     Options* options);

} // namespace cli
