#include "core/dataroot.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
const QString kPackageDir = QStringLiteral("firmware-updater");
}

DataRoot decideDataRoot(const QString& appDir, bool appDirWritable, const QString& installedDataDir,
                        const QString& cacheDir)
{
    DataRoot data;
    // Root may write anywhere, so a writable directory alone does not make
    // a portable copy: an installed program has its data directory beside.
    data.portable = installedDataDir.isEmpty() && appDirWritable;
    if (data.portable) {
        data.root = appDir;
        data.helpDir = appDir + QStringLiteral("/file/Help/");
        return data;
    }
    data.root = cacheDir;
    QDir().mkpath(cacheDir); // a failure shows where the first file is written
    data.helpDir = installedDataDir.isEmpty() ? appDir + QStringLiteral("/file/Help/")
                                              : installedDataDir + QStringLiteral("/Help/");
    return data;
}

QString explainWriteFailure(const QString& path, int error, QString* reason)
{
    QString culprit = path;
#ifdef Q_OS_UNIX
    if (error == ENOENT) {
        // The first missing directory on the way and why it cannot be made.
        QFileInfo missing(QFileInfo(path).absolutePath());
        while (!missing.absolutePath().isEmpty() && !QFileInfo::exists(missing.absolutePath()) &&
               missing.absolutePath() != missing.absoluteFilePath())
            missing.setFile(missing.absolutePath());
        const QByteArray dir = QFile::encodeName(missing.absoluteFilePath());
        if (::mkdir(dir.constData(), 0700) == 0)
            ::rmdir(dir.constData()); // it can be made now; keep the original reason
        else if (errno != EEXIST) {
            culprit = missing.absoluteFilePath();
            error = errno;
        }
    }
#endif
    *reason = qt_error_string(error);
    return culprit;
}

bool mayKeepDataIn(const QString& dir)
{
    bool writable = QFileInfo(dir).isWritable();
#ifdef Q_OS_UNIX
    // Writable is not enough (root may write anywhere, a group may share a
    // folder): only a directory this user owns and no one else may write is
    // the program's own, never a copy in another user's or a shared folder
    // (the online update refuses one of those).
    struct stat info;
    writable = writable && ::stat(QFile::encodeName(dir).constData(), &info) == 0 &&
               info.st_uid == ::geteuid() && (info.st_mode & S_IWOTH) == 0;
#endif
    return writable;
}

DataRoot dataRoot()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    // The install puts the data at <prefix>/share/firmware-updater and the
    // programs at <prefix>/bin, whatever the prefix.
    QString installed = QDir::cleanPath(appDir + QStringLiteral("/../share/") + kPackageDir);
    if (!QFileInfo(installed).isDir())
        installed.clear();
    QString cacheBase = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cacheBase.isEmpty())
        cacheBase = QDir::homePath() + QStringLiteral("/.cache");
    return decideDataRoot(appDir, mayKeepDataIn(appDir), installed,
                          cacheBase + QLatin1Char('/') + kPackageDir);
}
