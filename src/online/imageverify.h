// The checks a downloaded image passes before it counts as downloaded: it
// arrived whole, it is a well-formed image file whose header carries the
// version it was offered as, it matches the SHA-256 digest the server keeps
// beside it (<image>.sha256, as sha256sum writes it, naming the image's own
// file) where there is one, and, in a build that names a public key
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
    VersionMismatch,  // the header's version is not the one offered
    DigestUnreadable, // a .sha256 file without a digest of this image's name
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

// The digest of a sha256sum line ("<64 hex digits>  <name>" or " *<name>")
// whose name is `fileName`; false when the text holds no such line (an
// empty file, the digits alone, or another file's name).
bool parseDigestLine(const QByteArray& text, const QString& fileName, QByteArray* digest);

// A public key written as 64 hex digits or as base64 of its 32 bytes.
bool parsePublicKey(const QString& text, QByteArray* key);
// The build's key (UPDATER_SIGNING_PUBLIC_KEY): the one an online::Context
// starts with. Empty when images need no signature.
QString buildKeyText();

// Ed25519 through libsodium.
bool makeKeyPair(QByteArray* publicKey, QByteArray* secretKey);
QByteArray sign(const QByteArray& data, const QByteArray& secretKey);
// The public key of a secret key's seed (its first 32 bytes); empty for a
// key of another size. A whole secret key ends with exactly this.
QByteArray publicKeyOfSeed(const QByteArray& secretKey);
bool signatureValid(const QByteArray& data, const QByteArray& signature, const QByteArray& publicKey);

// The header version of an image that passes the format checks; false for
// one that does not.
bool imageVersion(const QByteArray& image, std::int64_t* version, QString* why = nullptr);

// The checks in order, on an image in memory named `fileName` on the
// server. `expectedVersion` is the version it was offered as (-1: not
// checked); `announced` the size the server gave, -1 for none. `detail`
// receives what failed.
Verdict verifyImage(const QByteArray& image, const QString& fileName, std::int64_t expectedVersion,
                    std::int64_t announced, const CompanionFetcher& fetch, const QString& keyText,
                    QString* detail);

} // namespace imageverify
