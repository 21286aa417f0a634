// The command-line manners every program shares: -h/--help, --version (the
// project's version from CMake), -q/--quiet and -v/--verbose; results go to
// standard output, diagnostics to standard error.
#pragma once

#include <QString>

class QCommandLineParser;

namespace cmdline {

enum class Verbosity { Quiet, Normal, Verbose };

// The level chosen on the command line, for the whole process.
Verbosity verbosity();
void setVerbosity(Verbosity level);

// "<program> <version>".
QString versionLine(const QString& program);

// Adds -h/--help, --version, -q/--quiet and -v/--verbose to `parser`.
void addStandardOptions(QCommandLineParser& parser);

// After `parser.parse(...)` returned `parsed`: prints the help or the
// version on standard output and returns 0, prints the parser's error on
// standard error and returns 64, or sets the verbosity and returns -1 (the
// program goes on).
int handleStandardOptions(QCommandLineParser& parser, bool parsed, const QString& program);

// True when `arguments` (without the program name) ask only for the help or
// the version, so a program can answer before it needs a display.
bool asksForHelpOrVersion(int argc, char* argv[]);

// Where the session gave no XDG_RUNTIME_DIR (root's shell, a service, a
// chroot), makes the private one Qt would make, so Qt does not warn about
// it on every start. Leaves the variable unset when that directory is not
// the user's own and private; Qt then says what is wrong with it.
void provideRuntimeDir();

// For the programs that run unattended: debug output only with --verbose,
// and with --quiet only critical messages.
void filterMessagesByVerbosity();

} // namespace cmdline
