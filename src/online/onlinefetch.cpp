#include "online/onlinefetch.h"

#include "online/curlfetch.h"
#include "online/fetchlimits.h"
#include "online/ftpfetch.h"
#include "online/imageverify.h"
#include "online/privatefiles.h"
#include "online/release.h"
#include "online/serverlayout.h"
#include "online/updateserver.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>

namespace online {

namespace {

// One file fetched into a private directory and read back into memory.
struct Fetched {
    enum class State { Ok, Missing, Failed };
    State state = State::Failed;
    QByteArray bytes;
    int curlCode = CURLE_OK;
    QString why;
    LocalFailure local;
};

QString where(const Source& source, const QString& remote)
{
    return QStringLiteral("server %1:%2, file %3").arg(source.address).arg(source.port).arg(remote);
}

Fetched fetchToMemory(const Source& source, const QString& remote, const PrivateDir& dir, std::int64_t cap,
                      const Context& context)
{
    Fetched f;
    // The names come from the server layout; one leading out of the
    // private directory is never written.
    if (remote.split(QLatin1Char('/')).contains(QStringLiteral(".."))) {
        f.why = where(source, remote) + QStringLiteral(": a path with \"..\" is not fetched");
        return f;
    }
    const QString local = dir.path() + QLatin1Char('/') + remote;
    QDir().mkpath(QFileInfo(local).absolutePath());
    if (source.road == Road::Curl) {
        std::int64_t announced = -1;
        int writeError = 0;
        const QByteArray url = updateUrl(source.address, source.port, remote).toLatin1();
        f.curlCode = fetchUrl(url, QFile::encodeName(local), cap, fetchlimits::remainingMs(context.limits),
                              context.verbose, &announced, &writeError);
        // libcurl takes a refused SIZE for a missing file; a file is missing
        // only when RETR is refused too, as on the own client's road, so a
        // server cannot make a .sha256 look absent by refusing its size.
        if (f.curlCode == CURLE_REMOTE_FILE_NOT_FOUND)
            f.curlCode =
                fetchUrl(url, QFile::encodeName(local), cap, fetchlimits::remainingMs(context.limits),
                         context.verbose, &announced, &writeError, false);
        if (writeError != 0) {
            f.local = {writeError, local};
            f.why = QStringLiteral("%1: %2").arg(local, qt_error_string(writeError));
            return f;
        }
        if (f.curlCode == CURLE_REMOTE_FILE_NOT_FOUND) {
            f.state = Fetched::State::Missing;
            f.why = where(source, remote) + QStringLiteral(": not on the server");
            return f;
        }
        if (f.curlCode != CURLE_OK) {
            f.why = where(source, remote) + QStringLiteral(": %1 (libcurl %2)")
                                                .arg(QLatin1String(curl_easy_strerror(CURLcode(f.curlCode))))
                                                .arg(f.curlCode);
            return f;
        }
    } else {
        const FtpServer server{source.address, source.port, updateServerUser(), updateServerPassword()};
        const FtpFetch fetch =
            fetchWithFtpClient(server, remote, dir.path(), cap, fetchlimits::fetchDeadline(context.limits));
        // A size of 0 is a file that is there and empty, as on the other road.
        if (fetch.outcome == FtpFetch::Outcome::Missing && fetch.announced != 0) {
            f.state = Fetched::State::Missing;
            f.curlCode = CURLE_REMOTE_FILE_NOT_FOUND;
            f.why = fetch.why;
            return f;
        }
        if (fetch.outcome == FtpFetch::Outcome::Failed) {
            f.curlCode = CURLE_RECV_ERROR;
            f.why = fetch.why;
            return f;
        }
    }
    QFile file(local);
    if (file.exists() && !file.open(QIODevice::ReadOnly)) {
        f.local = {EIO, local};
        f.why = QStringLiteral("%1: %2").arg(local, file.errorString());
        return f;
    }
    if (file.isOpen()) {
        // Never more than the file holds: read() sizes its buffer first.
        f.bytes = file.read(std::min<std::int64_t>(cap, file.size()) + 1);
        if (f.bytes.size() > cap) {
            f.why = where(source, remote) + QStringLiteral(": more than %1 bytes").arg(cap);
            return f;
        }
    }
    QFile::remove(local);
    f.state = Fetched::State::Ok;
    return f;
}

// False when the private directory could not be made: what failed in
// `why`, and in `local` the system's error when it was not our refusal.
bool usable(const PrivateDir& dir, QString* why, LocalFailure* local)
{
    if (dir.ok())
        return true;
    if (!dir.refused())
        *local = {dir.error(), dir.failedPath()};
    *why = dir.why();
    return false;
}

ImageResult failed(const QString& why)
{
    ImageResult r;
    r.why = why;
    return r;
}

} // namespace

Source updateSource(Road road)
{
    return Source{road, updateServerAddress(), updateServerPort()};
}

bool versionNumber(const QString& text, int* number)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    int value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        value = value * 10 + (c.unicode() - '0');
    }
    if (value > 0xFFFF)
        return false;
    *number = value;
    return true;
}

