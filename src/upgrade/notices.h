// Every notice the program shows: its identity and its texts. The window
// shows them in the box forms of core/messagebox.h, and each BoxRequest
// carries the identity, so tests and the unattended driver recognise a
// notice by what it is, never by its wording. Standard C++ only: the texts
// as the window shows them (QString, translated) are in
// qtbridge/noticetext.h.
#pragma once

#include <cstdint>

namespace notices {

// core/messagebox.h declares this type without its values; keep the
// underlying type the same.
enum class Id : std::uint8_t {
    None, // a box that is not one of these notices
    // The numbered errors of the upgrade.
    Error1, // start time-out
    Error2, // DSP stage time-out
    Error4, // time-out after an end frame
    Error5, // ARM stage time-out
    // The file checks.
    PathEmpty,
    FileMismatch,
    SoftwareType,
    FileFormat,
    LowerVersion,
    FileNotice, // onInformationTip with texts of the caller's own
    // The download's outcome (FlushFileTip) and the FTP client's failure.
    DownloadSucceeded,
    DownloadFailed,
    FetchFailed,
    // The device link's refusals to send.
    DeviceNotFound,
    WriteHandleInvalid,
    // The online version check.
    UnknownModel,
    NetworkWarning,
    NewFirmware, // the question whether to download
    LatestVersion,
    // A local file of the online update that cannot be written; its text
    // takes the path (%1) and the operating system's reason (%2).
    LocalWriteFailed,
    // A build without a signing key refuses images from the update server
    // unless started with --allow-unsigned.
    UnsignedRefused,
    // The end of the upgrade; its OK ends the program.
    Completion,
};

struct Wording {
    const char* title; // UTF-8
    const char* text;
};

struct Notice {
    Id id;
    Wording chinese; // the same as `english` for the notices shown in English only
    Wording english;
    bool translated; // passes through the window's translation function
};

// The whole table, one row per identity except None and FileNotice.
const Notice* begin();
const Notice* end();
const Notice& notice(Id id);

// The completion box's button text (UTF-8).
const char* completionButtonText(bool chinese);

// Error1, Error2, Error4 or Error5 for the numbers 1, 2, 4 and 5; None for
// any other.
Id numberedError(int number);

} // namespace notices
