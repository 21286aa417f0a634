// The online update's downloads as plain code, with no window: the version
// list of a model, and the image it offers, fetched into a private
// directory (privatefiles.h), verified, and only then moved to its place in
// the download tree. The verified bytes are handed back in memory: they,
// not the file, are what an upgrade writes.
//
// Every image must: carry in its header the version the list offers; belong
// by that version to the same model directory as the device's firmware
// number (serverlayout.h); be newer than the device's firmware, compared as
// numbers; pass imageverify's checks (.sha256 with the image's own name,
// and in a build with a key its .sig); and, in a build with a key, be the
// one the model's signed release metadata names (release.h). With a key
// that metadata, not the plain list, decides which version is the newest;
// without one no image is fetched unless the context allows unsigned ones.
#pragma once

#include "online/context.h"
#include "online/release.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

namespace online {

enum class Road {
    Curl,      // libcurl
    FtpClient, // the updater's own FTP client
};

struct Source {
    Road road = Road::Curl;
    QString address;
    int port = 21;
};
// The update server the process is set up for (updateserver.h).
Source updateSource(Road road);

// The largest version list read.
constexpr std::int64_t kVersionListCap = 64 * 1024;

// A local file or directory that could not be made: errno and the path.
struct LocalFailure {
    int error = 0;
    QString path;
};

// A version number: 1 to 5 decimal digits, at most 65535 (a device
// firmware number). False for anything else.
bool versionNumber(const QString& text, int* number);

struct ListResult {
    bool ok = false;
    QString version; // the first line, a version number
    QString why;     // what failed
    LocalFailure local;
};
// Every fetch below is bounded by the context's limits (inside the thread's
// open fetchlimits::Scope, by its deadline as well) and traced as the
// context says.

// The version list at `serverPath`, through libcurl, via a private
// directory under `localDir`: at most kVersionListCap bytes, its first line
// only, which must be a version number. Nothing stays on disk.
ListResult fetchVersionList(const Source& source, const QString& serverPath, const QString& localDir,
                            const Context& context);

// What decides the newest version of a model. With a key: the model's
// signed release metadata (and its .sig), fetched on the source's road and
// passing release::check (signature, model, expiry, a counter not lower
// than the one kept; nothing kept); the plain list is not fetched. Without
// a key: the version list, through libcurl. Never "up to date" on a
// failure: a failed check is not ok.
struct ReleaseCheck {
    bool ok = false;
    QString model;
    QString version;                                        // the version offered
    int offered = 0;                                        // the same as a number
    std::shared_ptr<const release::Metadata> signedRelease; // with a key: what passed the check
    QString why;
    LocalFailure local;
};
ReleaseCheck checkRelease(const Source& source, const QString& model, const QString& localDir,
                          const QString& counterFile, const Context& context);

// The refusal of a context without a key that does not allow unsigned
// images; empty when images may be fetched.
QString unsignedRefusal(const Context& context);

struct ImageRequest {
    Source source;
    QString localDir;        // the image ends at localDir/<model>/<version>.bin
    QString model;           // the model directory on the server
    QString version;         // what the list offers
    int deviceFirmware = 0;  // 0: not known (then only the model is checked)
    Context context;         // its key (empty: no signatures), limits, trace
    QString counterFile;     // where release counters are kept
    bool keepCounter = true; // false: the release counter is checked, not raised
    // With a key: the metadata the version check verified (checkRelease), so
    // it is not fetched again; none: fetched and checked here.
    std::shared_ptr<const release::Metadata> signedRelease = nullptr;
};
struct ImageResult {
    bool ok = false;
    QByteArray image; // the verified bytes
    QString savedPath;
    QString why;
    LocalFailure local;
    bool refused = false; // unsignedRefusal(): nothing was fetched
};
// Fetches, verifies and saves one image; on failure nothing is left at the
// final name (a copy from an earlier run is removed).
ImageResult fetchVerifiedImage(const ImageRequest& request);

struct FileResult {
    int curlCode = 0;      // 0 for a whole transfer (the own client: 0 or 78 for a missing file, else 56)
    std::int64_t size = 0; // bytes that arrived
    QString why;
    LocalFailure local;
};
// One file with no checks: fetched into a private directory under
// `localDir`, then renamed to localDir + "/" + remote. A file that arrived
// empty leaves no local file. `localDir` must exist.
FileResult fetchFileInto(const Source& source, const QString& remote, const QString& localDir,
                         const Context& context);

// The whole road for a session without a window: the model's check
// (checkRelease), then, when it offers a newer version, that image, all
// under one deadline.
// `dataRoot` is the data root (core/dataroot.h): downloads go below its
// "file" directory and release counters beside it. `upToDate` is set when
// the check offers nothing newer (the result then is not ok, with no why).
// `keepCounter` false: every check is made, but the release counter seen is
// not kept (a check run that writes nothing).
ImageResult fetchNewest(const Source& source, const QString& dataRoot, int deviceFirmware,
                        const Context& context, bool* upToDate, bool keepCounter = true);

// Where the release counters of a data root are kept.
QString counterFileOf(const QString& dataRoot);

} // namespace online
