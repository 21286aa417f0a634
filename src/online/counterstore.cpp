#include "online/counterstore.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace counterstore {

namespace {

// The threads of this process, one at a time; other processes wait on the
// lock file.
std::mutex g_store;

// What the platform is asked for: open without following a link and
// without blocking (a FIFO or a device in the store's place), examine the
// opened file, lock, read, write a new file and rename it over the store.
#ifdef _WIN32
using Handle = HANDLE;
const Handle kNone = INVALID_HANDLE_VALUE;

std::wstring wide(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? static_cast<std::size_t>(n) : 1u, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
    return out;
}

std::string lastError()
{
    return "Windows error " + std::to_string(GetLastError());
}

// A link (reparse point) is opened as itself, and refused by unsafeFile.
Handle openFile(const std::string& path, bool forLock, bool* missing, std::string* why)
{
    const Handle h = CreateFileW(wide(path).c_str(), forLock ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 forLock ? OPEN_ALWAYS : OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    *missing = h == kNone && GetLastError() == ERROR_FILE_NOT_FOUND;
    if (h == kNone)
        *why = "cannot be opened: " + lastError();
    return h;
}

std::string unsafeFile(Handle h)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info))
        return "cannot be examined: " + lastError();
    if (GetFileType(h) != FILE_TYPE_DISK ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return "is not a regular file";
    return {};
}

bool tryLock(Handle h, bool* busy)
{
    OVERLAPPED at{};
    if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return true;
    *busy = GetLastError() == ERROR_LOCK_VIOLATION;
    return false;
}

void closeFile(Handle h)
{
    CloseHandle(h); // releases its lock
}

long readSome(Handle h, char* buffer, std::size_t size)
{
    DWORD got = 0;
    return ReadFile(h, buffer, static_cast<DWORD>(size), &got, nullptr) ? long(got) : -1;
}

void removeFile(const std::string& path)
{
    DeleteFileW(wide(path).c_str());
}

std::string writeNew(const std::string& path, const std::string& bytes)
{
    const Handle h = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == kNone)
        return lastError();
    DWORD done = 0;
    const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
                    done == bytes.size() && FlushFileBuffers(h);
    const std::string why = ok ? std::string() : lastError();
    CloseHandle(h);
    return why;
}

std::string replaceWith(const std::string& from, const std::string& to)
{
    return MoveFileExW(wide(from).c_str(), wide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? std::string()
               : lastError();
}

std::string parentOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, std::max<std::size_t>(slash, 1));
}
#else
using Handle = int;
const Handle kNone = -1;

std::string lastError()
{
    return std::strerror(errno);
}

Handle openFile(const std::string& path, bool forLock, bool* missing, std::string* why)
{
    const int flags = (forLock ? O_RDWR | O_CREAT : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    const int fd = ::open(path.c_str(), flags, 0600);
    *missing = fd < 0 && errno == ENOENT;
    if (fd < 0)
        *why = errno == ELOOP ? std::string("is a symbolic link") : "cannot be opened: " + lastError();
    return fd;
}

std::string octal(unsigned mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode & 07777);
    return text;
}

std::string unsafeFile(int fd)
{
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return "cannot be examined: " + lastError();
    if (!S_ISREG(info.st_mode))
        return "is not a regular file";
    if (info.st_uid != ::geteuid())
        return "belongs to user " + std::to_string(info.st_uid) + ", not to this user (" +
               std::to_string(::geteuid()) + ")";
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return "can be written by other users (mode " + octal(info.st_mode) + ")";
    return {};
}

bool tryLock(int fd, bool* busy)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    *busy = errno == EWOULDBLOCK || errno == EINTR;
    return false;
}

void closeFile(int fd)
{
    ::close(fd); // releases its lock
}

long readSome(int fd, char* buffer, std::size_t size)
{
    ssize_t n;
    do
        n = ::read(fd, buffer, size);
    while (n < 0 && errno == EINTR);
    return long(n);
}

void removeFile(const std::string& path)
{
    ::unlink(path.c_str());
}

std::string writeNew(const std::string& path, const std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return lastError();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    std::string why = done < bytes.size() || ::fsync(fd) != 0 ? lastError() : std::string();
    if (::close(fd) != 0 && why.empty())
        why = lastError();
    return why;
}

std::string parentOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, std::max<std::size_t>(slash, 1));
}

