#include "online/privatefiles.h"

#include "online/counterstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace {
const QString kPrefix = QStringLiteral(".fetch-");

// Removes "<parent>/.fetch-<pid>-*" directories of this user whose process
// no longer runs.
void removeAbandoned(const QString& parent)
{
#ifndef _WIN32
    const QStringList names =
        QDir(parent).entryList({kPrefix + QLatin1Char('*')}, QDir::Dirs | QDir::Hidden | QDir::NoSymLinks);
    for (const QString& name : names) {
        const QString full = parent + QLatin1Char('/') + name;
        struct stat info;
        if (::lstat(QFile::encodeName(full).constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            info.st_uid != ::geteuid())
            continue;
        bool number = false;
        const qint64 pid = name.mid(kPrefix.size()).section(QLatin1Char('-'), 0, 0).toLongLong(&number);
        if (!number || pid <= 0 || pid == QCoreApplication::applicationPid())
            continue;
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            QDir(full).removeRecursively();
    }
#else
    Q_UNUSED(parent);
#endif
}
} // namespace

PrivateDir::PrivateDir(const QString& parent)
{
    // A parent that is missing or no directory is the system's failure,
    // reported by the mkdir below with its reason.
    if (QFileInfo(parent).isDir())
        refused_ = QString::fromStdString(counterstore::unsafeDirectory(parent.toUtf8().toStdString()));
    if (refused()) {
        error_ = EPERM;
        failedPath_ = parent;
        return;
    }
    removeAbandoned(parent);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString candidate =
            QStringLiteral("%1/%2%3-%4")
                .arg(parent, kPrefix)
                .arg(QCoreApplication::applicationPid())
                .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
#ifdef _WIN32
        if (QDir().mkdir(candidate)) {
            path_ = candidate;
            return;
        }
        error_ = QFileInfo::exists(parent) ? EACCES : ENOENT;
        failedPath_ = candidate;
        if (!QFileInfo::exists(candidate))
            return;
#else
        const QByteArray name = QFile::encodeName(candidate);
        if (::mkdir(name.constData(), 0700) != 0) {
            error_ = errno;
            failedPath_ = candidate;
            if (error_ == EEXIST)
                continue;
            return;
        }
        // Made by this call, so it is ours; a directory that is not (or not
        // a directory at all) is never written into.
        struct stat info;
        if (::lstat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
            (info.st_mode & 0077) != 0) {
            error_ = EPERM;
            failedPath_ = candidate;
            return;
        }
        error_ = 0;
        path_ = candidate;
        return;
#endif
    }
}

QString PrivateDir::why() const
{
    return refused() ? refused_ : QStringLiteral("%1: %2").arg(failedPath_, qt_error_string(error_));
}

PrivateDir::~PrivateDir()
{
    if (!path_.isEmpty())
        QDir(path_).removeRecursively();
}

int createExclusive(const QString& path, int mode)
{
    const QByteArray name = QFile::encodeName(path);
    return ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_BINARY, mode);
}

int replaceFile(const QString& scratchDir, const QString& target, const QByteArray& bytes)
{
    const QString scratch = QStringLiteral("%1/replace-%2")
                                .arg(scratchDir)
                                .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
    const int fd = createExclusive(scratch);
    if (fd < 0)
        return errno;
    qint64 done = 0;
    int error = 0;
    while (done < bytes.size()) {
        const auto n = ::write(fd, bytes.constData() + done, static_cast<unsigned>(bytes.size() - done));
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += n;
    }
#ifndef _WIN32
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
#endif
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0) {
#ifdef _WIN32
        QFile::remove(target); // a rename does not replace a file here
#endif
        if (std::rename(QFile::encodeName(scratch).constData(), QFile::encodeName(target).constData()) != 0)
            error = errno;
    }
    if (error != 0)
        QFile::remove(scratch);
    return error;
}
