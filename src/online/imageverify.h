// The checks a downloaded image passes before it counts as downloaded: it
// arrived whole, it is a well-formed image file, it matches the SHA-256
// digest the server keeps beside it (<image>.sha256, as sha256sum writes it)
// where there is one, and, in a build that names a public key
// (UPDATER_SIGNING_PUBLIC_KEY), its detached Ed25519 signature
// (<image>.sig) verifies against that key. Digests come from Qt's
// QCryptographicHash, signatures from libsodium.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

namespace imageverify {

constexpr int kDigestBytes = 32;
constexpr int kPublicKeyBytes = 32;
constexpr int kSecretKeyBytes = 64;
constexpr int kSignatureBytes = 64;
// The longest .sha256 file read: one line of digest and file name.
constexpr std::int64_t kDigestFileCap = 4096;

enum class Verdict {
    Ok,
    Incomplete,       // fewer or more bytes than the server announced
    BadFormat,        // not a well-formed image file
    DigestUnreadable, // a .sha256 file without a digest in it
    DigestMismatch,   // the image's digest differs from the .sha256 file's
    SignatureMissing, // the build names a key and the server has no .sig
    SignatureBad,     // the .sig does not verify against the key
    KeyUnusable,      // the build's key is not 32 bytes in hex or base64
    CompanionFailed,  // a .sha256 or .sig file is there but could not be fetched
};
// What failed, in words for a log line.
const char* verdictText(Verdict verdict);

// A file beside the image on the server.
struct Companion {
    enum class State { Absent, Present, Failed };
    State state = State::Absent;
    QByteArray bytes;
};
// Fetches the image's server path followed by `suffix` (".sha256" or
// ".sig"), keeping at most `cap` bytes.
using CompanionFetcher = std::function<Companion(const QString& suffix, std::int64_t cap)>;

// The digest of a sha256sum line ("<64 hex digits>  <name>" or the digits
// alone); false when the text holds none.
bool parseDigestLine(const QByteArray& text, QByteArray* digest);

// A public key written as 64 hex digits or as base64 of its 32 bytes.
bool parsePublicKey(const QString& text, QByteArray* key);
// The key the image must be signed with: the build's setting, unless a test
// chose another with setTrustedKeyText (a null text restores the build's).
// Empty when images need no signature.
QString trustedKeyText();
void setTrustedKeyText(const QString& text);

// Ed25519 through libsodium.
bool makeKeyPair(QByteArray* publicKey, QByteArray* secretKey);
QByteArray sign(const QByteArray& data, const QByteArray& secretKey);
bool signatureValid(const QByteArray& data, const QByteArray& signature, const QByteArray& publicKey);

// The checks in order, on an image in memory. `announced` is the size the
// server gave, -1 for none. `detail` receives what failed.
Verdict verifyImage(const QByteArray& image, std::int64_t announced, const CompanionFetcher& fetch,
                    const QString& keyText, QString* detail);

// verifyImage on the file at `path` (read up to `cap` bytes, with the
// trusted key); a file that fails is removed.
Verdict verifyImageFile(const QString& path, std::int64_t announced, std::int64_t cap,
                        const CompanionFetcher& fetch, QString* detail);

} // namespace imageverify
