// fwimage: builds and inspects firmware image files.
//
//   fwimage pack --dsp FILE --arm FILE --version N -o OUT
//   fwimage sample --dsp-size N --arm-size N --version N [--seed N] -o OUT
//   fwimage show [-q] [--json] FILE
//   fwimage keygen -o KEYFILE
//   fwimage sign --key KEYFILE IMAGE [-o SIGFILE]
//   fwimage verify --public-key KEY IMAGE [--sig SIGFILE]
//   fwimage release --key KEYFILE --model DIR --counter N [--expires-days D] IMAGE [-o OUT]
//
// keygen makes an Ed25519 key pair: the secret key (hex) in KEYFILE, the
// public key (hex) in KEYFILE.pub and on standard output, ready for the
// build setting UPDATER_SIGNING_PUBLIC_KEY; both files are new (never an
// existing file or a link), or neither is left. sign and release take only
// a whole secret key: 128 hex digits whose second half is the public key of
// the first (its seed). sign writes the detached
// signature of IMAGE (64 bytes) to IMAGE.sig, the name the update server
// keeps beside the image; verify checks it as the updater does. release
// writes the model's signed release metadata (online/release.h) for IMAGE
// to OUT (default <model>.release beside IMAGE) and its signature to
// OUT.sig.
#include "core/commandline.h"
#include "image/firmwareimage.h"
#include "online/imageverify.h"
#include "online/privatefiles.h"
#include "online/release.h"
#include "qtbridge/bytes.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// -q/--quiet, read from the command line before the command runs.
bool g_quiet = false;

const char kUsage[] = "usage: fwimage pack --dsp FILE --arm FILE --version N -o OUT\n"
                      "       fwimage sample --dsp-size N --arm-size N --version N [--seed N] -o OUT\n"
                      "       fwimage show [-q] [--json] FILE\n"
                      "       fwimage keygen -o KEYFILE\n"
                      "       fwimage sign --key KEYFILE IMAGE [-o SIGFILE]\n"
                      "       fwimage verify --public-key KEY IMAGE [--sig SIGFILE]\n"
                      "       fwimage release --key KEYFILE --model DIR --counter N [--expires-days D] IMAGE "
                      "[-o OUT]\n";

// The help: the usage lines, then one line per option, in the layout the
// manual page and the shell completion are made from.
const char kHelp[] =
    "Usage: fwimage [-q|-v] COMMAND [options]\n"
    "Builds and inspects firmware image files for the firmware updater: a 16-byte "
    "big-endian header (DSP length, version, ARM length, reserved), the DSP image and the "
    "ARM image.\n"
    "\n"
    "Commands:\n"
    "  pack --dsp FILE --arm FILE --version N -o OUT\n"
    "                           Pack two image files into a firmware image.\n"
    "  sample --dsp-size N --arm-size N --version N [--seed N] -o OUT\n"
    "                           Make a firmware image of sample bytes.\n"
    "  show [-q] [--json] FILE  Print the header and the checks (-q: the verdict only);\n"
    "                           exit status 2 when the updater would refuse the file.\n"
    "  keygen -o KEYFILE        Make an Ed25519 key pair: the secret key (hex) in a new\n"
    "                           KEYFILE (mode 0600), the public key (hex) in a new\n"
    "                           KEYFILE.pub and on standard output; an existing file of\n"
    "                           either name is never overwritten.\n"
    "  sign --key KEYFILE IMAGE [-o SIGFILE]\n"
    "                           Write the detached signature of IMAGE (default IMAGE.sig).\n"
    "  verify --public-key KEY IMAGE [--sig SIGFILE]\n"
    "                           Check IMAGE's signature as the updater does.\n"
    "  release --key KEYFILE --model DIR --counter N [--expires-days D] IMAGE [-o OUT]\n"
    "                           Write the signed release metadata of IMAGE for model\n"
    "                           directory DIR (default OUT: DIR.release beside IMAGE;\n"
    "                           its signature in OUT.sig). N must grow with every release;\n"
    "                           the metadata expires after D days (default 30).\n"
    "\n"
    "Options:\n"
    "  -h, --help               Print this help and exit.\n"
    "  --version                Print the program's version and exit (as the first\n"
    "                           argument; after pack or sample it is the image version).\n"
    "  -q, --quiet              Print only results and errors.\n"
    "  -v, --verbose            Also print the diagnostic trace.\n"
    "  --dsp FILE, --arm FILE   The DSP and ARM images (pack).\n"
    "  --dsp-size N, --arm-size N\n"
    "                           Sizes of the sample images in bytes, whole 8-byte\n"
    "                           blocks (sample).\n"
    "  --seed N                 Seed of the sample bytes (sample, default 1).\n"
    "  -o, --output OUT         The file to write.\n"
    "  --key KEYFILE            The secret key file (sign, release).\n"
    "  --model DIR, --counter N, --expires-days D\n"
    "                           The model directory, release counter and lifetime (release).\n"
    "  --public-key KEY         The public key, hex or base64 (verify).\n"
    "  --sig SIGFILE            The signature file (verify, default IMAGE.sig).\n"
    "  --json                   Print the result as one JSON object (show).\n"
    "\n"
    "\n"
    "Exit status:\n"
    "    0  done\n"
    "    1  a file cannot be read or written\n"
    "    2  show: the updater would refuse the file; verify: the signature is bad\n"
    "   64  bad command line\n";

