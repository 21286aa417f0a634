// The release counter store: the highest release counter this user has
// accepted per model (release.h), one "KRV3200 7" line per model, in one
// small file of the data root. It is the only memory of which releases were
// seen, so it is read, compared and replaced as one step under an exclusive
// lock (a mutex for the threads of this process, an flock or LockFileEx on
// "<store>.lock" for other processes), read strictly (anything but lines of
// a model of the table and a number is damage, never a counter of 0) and
// refused unless it is a regular file of this user in a directory of this
// user that nobody else can write. A missing store is a first use.
//
// Free of Qt (paths are UTF-8), so the Windows branch compiles on its own
// (scripts/check-windows).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace counterstore {

// The largest store read; ten models take some 300 bytes.
constexpr std::size_t kCap = 4096;
// The longest wait for another process's lock (it holds it for one read
// and one write).
constexpr int kLockWaitMs = 10000;

using KnownModel = std::function<bool(const std::string& model)>;

struct Outcome {
    enum class State {
        Kept,    // the counter is not lower than the one kept: it is kept now
        Lower,   // lower than the one kept: refused, the store unchanged
        Refused, // the store cannot be trusted or written: `why`
    };
    State state = State::Refused;
    std::uint64_t kept = 0; // the model's counter before the call, 0 for none
    std::string why;        // names the path and the reason
};

// Compares `counter` with the one kept for `model` in the store at `path`
// and, when it is higher, keeps it (a new file renamed over the store);
// with `keep` false it only compares (a check that writes nothing). Every
// model must satisfy `known`.
Outcome raise(const std::string& path, const std::string& model, std::uint64_t counter,
              const KnownModel& known, bool keep = true);

// Empty when `dir` is a directory owned by this user that no other user
// can write (not by others; not by its group unless that is the user's own
// group); otherwise why not, with the path. Always empty on Windows, where
// the user's profile directories carry their own access lists.
std::string unsafeDirectory(const std::string& dir);

// A whole number of 1 to 19 decimal digits (so it fits 64 bits), nothing
// else; with `leadingZeros` false a 0 may only stand alone.
bool decimal(const std::string& text, std::uint64_t* value, bool leadingZeros);

} // namespace counterstore