QString counterFileOf(const QString& dataRoot)
{
    return dataRoot + QStringLiteral("/release-counters");
}

ListResult fetchVersionList(const Source& source, const QString& serverPath, const QString& localDir,
                            const Context& context)
{
    ListResult result;
    PrivateDir dir(localDir);
    if (!usable(dir, &result.why, &result.local))
        return result;
    Source curl = source;
    curl.road = Road::Curl; // lists always come through libcurl
    const Fetched f = fetchToMemory(curl, serverPath, dir, kVersionListCap, context);
    result.local = f.local;
    if (f.state != Fetched::State::Ok) {
        result.why = f.why;
        return result;
    }
    // The first line only; LF or CR LF.
    QByteArray first = f.bytes.left(f.bytes.indexOf('\n') < 0 ? f.bytes.size() : f.bytes.indexOf('\n'));
    if (first.endsWith('\r'))
        first.chop(1);
    int number = 0;
    result.version = QString::fromLatin1(first);
    if (f.bytes.isEmpty() || !isVersionToken(result.version) || !versionNumber(result.version, &number)) {
        result.why = where(source, serverPath) + QStringLiteral(": the first line is no version number");
        result.version.clear();
        return result;
    }
    result.ok = true;
    return result;
}

QString unsignedRefusal(const Context& context)
{
    if (!context.keyText.isEmpty() || context.allowUnsigned)
        return QString();
    return QStringLiteral("this build has no signing key, so images from the update server cannot be "
                          "verified: use a build with the vendor's key (UPDATER_SIGNING_PUBLIC_KEY), or "
                          "--allow-unsigned");
}

ReleaseCheck checkRelease(const Source& source, const QString& model, const QString& localDir,
                          const QString& counterFile, const Context& context)
{
    ReleaseCheck result;
    result.model = model;
    if (context.keyText.isEmpty()) {
        const ListResult list = fetchVersionList(source, versionListPath(model), localDir, context);
        result.local = list.local;
        result.why = list.why;
        result.ok = list.ok && versionNumber(list.version, &result.offered);
        result.version = list.version;
        return result;
    }
    QByteArray key;
    if (!imageverify::parsePublicKey(context.keyText, &key)) {
        result.why = QString::fromLatin1(imageverify::verdictText(imageverify::Verdict::KeyUnusable));
        return result;
    }
    PrivateDir dir(localDir);
    if (!usable(dir, &result.why, &result.local))
        return result;
    const QString metaPath = release::metadataPath(model);
    const Fetched meta = fetchToMemory(source, metaPath, dir, release::kMetadataCap, context);
    const Fetched sig = meta.state == Fetched::State::Ok
                            ? fetchToMemory(source, metaPath + QStringLiteral(".sig"), dir,
                                            imageverify::kSignatureBytes, context)
                            : meta;
    if (meta.state != Fetched::State::Ok || sig.state != Fetched::State::Ok) {
        result.local = sig.local;
        result.why = where(source, metaPath) +
                     QStringLiteral(": the signed release metadata could not be had (") + sig.why +
                     QLatin1Char(')');
        return result;
    }
    release::Metadata checked;
    const QString why = release::check(meta.bytes, sig.bytes, key, model, counterFile,
                                       QDateTime::currentSecsSinceEpoch(), &checked);
    if (!why.isEmpty()) {
        result.why = where(source, metaPath) + QStringLiteral(": ") + why;
        return result;
    }
    result.ok = versionNumber(checked.version, &result.offered);
    result.version = checked.version;
    result.signedRelease = std::make_shared<const release::Metadata>(checked);
    return result;
}

FileResult fetchFileInto(const Source& source, const QString& remote, const QString& localDir,
                         const Context& context)
{
    FileResult result;
    PrivateDir dir(localDir);
    if (!usable(dir, &result.why, &result.local)) {
        result.curlCode = CURLE_WRITE_ERROR;
        return result;
    }
    const Fetched f = fetchToMemory(source, remote, dir, context.limits.capBytes, context);
    result.curlCode = f.curlCode;
    result.why = f.why;
    result.local = f.local;
    if (f.state != Fetched::State::Ok)
        return result;
    result.size = f.bytes.size();
    if (f.bytes.isEmpty())
        return result; // as libcurl leaves it: no data, no file
    const QString target = localDir + QLatin1Char('/') + remote;
    QDir().mkpath(QFileInfo(target).absolutePath());
    if (const int error = replaceFile(dir.path(), target, f.bytes)) {
        result.curlCode = CURLE_WRITE_ERROR;
        result.local = {error, target};
        result.why = QStringLiteral("%1: %2").arg(target, qt_error_string(error));
    }
    return result;
}

