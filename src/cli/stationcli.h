// The production-line options of firmware-updater-cli, apart from its
// one-device road: --list, --device, --serial, --all, --watch, --json,
// --log. Kept in one place so the programs spell them alike.
#pragma once

#include "cli/devicelist.h"
#include "cli/eventlog.h"
#include "sim/unattended.h"

#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace unattended {

struct StationCommand {
    bool list = false;
    bool all = false;
    bool watch = false;
    bool json = false;
    bool child = false; // run by a station for one device
    QString logPath;
    Selection selection;
    int confirmMs = 0; // --confirm[=SECONDS]; 0: not given
};

// --confirm takes its value only as --confirm=SECONDS: a bare --confirm in
// `arguments` becomes --confirm=<the default>, for the parser.
QStringList withConfirmDefault(const QStringList& arguments);

// --json and --log: every program that writes records.
void addRecordOptions(QCommandLineParser& parser);
// The cli's station options (with the record options).
void addStationOptions(QCommandLineParser& parser);
// False with the reason in `error` when the options contradict each other.
bool readStationOptions(const QCommandLineParser& parser, StationCommand* command, QString* error);
// Opens what the record options ask for. With --json the text for people
// goes to standard error, so standard output holds records only.
bool openRecords(const StationCommand& command, EventLog* events, Options* options, QString* error);

// Prints the devices as a table (or as "device" records with --json).
void printDevices(const std::vector<DeviceInfo>& devices, const StationCommand& command, EventLog* events);

// --list, --all or --watch on `platform`; returns the exit status. The
// children of --all and --watch are this program again, one per device
// (--device PATH), with the image and time options of `arguments`. The
// sessions of a local image check each device with `verify` (the
// simulator's) after the completion.
int runStation(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId,
               const StationCommand& command, const Options& options, EventLog* events,
               const QStringList& childArguments, std::function<int(const DeviceInfo&)> verify = {});

// Makes SIGINT (Ctrl-C) call `onInterrupt` from the event loop.
void onInterruptSignal(std::function<void()> onInterrupt);

} // namespace unattended
