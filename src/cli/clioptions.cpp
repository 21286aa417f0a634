#include "cli/clioptions.h"

#include "cli/eventlog.h"
#include "cli/exitstatus.h"
#include "cli/stationcli.h"
#include "core/commandline.h"
#include "online/updateserver.h"

#include <QCommandLineParser>

namespace cli {

namespace {

// --json was among the arguments: a refused command line is a record too.
bool g_jsonAsked = false;

void recordUsage(const QString& message)
{
    if (!g_jsonAsked)
        return;
    EventLog records;
    records.setOutput(stdout);
    records.setContext({{"path", QJsonValue()}, {"serial", QJsonValue()}});
    ResultFacts facts;
    facts.status = Usage;
    facts.error = message;
    records.write(resultRecord(facts));
}

} // namespace

void addOptions(QCommandLineParser& parser)
{
    cmdline::addStandardOptions(parser);
    parser.addOption({"image", "The firmware image file to write.", "file"});
    parser.addOption({"sha256",
                      "With --image: the file's SHA-256 (64 hex digits); a file with another digest is not "
                      "written.",
                      "hex"});
    parser.addOption({"fetch",
                      "With --server: fetch the image through libcurl (curl, the default, as the window "
                      "does) or through the updater's own FTP client (ftpclient).",
                      "curl|ftpclient"});
    parser.addOption(
        {"timeout", "Give up after this many seconds (default: from the image size).", "seconds"});
    parser.addOption(
        {"version-timeout", "Wait this many seconds for the device's version (default 5).", "seconds"});
    parser.addOption({"allow-unsigned", "With --server in a build without a signing key: take images the "
                                        "key cannot verify (without it, none is fetched)."});
    parser.addOption({"server",
                      "Online road: check the version against the update server at HOST:PORT (the port "
                      "defaults to 21), download the newest image and write that instead of --image.",
                      "HOST[:PORT]"});
}

bool readOptions(const QCommandLineParser& parser, Options* options, QString* error)
{
    SessionOptions& session = options->session;
    session.imagePath = parser.value("image");
    session.context.allowUnsigned = parser.isSet("allow-unsigned");
    const struct {
        const char* name;
        int* target;
    } numbers[] = {{"timeout", &session.timeoutMs}, {"version-timeout", &session.versionTimeoutMs}};
    for (const auto& n : numbers) {
        if (!parser.isSet(n.name))
            continue;
        bool ok = false;
        const double seconds = parser.value(n.name).toDouble(&ok);
        if (!ok || seconds <= 0 || seconds > 86400) {
            *error = QStringLiteral("--%1 needs a positive number of seconds").arg(QLatin1String(n.name));
            return false;
        }
        *n.target = int(seconds * 1000);
    }
    if (parser.isSet("server")) {
        if (!parseServerAddress(parser.value("server"), &options->server)) {
            *error =
                QStringLiteral("--server needs HOST[:PORT]: a host name or IPv4 address, a port from 1 to "
                               "65535");
            return false;
        }
        session.online = true;
        session.source.address = options->server.address;
        session.source.port = options->server.port;
    }
    if (parser.isSet("sha256")) {
        const QByteArray hex = parser.value("sha256").toLatin1();
        const QByteArray digest = QByteArray::fromHex(hex);
        if (hex.size() != 64 || digest.toHex() != hex.toLower()) {
            *error = QStringLiteral("--sha256 needs 64 hex digits");
            return false;
        }
        if (session.imagePath.isEmpty()) {
            *error = QStringLiteral("--sha256 checks the file of --image");
            return false;
        }
        session.sha256 = digest;
    }
    if (parser.isSet("fetch")) {
        const QString road = parser.value("fetch");
        if (road != QLatin1String("curl") && road != QLatin1String("ftpclient")) {
            *error = QStringLiteral("--fetch needs curl or ftpclient");
            return false;
        }
        session.source.road = road == QLatin1String("curl") ? online::Road::Curl : online::Road::FtpClient;
    }
    if (!readStationOptions(parser, options, error))
        return false;
    if (session.imagePath.isEmpty() && !session.online && !options->list) {
        *error = QStringLiteral("--image or --server is required");
        return false;
    }
    return true;
}

int usage(const char* program, const QString& message)
{
    std::fprintf(stderr, "%s: %s (see --help)\n", program, qPrintable(message));
    recordUsage(message);
    return Usage;
}

int parseCommandLine(QCommandLineParser& parser, const QStringList& given, const char* program,
                     Options* options)
{
    const QStringList arguments = withConfirmDefault(given);
    // Options end at "--"; a file named --json after it asks for nothing.
    g_jsonAsked =
        arguments.mid(0, arguments.indexOf(QStringLiteral("--"))).contains(QStringLiteral("--json"));
    const bool parsed = parser.parse(arguments);
    const int status =
        cmdline::handleStandardOptions(parser, parsed, QString::fromLatin1(program), &options->verbosity);
    if (status == Usage)
        recordUsage(parsed ? QStringLiteral("--quiet and --verbose exclude each other") : parser.errorText());
    if (status >= 0)
        return status;
    // The protocol traces only on request: a normal run prints results,
    // notices and errors.
    options->session.context.verbose = options->verbosity == cmdline::Verbosity::Verbose;
    cmdline::filterMessagesByVerbosity(options->verbosity);
    QString error;
    if (!readOptions(parser, options, &error))
        return usage(program, error);
    return -1;
}

} // namespace cli
