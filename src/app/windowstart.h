// The window program's command line and start: its options beside the
// standard ones, the check for a display, the devices it talks to (the
// system's, or with --virtual-device one virtual device inside the process)
// and what it does once the window runs (--check-update, the FILE argument,
// --snapshot). main() keeps only the application object and the signals.
#pragma once

#include "core/services.h"
#include "online/context.h"
#include "usb/backends/virtual/devicemodel.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

class QCommandLineParser;
class QProcessEnvironment;
class HidPlatform;
class MainWindow;
class VirtualHidBus;

namespace windowstart {

// The exit status without a display to show the window on (EX_UNAVAILABLE).
constexpr int kNoDisplay = 69;

// Whether the toolkit has somewhere to show the window: on Linux a DISPLAY
// or WAYLAND_DISPLAY in `env`, or a platform named by QT_QPA_PLATFORM or by
// -platform in `arguments` (the program's, its name first). Always true on
// Windows, whose window system needs no variable.
bool displayAvailable(const QStringList& arguments, const QProcessEnvironment& env);

// The program's description and options.
void describe(QCommandLineParser& parser);

struct Options {
    bool checkUpdate = false;
    UpdateServer server; // an empty address: the build's server
    // The build's key and fetch limits; libcurl's trace only with --verbose.
    online::Context context;
    bool virtualDevice = false;
    std::uint16_t virtualFirmware = DeviceModel::kPresentedFirmwareNumber;
    DeviceModel::Faults faults;
    QString file;         // picked at the start; empty: none
    QString snapshot;     // the window's picture; empty: none
    QString snapshotHelp; // the help dialog's picture; empty: none
};

// The options of a parser that parsed the command line; false with the
// reason in `error` when they do not fit together.
bool readOptions(const QCommandLineParser& parser, Options* out, QString* error);

// The window with what the options ask for, for as long as it lives: the
// HID platform (a virtual bus with one device, or `hid`; a null `hid`
// keeps the one installed), the update server, the window itself, the
// version check of --check-update once the device's version is known, and
// the start: FILE picked through the file button once that version is
// known (at once without a device, after kVersionWaitMs at the latest),
// then the pictures of --snapshot, which end the program with 0 when
// written and 1 when not.
class Program {
public:
    static constexpr int kVersionWaitMs = 3000;

    Program(const Options& options, HidPlatform* hid);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    MainWindow& window() { return *window_; }
    // The virtual device; null without --virtual-device.
    DeviceModel* virtualDevice() const { return device_.get(); }
    // The start's steps are done (the file picked, the pictures written).
    bool started() const;
    // Ends the program with a status once the pictures are written (or not):
    // every event loop ends, also that of a box still open.
    std::function<void(int status)> end = [](int status) { QCoreApplication::exit(status); };

private:
    class Start;
    std::unique_ptr<VirtualHidBus> bus_;
    std::shared_ptr<DeviceModel> device_;
    ScopedServices services_;
    std::unique_ptr<MainWindow> window_;
    Start* start_ = nullptr; // a child of the window
};

} // namespace windowstart
