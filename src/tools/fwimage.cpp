// fwimage: builds and inspects firmware image files.
//
//   fwimage pack --dsp FILE --arm FILE --version N -o OUT
//   fwimage sample --dsp-size N --arm-size N --version N [--seed N] -o OUT
//   fwimage show FILE
#include "core/commandline.h"
#include "image/firmwareimage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>

namespace {

const char kUsage[] = "usage: fwimage pack --dsp FILE --arm FILE --version N -o OUT\n"
                      "       fwimage sample --dsp-size N --arm-size N --version N [--seed N] -o OUT\n"
                      "       fwimage show FILE\n";

// The help: the usage lines, then one line per option, in the layout the
// manual page and the shell completion are made from.
const char kHelp[] = "Usage: fwimage [-q|-v] COMMAND [options]\n"
                     "Builds and inspects firmware image files for the firmware updater: a 16-byte "
                     "big-endian header (DSP length, version, ARM length, reserved), the DSP image and the "
                     "ARM image.\n"
                     "\n"
                     "Commands:\n"
                     "  pack --dsp FILE --arm FILE --version N -o OUT\n"
                     "                           Pack two image files into a firmware image.\n"
                     "  sample --dsp-size N --arm-size N --version N [--seed N] -o OUT\n"
                     "                           Make a firmware image of sample bytes.\n"
                     "  show FILE                Print the header and the checks; exit status 2 when the\n"
                     "                           updater would refuse the file.\n"
                     "\n"
                     "Options:\n"
                     "  -h, --help               Print this help and exit.\n"
                     "  --version                Print the program's version and exit (as the first\n"
                     "                           argument; after pack or sample it is the image version).\n"
                     "  -q, --quiet              Print only results and errors.\n"
                     "  -v, --verbose            Also print the diagnostic trace.\n"
                     "  --dsp FILE, --arm FILE   The DSP and ARM images (pack).\n"
                     "  --dsp-size N, --arm-size N\n"
                     "                           Sizes of the sample images in bytes (sample).\n"
                     "  --seed N                 Seed of the sample bytes (sample, default 1).\n"
                     "  -o, --output OUT         The image file to write.\n"
                     "\n"
                     "Exit status: 0 done, 1 a file cannot be read or written or the command line is wrong, "
                     "2 (show) the updater would refuse the file.\n";

int fail(const QString& message)
{
    std::fprintf(stderr, "fwimage: %s\n", qPrintable(message));
    return 1;
}

bool readAll(const QString& path, QByteArray* out)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    *out = f.readAll();
    return true;
}

bool writeAll(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size() && f.flush();
}

bool toNumber(const QString& text, quint64 max, quint64* out)
{
    bool ok = false;
    const quint64 v = text.toULongLong(&ok, 0);
    if (!ok || v > max)
        return false;
    *out = v;
    return true;
}

// Parses `args` (the sub-command first) with the given value options, all
// required except those listed in `optional`.
bool parse(QCommandLineParser& p, const QStringList& args, const QStringList& names,
           const QStringList& optional = {})
{
    for (const QString& n : names)
        p.addOption(QCommandLineOption(n.split('|'), QString(), QStringLiteral("value")));
    if (!p.parse(args))
        return false;
    for (const QString& n : names) {
        const QString key = n.split('|').first();
        if (!optional.contains(key) && !p.isSet(key))
            return false;
    }
    return true;
}

int writeImage(const QString& out, const QByteArray& image)
{
    if (!writeAll(out, image))
        return fail(QStringLiteral("cannot write %1").arg(out));
    if (cmdline::verbosity() != cmdline::Verbosity::Quiet)
        std::printf("%s: %d bytes\n", qPrintable(out), image.size());
    return 0;
}

int pack(const QStringList& args)
{
    QCommandLineParser p;
    quint64 version = 0;
    if (!parse(p, args, {"dsp", "arm", "version", "o|output"}) ||
        !toNumber(p.value("version"), 0xFFFFFFFFu, &version))
        return fail(QString::fromLatin1(kUsage));
    QByteArray dsp, arm;
    if (!readAll(p.value("dsp"), &dsp))
        return fail(QStringLiteral("cannot read %1").arg(p.value("dsp")));
    if (!readAll(p.value("arm"), &arm))
        return fail(QStringLiteral("cannot read %1").arg(p.value("arm")));
    return writeImage(p.value("o"), fwimage::pack(dsp, arm, std::uint32_t(version)));
}

int sample(const QStringList& args)
{
    QCommandLineParser p;
    quint64 dspSize = 0, armSize = 0, version = 0, seed = 1;
    const quint64 maxSize = 256u * 1024 * 1024;
    if (!parse(p, args, {"dsp-size", "arm-size", "version", "seed", "o|output"}, {"seed"}) ||
        !toNumber(p.value("dsp-size"), maxSize, &dspSize) ||
        !toNumber(p.value("arm-size"), maxSize, &armSize) ||
        !toNumber(p.value("version"), 0xFFFFFFFFu, &version) ||
        (p.isSet("seed") && !toNumber(p.value("seed"), 0xFFFFFFFFu, &seed)))
        return fail(QString::fromLatin1(kUsage));
    const QByteArray dsp = fwimage::sampleBytes(int(dspSize), std::uint32_t(seed));
    const QByteArray arm = fwimage::sampleBytes(int(armSize), std::uint32_t(seed) ^ 0xA5A5A5A5u);
    return writeImage(p.value("o"), fwimage::pack(dsp, arm, std::uint32_t(version)));
}

int show(const QStringList& args)
{
    if (args.size() != 2)
        return fail(QString::fromLatin1(kUsage));
    QByteArray file;
    if (!readAll(args[1], &file))
        return fail(QStringLiteral("cannot read %1").arg(args[1]));
    fwimage::Header h;
    std::printf("file:        %s\nsize:        %d bytes\n", qPrintable(args[1]), file.size());
    if (!fwimage::parseHeader(file, &h)) {
        std::printf("header:      incomplete (%d of %d bytes)\n", file.size(), fwimage::kHeaderSize);
    } else {
        std::printf("dspLength:   %u\nversion:     %d\narmLength:   %u\n", h.dspLength,
                    std::int32_t(h.version), h.armLength);
        std::printf("well-formed: %s\n", fwimage::isWellFormed(h, file.size()) ? "yes" : "no");
    }
    const fwimage::Check check = fwimage::checkImage(file);
    std::printf("check:       %s\n", fwimage::checkName(check));
    return check == fwimage::Check::Ok ? 0 : 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    // The program's own options come before the command.
    while (!args.isEmpty()) {
        const QString& word = args.first();
        if (word == QLatin1String("-h") || word == QLatin1String("--help")) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (word == QLatin1String("--version")) {
            std::printf("%s\n", qPrintable(cmdline::versionLine(QStringLiteral("fwimage"))));
            return 0;
        }
        if (word == QLatin1String("-q") || word == QLatin1String("--quiet"))
            cmdline::setVerbosity(cmdline::Verbosity::Quiet);
        else if (word == QLatin1String("-v") || word == QLatin1String("--verbose"))
            cmdline::setVerbosity(cmdline::Verbosity::Verbose);
        else
            break;
        args.removeFirst();
    }
    const QString command = args.value(0);
    if (command == QLatin1String("pack"))
        return pack(args);
    if (command == QLatin1String("sample"))
        return sample(args);
    if (command == QLatin1String("show"))
        return show(args);
    std::fputs(kUsage, stderr);
    return 1;
}
