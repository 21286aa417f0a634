#include "online/release.h"

#include "core/terminaltext.h"
#include "online/counterstore.h"
#include "online/imageverify.h"
#include "online/serverlayout.h"

#include <QList>

namespace release {

namespace {
const QByteArray kFormatLine = "firmware-updater release 1";
const char* const kKeys[] = {"model", "version", "file", "size", "sha256", "counter", "expires"};

bool plainNumber(const QByteArray& text, std::uint64_t* value)
{
    return counterstore::decimal(text.toStdString(), value, true);
}
} // namespace

QString metadataPath(const QString& model)
{
    return model + QLatin1Char('/') + model + QStringLiteral(".release");
}

QByteArray format(const Metadata& m)
{
    return kFormatLine + "\nmodel " + m.model.toLatin1() + "\nversion " + m.version.toLatin1() + "\nfile " +
           m.file.toLatin1() + "\nsize " + QByteArray::number(qint64(m.size)) + "\nsha256 " +
           m.sha256.toHex() + "\ncounter " + QByteArray::number(quint64(m.counter)) + "\nexpires " +
           QByteArray::number(qint64(m.expires)) + '\n';
}

bool parse(const QByteArray& text, Metadata* m)
{
    if (text.size() > kMetadataCap || !text.endsWith('\n'))
        return false;
    const QList<QByteArray> lines = text.left(text.size() - 1).split('\n');
    if (lines.size() != 8 || lines[0] != kFormatLine)
        return false;
    QByteArray values[7];
    for (int i = 0; i < 7; ++i) {
        const QByteArray prefix = QByteArray(kKeys[i]) + ' ';
        if (!lines[i + 1].startsWith(prefix))
            return false;
        values[i] = lines[i + 1].mid(prefix.size());
    }
    std::uint64_t size = 0, counter = 0, expires = 0;
    const QByteArray digest = QByteArray::fromHex(values[4]);
    if (!plainNumber(values[3], &size) || !plainNumber(values[5], &counter) ||
        !plainNumber(values[6], &expires) || values[4].size() != 2 * imageverify::kDigestBytes ||
        digest.toHex() != values[4].toLower())
        return false;
    m->model = QString::fromLatin1(values[0]);
    m->version = QString::fromLatin1(values[1]);
    m->file = QString::fromLatin1(values[2]);
    m->size = std::int64_t(size);
    m->sha256 = digest;
    m->counter = counter;
    m->expires = std::int64_t(expires);
    return true;
}

namespace {
counterstore::Outcome compareCounter(const Metadata& m, const QString& counterFile, bool keep)
{
    return counterstore::raise(
        counterFile.toUtf8().toStdString(), m.model.toStdString(), m.counter,
        [](const std::string& model) {
            return isModelDirectory(QString::fromLatin1(model.data(), int(model.size())));
        },
        keep);
}

QString counterWhy(const Metadata& m, const counterstore::Outcome& kept)
{
    if (kept.state == counterstore::Outcome::State::Lower)
        return QStringLiteral("release counter %1 is lower than %2, the highest seen for %3")
            .arg(m.counter)
            .arg(kept.kept)
            .arg(m.model);
    if (kept.state == counterstore::Outcome::State::Refused)
        return QString::fromStdString(kept.why);
    return QString();
}
} // namespace

QString check(const QByteArray& text, const QByteArray& signature, const QByteArray& publicKey,
              const QString& model, const QString& counterFile, std::int64_t now, Metadata* metadata)
{
    if (!imageverify::signatureValid(text, signature, publicKey))
        return QStringLiteral("the release metadata's signature does not verify against the build's key");
    Metadata m;
    if (!parse(text, &m))
        return QStringLiteral("the release metadata is not in the release format");
    std::uint64_t version = 0;
    if (m.model != model || !counterstore::decimal(m.version.toStdString(), &version, false) ||
        version > 0xFFFF || modelDirectory(int(version)) != model)
        return QStringLiteral("the release metadata names model %1, version %2, not a version of model %3")
            .arg(terminaltext::printable(m.model), terminaltext::printable(m.version), model);
    if (m.expires <= now)
        return QStringLiteral("the release metadata expired at %1 (now %2)").arg(m.expires).arg(now);
    if (const QString why = counterWhy(m, compareCounter(m, counterFile, false)); !why.isEmpty())
        return why;
    *metadata = m;
    return QString();
}

QString bind(const Metadata& m, const Expected& expected, const QString& counterFile, std::int64_t now,
             bool keep)
{
    // Checked again: a download may start long after its check (the window
    // waits for the user's answer).
    if (now >= m.expires)
        return QStringLiteral("the release metadata expired at %1 (now %2)").arg(m.expires).arg(now);
    if (m.model != expected.model || m.version != expected.version || m.file != expected.file)
        return QStringLiteral("the release metadata names %1/%2 (version %3), not %4/%5 (version %6)")
            .arg(terminaltext::printable(m.model), terminaltext::printable(m.file),
                 terminaltext::printable(m.version), expected.model, expected.file, expected.version);
    if (m.size != expected.size || m.sha256 != expected.sha256)
        return QStringLiteral(
                   "the image (%1 bytes, SHA-256 %2) is not the released one (%3 bytes, SHA-256 %4)")
            .arg(expected.size)
            .arg(QLatin1String(expected.sha256.toHex()))
            .arg(m.size)
            .arg(QLatin1String(m.sha256.toHex()));
    return counterWhy(m, compareCounter(m, counterFile, keep));
}

} // namespace release
