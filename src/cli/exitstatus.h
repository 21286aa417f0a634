// One exit status per outcome of an unattended upgrade, shared by every
// program that runs without a user (the cli, its station, the simulator),
// and the one table from the upgrade's notices to those statuses.
#pragma once

#include "upgrade/notices.h"

#include <QList>
#include <QString>

namespace cli {

enum ExitStatus : int {
    Success = 0,               // every frame written and the end acknowledged (see statusHelp)
    Error1 = 1,                // no start acknowledgement within 10 s ("Error 1")
    Error2 = 2,                // DSP stage time-out ("Error 2")
    Error4 = 4,                // no acknowledgement after an end frame ("Error 4")
    Error5 = 5,                // ARM stage time-out ("Error 5")
    NoDevice = 10,             // no device found ("Equipment not found")
    LinkFailure = 11,          // the device was found but cannot be written ("Failed to open device")
    NoVersionReply = 12,       // the device never answered the version query
    SeveralDevices = 13,       // more than one device attached and none chosen (--device, --serial)
    SomeDevicesFailed = 14,    // --all, --watch: at least one device did not end in Success
    FilePathEmpty = 20,        // "File Path Is Not NULL"
    FileMismatch = 21,         // "The firmware file does not match the current device"
    SoftwareTypeMismatch = 22, // "The software type does not match the current device"
    FileFormat = 23,           // "File Format Is Error" (also: the file cannot be read)
    ImageDigest = 24,          // --sha256 was given and the image file's SHA-256 differs
    ImageOlder = 25,           // the image is older than the device's firmware (--allow-older)
    ImageSame = 26,            // the image is the device's firmware (--allow-reinstall)
    ImageMismatch = 30,        // the device does not hold exactly the file's images
    UnexpectedNotice = 31,     // a notice this driver does not know
    Timeout = 32,              // the run took longer than its time limit
    Interrupted = 33,          // the device's run was stopped (Ctrl-C) or ended without a status
    WriteStalled = 34,         // a feature write did not return within its deadline
    NotBack = 36,              // --confirm: the device did not come back and answer in time
    OtherVersion = 37,         // --confirm: the device came back with another firmware number
    UpToDate = 40,             // online: the device already runs the server's newest firmware
    DownloadFailed = 41,       // online: no list, release or image could be had (or was refused)
    Usage = 64,                // bad command line
    LogUnusable = 73,          // the file of --log cannot be opened for appending (sysexits' CANTCREAT)
};

// The table above as text, one status per line, for --help. `success`,
// when given, words status 0 for the program: what it checked and what not;
// `omitted` are the statuses the program cannot end with.
QString statusHelp(const char* success = nullptr, const QList<int>& omitted = {});

// The meaning of one status, as statusHelp() words it ("exit status N"
// for a number outside the table).
QString statusMeaning(int status);

// The status a run ends with after notice `id`: -1 for the notices after
// which it goes on (the download's question and its success),
// UnexpectedNotice for one no run ends with. An older image (LowerVersion)
// ends in ImageOlder unless --allow-older lets the run go on.
int statusOfNotice(notices::Id id);

// What notice `id` says on a terminal: a plain line in lower case
// ("update complete"), not the window's box text.
QString terminalText(notices::Id id);

} // namespace cli