ImageResult fetchVerifiedImage(const ImageRequest& request)
{
    const QString remote = imagePath(request.model, request.version);
    const QString target = request.localDir + QLatin1Char('/') + remote;
    const QString fileName = request.version + QStringLiteral(".bin");
    // Whatever happens below, an older file at the final name never passes
    // for this download.
    QFile::remove(target);

    int offered = 0;
    if (!versionNumber(request.version, &offered))
        return failed(where(request.source, remote) + QStringLiteral(": the version is no number"));
    if (modelDirectory(offered) != request.model)
        return failed(QStringLiteral("version %1 is not a firmware number of model %2")
                          .arg(request.version, request.model));
    if (request.deviceFirmware > 0) {
        if (modelDirectory(request.deviceFirmware) != request.model)
            return failed(QStringLiteral("the device's firmware %1 is not of model %2")
                              .arg(request.deviceFirmware)
                              .arg(request.model));
        if (offered <= request.deviceFirmware)
            return failed(QStringLiteral("version %1 is not newer than the device's firmware %2")
                              .arg(offered)
                              .arg(request.deviceFirmware));
    }

    if (const QString why = unsignedRefusal(request.context); !why.isEmpty()) {
        ImageResult r = failed(why);
        r.refused = true;
        return r;
    }
    PrivateDir dir(request.localDir);
    if (!dir.ok()) {
        ImageResult r = failed(dir.why());
        if (!dir.refused())
            r.local = {dir.error(), dir.failedPath()};
        return r;
    }
    const Fetched image =
        fetchToMemory(request.source, remote, dir, request.context.limits.capBytes, request.context);
    if (image.state != Fetched::State::Ok) {
        ImageResult r = failed(image.why);
        r.local = image.local;
        return r;
    }
    const auto companion = [&](const QString& suffix, std::int64_t cap) {
        const Fetched f = fetchToMemory(request.source, remote + suffix, dir, cap, request.context);
        imageverify::Companion c;
        c.state = f.state == Fetched::State::Ok        ? imageverify::Companion::State::Present
                  : f.state == Fetched::State::Missing ? imageverify::Companion::State::Absent
                                                       : imageverify::Companion::State::Failed;
        c.bytes = f.bytes;
        return c;
    };
    QString detail;
    if (imageverify::verifyImage(image.bytes, fileName, offered, -1, companion, request.context.keyText,
                                 &detail) != imageverify::Verdict::Ok)
        return failed(where(request.source, remote) + QStringLiteral(": ") + detail);

    if (!request.context.keyText.isEmpty()) {
        std::shared_ptr<const release::Metadata> meta = request.signedRelease;
        if (!meta) {
            const ReleaseCheck check = checkRelease(request.source, request.model, request.localDir,
                                                    request.counterFile, request.context);
            meta = check.signedRelease;
            if (!check.ok || !meta) {
                ImageResult r =
                    failed(check.ok ? where(request.source, release::metadataPath(request.model)) +
                                          QStringLiteral(": no verified release metadata")
                                    : check.why);
                r.local = check.local;
                return r;
            }
        }
        const release::Expected expected{request.model, request.version, fileName, image.bytes.size(),
                                         QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256)};
        const QString why = release::bind(*meta, expected, request.counterFile,
                                          QDateTime::currentSecsSinceEpoch(), request.keepCounter);
        if (!why.isEmpty())
            return failed(where(request.source, release::metadataPath(request.model)) + QStringLiteral(": ") +
                          why);
    }

    QDir().mkpath(QFileInfo(target).absolutePath());
    if (const int error = replaceFile(dir.path(), target, image.bytes)) {
        ImageResult r = failed(QStringLiteral("%1: %2").arg(target, qt_error_string(error)));
        r.local = {error, target};
        return r;
    }
    ImageResult r;
    r.ok = true;
    r.image = image.bytes;
    r.savedPath = target;
    return r;
}

ImageResult fetchNewest(const Source& source, const QString& dataRoot, int deviceFirmware,
                        const Context& context, bool* upToDate, bool keepCounter)
{
    const fetchlimits::Scope bounded(context.limits);
    *upToDate = false;
    const QString model = modelDirectory(deviceFirmware);
    if (model.isEmpty())
        return failed(QStringLiteral("firmware %1 belongs to no model").arg(deviceFirmware));
    const QString localDir = dataRoot + QStringLiteral("/file");
    QDir().mkpath(localDir);
    const ReleaseCheck check = checkRelease(source, model, localDir, counterFileOf(dataRoot), context);
    if (!check.ok) {
        ImageResult r = failed(check.why);
        r.local = check.local;
        return r;
    }
    if (check.offered <= deviceFirmware) {
        *upToDate = true;
        return ImageResult();
    }
    ImageRequest request{
        source,     localDir, model, check.version, deviceFirmware, context, counterFileOf(dataRoot),
        keepCounter};
    request.signedRelease = check.signedRelease;
    return fetchVerifiedImage(request);
}

} // namespace online