constexpr int kUsageStatus = 64;

int fail(const QString& message)
{
    std::fprintf(stderr, "fwimage: %s\n", qPrintable(message));
    return 1;
}

// A mistake on the command line: what is wrong, then the usage lines.
int usage(const QString& mistake)
{
    std::fprintf(stderr, "fwimage: %s\n%s", qPrintable(mistake), kUsage);
    return kUsageStatus;
}

// Empty when the file was read, otherwise the path and the system's reason.
QString readAll(const QString& path, QByteArray* out)
{
    QFile f(path);
    if (f.open(QIODevice::ReadOnly)) {
        *out = f.readAll();
        if (f.error() == QFileDevice::NoError)
            return QString();
    }
    return QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
}

QString writeAll(const QString& path, const QByteArray& data)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size() && f.flush())
        return QString();
    return QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
}

// An option as it is typed: "-o", "--output".
QString typed(const QString& name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// The value of option `name` as a number up to `max`; an empty text when
// it is one, otherwise the mistake.
QString toNumber(const QCommandLineParser& p, const QString& name, quint64 max, quint64* out)
{
    bool ok = false;
    const QString text = p.value(name);
    const quint64 v = text.toULongLong(&ok, 0);
    if (!ok || v > max)
        return QStringLiteral("--%1 needs a whole number from 0 to %2, not '%3'")
            .arg(name, QString::number(max), text);
    *out = v;
    return QString();
}

// Parses `args` (the sub-command first) with the given value options, all
// required except those listed in `optional`, and `positional` arguments
// after the options. An empty text when they are all there, otherwise the
// mistake.
QString parse(QCommandLineParser& p, const QStringList& args, const QStringList& names,
              const QStringList& optional = {}, int positional = 0)
{
    for (const QString& n : names)
        p.addOption(QCommandLineOption(n.split('|'), QString(), QStringLiteral("value")));
    if (!p.parse(args))
        return QStringLiteral("%1: %2").arg(args.value(0), p.errorText());
    for (const QString& n : names) {
        const QString key = n.split('|').first();
        if (!optional.contains(key) && !p.isSet(key))
            return QStringLiteral("%1 needs %2").arg(args.value(0), typed(key));
    }
    const QStringList extra = p.positionalArguments();
    if (extra.size() > positional)
        return QStringLiteral("%1: unexpected argument '%2'").arg(args.value(0), extra.value(positional));
    if (extra.size() < positional)
        return QStringLiteral("%1 needs a file name").arg(args.value(0));
    return QString();
}

int writeImage(const QString& out, const QByteArray& image)
{
    if (const QString why = writeAll(out, image); !why.isEmpty())
        return fail(why);
    if (!g_quiet)
        std::printf("%s: %d bytes\n", qPrintable(out), image.size());
    return 0;
}

int pack(const QStringList& args)
{
    QCommandLineParser p;
    quint64 version = 0;
    QString mistake = parse(p, args, {"dsp", "arm", "version", "o|output"});
    if (mistake.isEmpty())
        mistake = toNumber(p, "version", 0xFFFFFFFFu, &version);
    if (!mistake.isEmpty())
        return usage(mistake);
    QByteArray dsp, arm;
    for (const auto& [name, bytes] : {std::pair{"dsp", &dsp}, std::pair{"arm", &arm}}) {
        if (const QString why = readAll(p.value(name), bytes); !why.isEmpty())
            return fail(why);
    }
    for (const auto& [name, bytes] : {std::pair{"dsp", &dsp}, std::pair{"arm", &arm}}) {
        if (bytes->isEmpty() || bytes->size() % fwimage::kBlockSize != 0)
            return fail(QStringLiteral("%1 (--%2) is %3 bytes, not a whole number of %4-byte blocks")
                            .arg(p.value(name), QLatin1String(name), QString::number(bytes->size()),
                                 QString::number(fwimage::kBlockSize)));
    }
    return writeImage(p.value("o"), toQByteArray(fwimage::pack(dsp, arm, std::uint32_t(version))));
}

int sample(const QStringList& args)
{
    QCommandLineParser p;
    quint64 dspSize = 0, armSize = 0, version = 0, seed = 1;
    const quint64 maxSize = 256u * 1024 * 1024;
    QString mistake = parse(p, args, {"dsp-size", "arm-size", "version", "seed", "o|output"}, {"seed"});
    const struct {
        const char* name;
        quint64 max;
        quint64* value;
    } numbers[] = {{"dsp-size", maxSize, &dspSize},
                   {"arm-size", maxSize, &armSize},
                   {"version", 0xFFFFFFFFu, &version},
                   {"seed", 0xFFFFFFFFu, &seed}};
    for (const auto& n : numbers) {
        if (mistake.isEmpty() && p.isSet(n.name))
            mistake = toNumber(p, n.name, n.max, n.value);
    }
    // The device takes each image in whole blocks, at least one: an image
    // of any other size is one the updater refuses.
    for (const auto& [name, size] : {std::pair{"dsp-size", dspSize}, std::pair{"arm-size", armSize}}) {
        if (mistake.isEmpty() && (size == 0 || size % fwimage::kBlockSize != 0))
            mistake = QStringLiteral("--%1 %2 is not a whole number of %3-byte blocks (8, 16, 24, ...)")
                          .arg(QLatin1String(name))
                          .arg(size)
                          .arg(fwimage::kBlockSize);
    }
    if (!mistake.isEmpty())
        return usage(mistake);
    const protocol::Bytes dsp = fwimage::sampleBytes(dspSize, std::uint32_t(seed));
    const protocol::Bytes arm = fwimage::sampleBytes(armSize, std::uint32_t(seed) ^ 0xA5A5A5A5u);
    return writeImage(p.value("o"), toQByteArray(fwimage::pack(dsp, arm, std::uint32_t(version))));
}

int show(const QStringList& args)
{
    QCommandLineParser p;
    p.addOptions({{{"q", "quiet"}, QString()}, {{"v", "verbose"}, QString()}, {"json", QString()}});
    if (const QString mistake = parse(p, args, {}, {}, 1); !mistake.isEmpty())
        return usage(mistake);
    const QString path = p.positionalArguments().at(0);
    QByteArray file;
    if (const QString why = readAll(path, &file); !why.isEmpty())
        return fail(why);
    fwimage::Header h;
    const bool header = fwimage::parseHeader(file, &h);
    const fwimage::Check check = fwimage::checkImage(file);
    if (p.isSet("json")) {
        QJsonObject o{{"file", path}, {"size", file.size()}, {"check", fwimage::checkName(check)}};
        if (header) {
            o.insert("dsp_length", qint64(h.dspLength));
            o.insert("version", std::int32_t(h.version));
            o.insert("arm_length", qint64(h.armLength));
            o.insert("well_formed", fwimage::isWellFormed(h, file.size()));
        }
        std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    } else if (p.isSet("q") || (g_quiet && !p.isSet("v"))) {
        std::printf("check:       %s\n", fwimage::checkName(check));
    } else {
        std::printf("file:        %s\nsize:        %d bytes\n", qPrintable(path), file.size());
        if (!header) {
            std::printf("header:      incomplete (%d of %d bytes)\n", file.size(), fwimage::kHeaderSize);
        } else {
            std::printf("dspLength:   %u\nversion:     %d\narmLength:   %u\n", h.dspLength,
                        std::int32_t(h.version), h.armLength);
            std::printf("well-formed: %s\n", fwimage::isWellFormed(h, file.size()) ? "yes" : "no");
        }
        std::printf("check:       %s\n", fwimage::checkName(check));
    }
    return check == fwimage::Check::Ok ? 0 : 2;
}

// Writes `text` to `path`, a new file (never an existing file or a link).
// Empty on success; otherwise why, and a file made here is removed again.
QString createNew(const QString& path, const QByteArray& text, int mode)
{
    const int fd = createExclusive(path, mode);
    if (fd < 0)
        return QStringLiteral("cannot create %1: %2").arg(path, qt_error_string(errno));
    QFile f;
    if (!f.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
    } else if (f.write(text) == text.size() && f.flush()) {
        return QString();
    }
    const QString why = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
    f.close();
    QFile::remove(path);
    return why;
}

int keygen(const QStringList& args)
{
    QCommandLineParser p;
    if (const QString mistake = parse(p, args, {"o|output"}); !mistake.isEmpty())
        return usage(mistake);
    const QString out = p.value("o"), pub = out + QStringLiteral(".pub");
    // A pair is made whole or not at all, and replaces nothing: both names
    // are looked at before either file is made.
    for (const QString& path : {out, pub}) {
        if (QFileInfo(path).exists() || QFileInfo(path).isSymLink())
            return fail(QStringLiteral("cannot create %1: %2").arg(path, qt_error_string(EEXIST)));
    }
    QByteArray publicKey, secretKey;
    if (!imageverify::makeKeyPair(&publicKey, &secretKey))
        return fail(QStringLiteral("libsodium could not make a key pair"));
    // The secret key is for its owner's eyes only from its first byte.
    QString why = createNew(out, secretKey.toHex() + '\n', 0600);
    if (why.isEmpty() && !(why = createNew(pub, publicKey.toHex() + '\n', 0644)).isEmpty())
        QFile::remove(out); // half a pair is no key
    if (!why.isEmpty())
        return fail(why);
    std::printf("secret key: %s\npublic key: %s\n", qPrintable(out), publicKey.toHex().constData());
    return 0;
}

// The secret key in `path`: 128 hex digits (blanks around them allowed)
// whose second half is the public key of the first. Empty when it is one;
// otherwise why not.
QString readSecretKey(const QString& path, QByteArray* secretKey)
{
    QByteArray text;
    if (const QString why = readAll(path, &text); !why.isEmpty())
        return why;
    text = text.trimmed();
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (text.size() != 2 * imageverify::kSecretKeyBytes || !std::all_of(text.begin(), text.end(), hex))
        return QStringLiteral("%1 is no secret key of fwimage keygen: not 128 hex digits").arg(path);
    *secretKey = QByteArray::fromHex(text);
    if (imageverify::publicKeyOfSeed(*secretKey) != secretKey->mid(imageverify::kPublicKeyBytes))
        return QStringLiteral("%1 is no secret key of fwimage keygen: its public half is not the key "
                              "of its seed")
            .arg(path);
    return QString();
}

int signImage(const QStringList& args)
{
    QCommandLineParser p;
    if (const QString mistake = parse(p, args, {"key", "o|output"}, {"o"}, 1); !mistake.isEmpty())
        return usage(mistake);
    const QString imagePath = p.positionalArguments().at(0);
    QByteArray secretKey, image;
    QString why = readSecretKey(p.value("key"), &secretKey);
    if (why.isEmpty())
        why = readAll(imagePath, &image);
    const QByteArray signature = why.isEmpty() ? imageverify::sign(image, secretKey) : QByteArray();
    const QString out = p.isSet("o") ? p.value("o") : imagePath + QStringLiteral(".sig");
    if (why.isEmpty())
        why = signature.isEmpty() ? QStringLiteral("libsodium could not sign %1").arg(imagePath)
                                  : writeAll(out, signature);
    if (!why.isEmpty())
        return fail(why);
    std::printf("%s: signature of %s\n", qPrintable(out), qPrintable(imagePath));
    return 0;
}

int releaseImage(const QStringList& args)
{
    QCommandLineParser p;
    quint64 counter = 0, days = 30;
    QString mistake =
        parse(p, args, {"key", "model", "counter", "expires-days", "o|output"}, {"expires-days", "o"}, 1);
    if (mistake.isEmpty())
        mistake = toNumber(p, QStringLiteral("counter"), 0xFFFFFFFFFFFFull, &counter);
    if (mistake.isEmpty() && p.isSet("expires-days"))
        mistake = toNumber(p, QStringLiteral("expires-days"), 36500, &days);
    if (!mistake.isEmpty())
        return usage(mistake);
    const QString imagePath = p.positionalArguments().at(0);
    const QString model = p.value("model");
    QByteArray secretKey, image;
    QString why = readSecretKey(p.value("key"), &secretKey);
    if (why.isEmpty())
        why = readAll(imagePath, &image);
    if (!why.isEmpty())
        return fail(why);
    std::int64_t version = 0;
    if (!imageverify::imageVersion(image, &version, &why))
        return fail(QStringLiteral("%1 is not a well-formed image (%2)").arg(imagePath, why));
    const QFileInfo info(imagePath);
    release::Metadata m;
    m.model = model;
    m.version = QString::number(version);
    m.file = info.fileName();
    m.size = image.size();
    m.sha256 = QCryptographicHash::hash(image, QCryptographicHash::Sha256);
    m.counter = counter;
    m.expires = QDateTime::currentSecsSinceEpoch() + qint64(days) * 86400;
    const QByteArray text = release::format(m);
    const QString out = p.isSet("o") ? p.value("o") : info.absolutePath() + '/' + model + ".release";
    const QByteArray signature = imageverify::sign(text, secretKey);
    why = signature.isEmpty() ? QStringLiteral("libsodium could not sign %1").arg(out) : writeAll(out, text);
    if (why.isEmpty())
        why = writeAll(out + QStringLiteral(".sig"), signature);
    if (!why.isEmpty())
        return fail(why);
    if (!g_quiet)
        std::printf("%s: release %llu of %s/%s, version %s\n", qPrintable(out),
                    static_cast<unsigned long long>(counter), qPrintable(model), qPrintable(m.file),
                    qPrintable(m.version));
    return 0;
}

int verifyImage(const QStringList& args)
{
    QCommandLineParser p;
    if (const QString mistake = parse(p, args, {"public-key", "sig"}, {"sig"}, 1); !mistake.isEmpty())
        return usage(mistake);
    const QString imagePath = p.positionalArguments().at(0);
    const QString sigPath = p.isSet("sig") ? p.value("sig") : imagePath + QStringLiteral(".sig");
    // The key as the build takes it, or a file that holds it (KEYFILE.pub).
    QString keyText = p.value("public-key");
    QByteArray fromFile;
    if (QFileInfo::exists(keyText)) {
        if (const QString why = readAll(keyText, &fromFile); !why.isEmpty())
            return fail(why);
        keyText = QString::fromLatin1(fromFile.trimmed());
    }
    QByteArray key, image, signature;
    if (!imageverify::parsePublicKey(keyText, &key))
        return fail(QStringLiteral("the public key is not 64 hex digits or 32 bytes in base64"));
    for (const auto& [path, bytes] : {std::pair{imagePath, &image}, std::pair{sigPath, &signature}}) {
        if (const QString why = readAll(path, bytes); !why.isEmpty())
            return fail(why);
    }
    const bool good = imageverify::signatureValid(image, signature, key);
    std::printf("%s: signature %s\n", qPrintable(imagePath), good ? "good" : "BAD");
    return good ? 0 : 2;
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
            g_quiet = true;
        else if (word != QLatin1String("-v") && word != QLatin1String("--verbose"))
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
    if (command == QLatin1String("keygen"))
        return keygen(args);
    if (command == QLatin1String("sign"))
        return signImage(args);
    if (command == QLatin1String("verify"))
        return verifyImage(args);
    if (command == QLatin1String("release"))
        return releaseImage(args);
    if (command.isEmpty())
        return usage(QStringLiteral("no command given"));
    return usage(QStringLiteral("unknown command '%1'").arg(command));
}