std::string replaceWith(const std::string& from, const std::string& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        return lastError();
    // The rename itself must reach the disk: a store that reverts after a
    // power cut is a counter forgotten.
    const int dir = ::open(parentOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}
#endif

struct Opened {
    Handle h = kNone;
    ~Opened()
    {
        if (h != kNone)
            closeFile(h);
    }
};

struct Entry {
    std::string model;
    std::uint64_t counter;
};

// 1 to 19 digits, no leading zero: the form this file writes.
bool plainNumber(const std::string& text, std::uint64_t* value)
{
    return decimal(text, value, false);
}

// The store's text read strictly: every line "<model> <counter>\n", a model
// of the table at most once. Empty when it is; otherwise what is wrong.
std::string parse(const std::string& text, const KnownModel& known, std::vector<Entry>* entries)
{
    if (text.empty())
        return "it is empty";
    if (text.back() != '\n')
        return "its last line has no line end";
    int number = 0;
    for (std::size_t at = 0; at < text.size();) {
        ++number;
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const std::size_t blank = line.find(' ');
        Entry e{line.substr(0, blank), 0};
        if (blank == std::string::npos || !known(e.model) || !plainNumber(line.substr(blank + 1), &e.counter))
            return "line " + std::to_string(number) + " is not a model, one blank and a release counter";
        for (const Entry& seen : *entries) {
            if (seen.model == e.model)
                return e.model + " has two lines";
        }
        entries->push_back(e);
    }
    return {};
}

// The store as it is: missing (a first use, no entries), or read whole and
// strictly. Empty when it can be trusted; otherwise what is wrong with it.
std::string readStore(const std::string& path, const KnownModel& known, std::vector<Entry>* entries)
{
    bool missing = false;
    std::string why;
    const Opened file{openFile(path, false, &missing, &why)};
    if (file.h == kNone)
        return missing ? std::string() : why;
    why = unsafeFile(file.h);
    std::string text;
    char buffer[1024];
    for (long n = 1; why.empty() && n > 0 && text.size() <= kCap;) {
        n = readSome(file.h, buffer, sizeof buffer);
        if (n < 0)
            why = "cannot be read: " + lastError();
        else
            text.append(buffer, std::size_t(n));
    }
    if (!why.empty())
        return why;
    if (text.size() > kCap)
        return "is damaged: it is larger than " + std::to_string(kCap) + " bytes";
    why = parse(text, known, entries);
    return why.empty() ? why : "is damaged: " + why;
}

} // namespace

#ifdef _WIN32
std::string unsafeDirectory(const std::string&)
{
    return {};
}
#else
std::string unsafeDirectory(const std::string& dir)
{
    const std::string it = "the data directory " + dir + " ";
    struct stat info;
    if (::stat(dir.c_str(), &info) != 0)
        return it + "cannot be examined: " + lastError();
    if (!S_ISDIR(info.st_mode))
        return it + "is not a directory";
    if (info.st_uid != ::geteuid())
        return it + "belongs to user " + std::to_string(info.st_uid) + ", not to this user (" +
               std::to_string(::geteuid()) + ")";
    // A group of the user's own (user private groups) is the user.
    if ((info.st_mode & S_IWOTH) != 0 || ((info.st_mode & S_IWGRP) != 0 && info.st_gid != ::getegid()))
        return it + "can be written by other users (mode " + octal(info.st_mode) + ")";
    return {};
}
#endif

Outcome raise(const std::string& path, const std::string& model, std::uint64_t counter,
              const KnownModel& known, bool keep)
{
    Outcome out;
    const std::string store = "the release counter store " + path + " ";
    const std::string lockPath = path + ".lock";
    if (!known(model)) {
        out.why = model + " is no model of the table";
        return out;
    }
    const std::lock_guard<std::mutex> threads(g_store);
    out.why = unsafeDirectory(parentOf(path));
    if (!out.why.empty())
        return out;

    bool missing = false;
    Opened lock{openFile(lockPath, true, &missing, &out.why)};
    if (lock.h != kNone)
        out.why = unsafeFile(lock.h);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockWaitMs);
    for (int pauseMs = 1; out.why.empty(); pauseMs = std::min(2 * pauseMs, 100)) {
        bool busy = false;
        if (tryLock(lock.h, &busy))
            break;
        if (!busy)
            out.why = "cannot be locked: " + lastError();
        else if (std::chrono::steady_clock::now() >= until)
            out.why = "is held by another process for more than " + std::to_string(kLockWaitMs / 1000) + " s";
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    if (!out.why.empty()) {
        out.why = "the release counter lock " + lockPath + " " + out.why;
        return out;
    }

    std::vector<Entry> entries;
    out.why = readStore(path, known, &entries);
    if (!out.why.empty()) {
        out.why = store + out.why;
        return out;
    }
    const auto mine =
        std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.model == model; });
    out.kept = mine == entries.end() ? 0 : mine->counter;
    if (counter < out.kept) {
        out.state = Outcome::State::Lower;
        return out;
    }
    out.state = Outcome::State::Kept;
    if (!keep || (mine != entries.end() && counter == out.kept))
        return out;
    if (mine == entries.end())
        entries.push_back({model, counter});
    else
        mine->counter = counter;
    std::string text;
    for (const Entry& e : entries)
        text += e.model + ' ' + std::to_string(e.counter) + '\n';
    // Under the lock no one else writes: a ".new" left over is from a run
    // that died here, and is replaced (a link there is removed, not followed).
    const std::string fresh = path + ".new";
    removeFile(fresh);
    std::string why = writeNew(fresh, text);
    if (why.empty())
        why = replaceWith(fresh, path);
    if (!why.empty()) {
        removeFile(fresh);
        out.state = Outcome::State::Refused;
        out.why = store + "cannot be written: " + why;
    }
    return out;
}

bool decimal(const std::string& text, std::uint64_t* value, bool leadingZeros)
{
    if (text.empty() || text.size() > 19 || (!leadingZeros && text.size() > 1 && text[0] == '0'))
        return false;
    std::uint64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + std::uint64_t(c - '0');
    }
    *value = v;
    return true;
}

} // namespace counterstore
