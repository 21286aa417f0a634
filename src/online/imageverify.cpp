#include "online/imageverify.h"

#include "image/firmwareimage.h"

#include <QCryptographicHash>

#include <algorithm>

#include <sodium.h>

namespace imageverify {

namespace {
bool sodiumReady()
{
    return sodium_init() >= 0; // 1: already initialised, also fine
}

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
} // namespace

const char* verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Ok:
        return "verified";
    case Verdict::Incomplete:
        return "the image did not arrive whole";
    case Verdict::BadFormat:
        return "the image is not a well-formed firmware image";
    case Verdict::VersionMismatch:
        return "the image's header carries another version than the one offered";
    case Verdict::DigestUnreadable:
        return "the .sha256 file holds no SHA-256 digest of this image's file name";
    case Verdict::DigestMismatch:
        return "the image's SHA-256 digest differs from the .sha256 file";
    case Verdict::SignatureMissing:
        return "the image has no .sig signature and this build requires one";
    case Verdict::SignatureBad:
        return "the image's .sig signature does not verify against the build's key";
    case Verdict::KeyUnusable:
        return "the build's public key is not 32 bytes in hex or base64";
    case Verdict::CompanionFailed:
        return "a .sha256 or .sig file could not be fetched";
    }
    return "unknown";
}

bool parseDigestLine(const QByteArray& text, const QString& fileName, QByteArray* digest)
{
    // sha256sum writes the digest, a blank, then " " or "*" and the name.
    QByteArray line = text.left(text.indexOf('\n') < 0 ? text.size() : text.indexOf('\n'));
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.size() < 2 * kDigestBytes + 2 || line.at(2 * kDigestBytes) != ' ')
        return false;
    for (int i = 0; i < 2 * kDigestBytes; ++i) {
        if (!isHex(line.at(i)))
            return false;
    }
    const char mode = line.at(2 * kDigestBytes + 1);
    if ((mode != ' ' && mode != '*') || line.mid(2 * kDigestBytes + 2) != fileName.toUtf8())
        return false;
    *digest = QByteArray::fromHex(line.left(2 * kDigestBytes));
    return true;
}

bool parsePublicKey(const QString& text, QByteArray* key)
{
    const QByteArray raw = text.trimmed().toLatin1();
    QByteArray decoded;
    if (raw.size() == 2 * kPublicKeyBytes && std::all_of(raw.begin(), raw.end(), isHex)) {
        decoded = QByteArray::fromHex(raw);
    } else {
        const auto parsed = QByteArray::fromBase64Encoding(raw, QByteArray::AbortOnBase64DecodingErrors);
        if (!parsed)
            return false;
        decoded = *parsed;
    }
    if (decoded.size() != kPublicKeyBytes)
        return false;
    *key = decoded;
    return true;
}

QString buildKeyText()
{
    return QStringLiteral(UPDATER_SIGNING_PUBLIC_KEY);
}

bool makeKeyPair(QByteArray* publicKey, QByteArray* secretKey)
{
    if (!sodiumReady())
        return false;
    publicKey->resize(crypto_sign_PUBLICKEYBYTES);
    secretKey->resize(crypto_sign_SECRETKEYBYTES);
    return crypto_sign_keypair(reinterpret_cast<unsigned char*>(publicKey->data()),
                               reinterpret_cast<unsigned char*>(secretKey->data())) == 0;
}

QByteArray sign(const QByteArray& data, const QByteArray& secretKey)
{
    if (!sodiumReady() || secretKey.size() != crypto_sign_SECRETKEYBYTES)
        return QByteArray();
    QByteArray signature(crypto_sign_BYTES, '\0');
    if (crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                             reinterpret_cast<const unsigned char*>(data.constData()),
                             static_cast<unsigned long long>(data.size()),
                             reinterpret_cast<const unsigned char*>(secretKey.constData())) != 0)
        return QByteArray();
    return signature;
}

