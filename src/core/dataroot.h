// Where the updater keeps its files. A portable copy (its own directory
// writable, no installed data directory beside it) keeps everything there,
// as on Windows: downloads under <dir>/file/, help pictures in
// <dir>/file/Help/. An installed program keeps downloads and version lists
// in the user's cache directory and reads its help pictures from the
// installed share/firmware-updater/Help/. dataRoot() is the one place that
// decides; nothing else builds these paths.
#pragma once

#include <QString>

struct DataRoot {
    QString root;    // downloads live under root + "/file/"
    QString helpDir; // the help pictures, ends with "/"
    bool portable = false;
};

// The decision itself, from the program's directory and whether it is
// writable, the installed data directory beside it (share/firmware-updater,
// empty when there is none) and the user's cache directory. Makes the cache
// directory when it is missing; one that cannot be made or written stays
// the root, so the first file written there reports the path and the
// reason. Without an installed data directory the help pictures are looked
// for beside the program, writable or not.
DataRoot decideDataRoot(const QString& appDir, bool appDirWritable, const QString& installedDataDir,
                        const QString& cacheDir);

// Why `path` could not be created: for a missing directory on the way
// (ENOENT), the directory that could not be made and the reason making it
// fails (permission, read-only file system, a file in the way); otherwise
// `path` and `error` as they are. Returns the path to report and sets
// `reason` to the operating system's text.
QString explainWriteFailure(const QString& path, int error, QString* reason);

// Whether the program's directory `dir` may hold its data (a portable
// copy): writable, owned by this user and not writable by others, so no one
// (root least of all) keeps data in, or writes downloads through, another
// user's or a shared folder.
bool mayKeepDataIn(const QString& dir);

// The decision for this process, from QCoreApplication::applicationDirPath()
// (installed when <dir>/../share/firmware-updater exists) and the generic
// cache location of QStandardPaths; the same for every program of the
// package, so the window and the cli share their downloads.
DataRoot dataRoot();
