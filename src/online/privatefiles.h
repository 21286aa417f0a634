// Files of the online update that nobody else may touch while they are
// written: every download lands in a directory made for this one fetch
// (mode 0700, owned by this user, never reached through a link) and moves
// to its final name only after it was verified, by a rename that replaces
// whatever is at that name (a planted link included) instead of writing
// through it. Two processes fetching the same file each have their own
// directory, so neither sees the other's partial or unverified bytes. The
// parent must be this user's and writable by no one else (a directory
// others can write lets them replace what lands there): anything else is
// refused before a file is made.
#pragma once

#include <QByteArray>
#include <QString>

class PrivateDir {
public:
    // Makes "<parent>/.fetch-<pid>-<random>". `parent` must exist; it is not
    // made here, and is refused when it is not this user's own
    // (counterstore::unsafeDirectory). Directories of earlier runs of this user whose process is
    // gone (a run killed mid-download) are removed first.
    explicit PrivateDir(const QString& parent);
    ~PrivateDir(); // removes the directory and everything in it
    PrivateDir(const PrivateDir&) = delete;
    PrivateDir& operator=(const PrivateDir&) = delete;

    bool ok() const { return error_ == 0; }
    // errno of the failure and the path it concerns.
    int error() const { return error_; }
    QString failedPath() const { return failedPath_; }
    // The parent was refused: not a local failure but a directory the
    // updater must not use.
    bool refused() const { return !refused_.isEmpty(); }
    // What failed: the refusal, or the path and the system's reason.
    QString why() const;
    QString path() const { return path_; }

private:
    QString path_;
    QString failedPath_;
    QString refused_;
    int error_ = 0;
};

// Creates `path` for writing, refusing an existing file or a link there
// (O_CREAT|O_EXCL|O_NOFOLLOW, mode `mode`, 0600 unless told). Returns a
// descriptor or -1 with errno set.
int createExclusive(const QString& path, int mode = 0600);

// Writes `bytes` to a new file in `scratchDir` and renames it to `target`
// (same file system), so `target` holds either its old content or all of
// `bytes`, never a part, and a link at `target` is replaced, not followed.
// Returns 0 or the errno of the failure.
int replaceFile(const QString& scratchDir, const QString& target, const QByteArray& bytes);