QByteArray publicKeyOfSeed(const QByteArray& secretKey)
{
    if (!sodiumReady() || secretKey.size() != crypto_sign_SECRETKEYBYTES)
        return QByteArray();
    QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, '\0'), again(crypto_sign_SECRETKEYBYTES, '\0');
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char*>(publicKey.data()),
                             reinterpret_cast<unsigned char*>(again.data()),
                             reinterpret_cast<const unsigned char*>(secretKey.constData()));
    sodium_memzero(again.data(), std::size_t(again.size()));
    return publicKey;
}

bool signatureValid(const QByteArray& data, const QByteArray& signature, const QByteArray& publicKey)
{
    if (!sodiumReady() || signature.size() != crypto_sign_BYTES ||
        publicKey.size() != crypto_sign_PUBLICKEYBYTES)
        return false;
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.constData()),
                                       reinterpret_cast<const unsigned char*>(data.constData()),
                                       static_cast<unsigned long long>(data.size()),
                                       reinterpret_cast<const unsigned char*>(publicKey.constData())) == 0;
}

bool imageVersion(const QByteArray& image, std::int64_t* version, QString* why)
{
    // The one place the online road asks the image module about a file.
    const fwimage::Check check = fwimage::checkImage(image);
    fwimage::Header header;
    if (check != fwimage::Check::Ok || !fwimage::parseHeader(image, &header)) {
        if (why)
            *why = QString::fromLatin1(fwimage::checkName(check));
        return false;
    }
    *version = std::int32_t(header.version);
    return true;
}

Verdict verifyImage(const QByteArray& image, const QString& fileName, std::int64_t expectedVersion,
                    std::int64_t announced, const CompanionFetcher& fetch, const QString& keyText,
                    QString* detail)
{
    auto fail = [detail](Verdict verdict, const QString& what) {
        if (detail)
            *detail = QString::fromLatin1(verdictText(verdict)) + what;
        return verdict;
    };
    if (announced >= 0 && image.size() != announced)
        return fail(Verdict::Incomplete,
                    QStringLiteral(" (%1 of %2 bytes)").arg(image.size()).arg(announced));
    std::int64_t version = -1;
    QString why;
    if (!imageVersion(image, &version, &why))
        return fail(Verdict::BadFormat, QStringLiteral(" (%1)").arg(why));
    if (expectedVersion >= 0 && version != expectedVersion)
        return fail(Verdict::VersionMismatch,
                    QStringLiteral(" (header %1, offered %2)").arg(version).arg(expectedVersion));

    // The key is looked at before anything is fetched: a build whose key
    // cannot be read accepts nothing.
    QByteArray key;
    if (!keyText.isEmpty() && !parsePublicKey(keyText, &key))
        return fail(Verdict::KeyUnusable, QString());

    const Companion digestFile = fetch(QStringLiteral(".sha256"), kDigestFileCap);
    if (digestFile.state == Companion::State::Failed)
        return fail(Verdict::CompanionFailed, QStringLiteral(" (.sha256)"));
    if (digestFile.state == Companion::State::Present) {
        QByteArray expected;
        if (!parseDigestLine(digestFile.bytes, fileName, &expected))
            return fail(Verdict::DigestUnreadable, QStringLiteral(" (%1)").arg(fileName));
        const QByteArray actual = QCryptographicHash::hash(image, QCryptographicHash::Sha256);
        if (actual != expected)
            return fail(Verdict::DigestMismatch,
                        QStringLiteral(" (%1, expected %2)")
                            .arg(QLatin1String(actual.toHex()), QLatin1String(expected.toHex())));
    }

    if (key.isEmpty())
        return Verdict::Ok;
    const Companion signature = fetch(QStringLiteral(".sig"), kSignatureBytes);
    if (signature.state == Companion::State::Failed)
        return fail(Verdict::CompanionFailed, QStringLiteral(" (.sig)"));
    if (signature.state == Companion::State::Absent)
        return fail(Verdict::SignatureMissing, QString());
    if (!signatureValid(image, signature.bytes, key))
        return fail(Verdict::SignatureBad, QString());
    return Verdict::Ok;
}

} // namespace imageverify
