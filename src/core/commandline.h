// The command-line manners every program shares: -h/--help, --version (the
// project's version from CMake), -q/--quiet and -v/--verbose; results go to
// standard output, diagnostics to standard error.
#pragma once

#include <QString>

class QCommandLineParser;

namespace cmdline {

enum class Verbosity { Quiet, Normal, Verbose };

// "<program> <version>".
QString versionLine(const QString& program);

// Adds -h/--help, --version, -q/--quiet and -v/--verbose to `parser`.
void addStandardOptions(QCommandLineParser& parser);

// After `parser.parse(...)` returned `parsed`: prints the help or the
// version on standard output and returns 0, prints the parser's error on
// standard error and returns 64, or puts the level asked for in `level`
// (when given) and returns -1 (the program goes on). The program hands the
// level down to whatever prints or traces.
int handleStandardOptions(QCommandLineParser& parser, bool parsed, const QString& program,
                          Verbosity* level = nullptr);

// True when `arguments` (without the program name) ask only for the help or
// the version, so a program can answer before it needs a display.
bool asksForHelpOrVersion(int argc, char* argv[]);

// Where the session gave no XDG_RUNTIME_DIR (root's shell, a service, a
// chroot), makes the private one Qt would make, so Qt does not warn about
// it on every start. Leaves the variable unset when that directory is not
// the user's own and private; Qt then says what is wrong with it.
void provideRuntimeDir();

// Qt's messages at `level`: debug output only at Verbose, and at Quiet only
// critical messages. Qt's message handler is one for the process, so the
// level it filters at is kept with it.
void filterMessagesByVerbosity(Verbosity level);

} // namespace cmdline
