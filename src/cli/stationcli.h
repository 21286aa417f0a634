// The production-line options of firmware-updater-cli, apart from its
// one-device road: --list, --device, --serial, --all, --watch, --json,
// --log. Kept in one place so the programs spell them alike.
#pragma once

#include "cli/clioptions.h"
#include "cli/devicelist.h"
#include "cli/eventlog.h"

#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace cli {

// --confirm's value is optional, which the parser does not know: in
// `arguments` "--confirm SECONDS" (a number next) becomes
// --confirm=SECONDS and a bare --confirm --confirm=<the default>.
QStringList withConfirmDefault(const QStringList& arguments);

// --json and --log: every program that writes records.
void addRecordOptions(QCommandLineParser& parser);
// The cli's station options (with the record options), --wait-device
// with its default.
void addStationOptions(QCommandLineParser& parser, double waitSeconds);
// Reads them into `options` (readOptions does, for every program that
// added them). False with the reason in `error` when a value is wrong or
// the options contradict each other.
bool readStationOptions(const QCommandLineParser& parser, Options* options, QString* error);
// Opens what the record options ask for. With --json the text for people
// goes to standard error, so standard output holds records only. Returns
// -1, or LogUnusable when the log cannot be opened for appending: said on
// standard error (and recorded with --json), before any device is touched.
int openRecords(const Options& options, EventLog* events);

// Prints the devices as a table (or as "device" records with --json).
void printDevices(const std::vector<DeviceInfo>& devices, bool json, EventLog* events);

// The device of a one-device run: waits for it (options.waitSeconds; said
// unless `quiet`), checks the choice is clear and that it opens. Returns -1
// with the device in `chosen`, or the exit status (NoDevice,
// SeveralDevices, LinkFailure, Interrupted by Ctrl-C), said on standard
// error and recorded.
int chooseDevice(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId,
                 const Options& options, bool quiet, EventLog* events, DeviceInfo* chosen);

// The cli's runs on `platform` (the native backend, or a virtual bus for a
// rehearsal): --list; --all and --watch; and one device, as a station of
// one. Every device is a session in this process; online
// (options.session.online) each session fetches its own image. Returns the exit
// status. A local image file that cannot be used (unreadable, not an
// image: FileFormat; another digest than --sha256: ImageDigest) is
// reported before any device is looked for; the checks that need the
// device (its family, the versions) are each session's.
//
// What the simulator adds to each session: its virtual devices hear of the
// image before it is written, and are checked after the completion
// (SessionOptions::writing, verify).
struct DeviceHooks {
    std::function<void(const DeviceInfo&, const QByteArray&)> writing;
    std::function<int(const DeviceInfo&, const QString&, QString*)> verify;
};
int runStation(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId, const Options& options,
               EventLog* events, const DeviceHooks& hooks = {});

// Makes SIGINT (Ctrl-C) and SIGTERM call `onInterrupt` from the event loop.
void onInterruptSignal(std::function<void()> onInterrupt);
// How many SIGINT and SIGTERM came since the first onInterruptSignal();
// safe from any thread.
int interruptSignals();

} // namespace cli
