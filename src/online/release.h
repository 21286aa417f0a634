// Signed release metadata: one small text file per model directory on the
// update server (<model>/<model>.release) with a detached Ed25519 signature
// beside it (<model>/<model>.release.sig). It names the model directory, the
// version, the image's file name, size and SHA-256, a release counter that
// only grows and an expiry time, so a build with a key accepts only the
// image its publisher released for this model, not an older release
// replayed, not a release held back past its expiry, and not another
// model's image served under this model's name.
//
// The highest counter accepted per model is kept in a small file in the
// user's data root (counterstore.h), so a server cannot go back to an
// earlier release once a later one has been seen.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace release {

// The largest metadata file read.
constexpr std::int64_t kMetadataCap = 4096;

struct Metadata {
    QString model;   // "KRV3200"
    QString version; // "3215"
    QString file;    // "3215.bin"
    std::int64_t size = 0;
    QByteArray sha256; // 32 bytes
    std::uint64_t counter = 0;
    std::int64_t expires = 0; // seconds since 1970 (UTC)
};

// "<model>/<model>.release".
QString metadataPath(const QString& model);

// The file's text: a first line naming the format, then one "key value"
// line each for model, version, file, size, sha256 (hex), counter, expires.
QByteArray format(const Metadata& metadata);
// The strict reverse of format(): every line, in that order, nothing else.
bool parse(const QByteArray& text, Metadata* metadata);

// The metadata itself, as a version check takes it: its signature with
// `publicKey`, its format, that it names `model` and a version that is a
// firmware number of that model, that it has not expired at `now`, and
// that its counter is not lower than the one kept in `counterFile` for the
// model (compared only: the check keeps nothing). Returns an empty text and
// fills `metadata` on success, otherwise what failed; a counter store that
// cannot be trusted (damaged, not a regular file of this user, in a
// directory others can write) is a failure, never a first use.
QString check(const QByteArray& text, const QByteArray& signature, const QByteArray& publicKey,
              const QString& model, const QString& counterFile, std::int64_t now, Metadata* metadata);

// What an image must be to pass.
struct Expected {
    QString model;
    QString version;
    QString file;
    std::int64_t size = 0;
    QByteArray sha256;
};

// Binds metadata that passed check() to the image fetched: it must not
// have expired at `now` since and must name `expected` exactly. Then the
// counter is compared again and kept (raised
// when higher) unless `keep` is false (a check that writes nothing must not
// hold a later real run to a release it never wrote). Empty on success,
// otherwise what failed.
QString bind(const Metadata& metadata, const Expected& expected, const QString& counterFile, std::int64_t now,
             bool keep = true);

} // namespace release
