#include "app/windowstart.h"

#include "app/checkupdate.h"
#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "core/commandline.h"
#include "core/filedialog.h"
#include "help/helptext.h"
#include "image/firmwareimage.h"
#include "online/updateserver.h"
#include "usb/backends/virtual/faulttable.h"
#include "usb/backends/virtual/virtualbus.h"
#include "usb/usbevent.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QProcessEnvironment>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>

namespace windowstart {

namespace {

const QString kVirtual = QStringLiteral("virtual-device");
const QString kVirtualVersion = QStringLiteral("virtual-device-version");
const QString kFault = QStringLiteral("fault");
const QString kSnapshot = QStringLiteral("snapshot");
const QString kSnapshotHelp = QStringLiteral("snapshot-help");

// The pictures are taken this long after the start's last step, so the
// window has painted what that step changed.
constexpr int kSettleMs = 300;

bool writePicture(QWidget& widget, const QString& path)
{
    if (!widget.grab().toImage().save(path, "PNG")) {
        std::fprintf(stderr, "firmware-updater: cannot write the picture %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    std::fflush(stdout);
    return true;
}

} // namespace

bool displayAvailable(const QStringList& arguments, const QProcessEnvironment& env)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!env.value(QLatin1String(name)).isEmpty())
            return true;
    }
    // Qt's own option (with one dash or two), which QApplication takes
    // before any other.
    const QStringList options = arguments.mid(1);
    return options.contains(QStringLiteral("-platform")) || options.contains(QStringLiteral("--platform"));
#else
    Q_UNUSED(arguments);
    Q_UNUSED(env);
    return true;
#endif
}

void describe(QCommandLineParser& parser)
{
    // The faults as a table of their own, "  NAME=VALUE   what it does".
    QString faults;
    for (const FaultOption& f : deviceFaultOptions()) {
        const QString name =
            QLatin1String(f.name) + (f.value ? QStringLiteral("=") + QLatin1String(f.value) : QString());
        faults += QStringLiteral("\n  %1  %2").arg(name, -28).arg(QLatin1String(f.help));
    }
    parser.setApplicationDescription(
        QStringLiteral("Writes firmware into a USB motor base or steering wheel (USB HID 0483:0525). "
                       "Opens the updater's window; choose an image file (or give it as FILE) and press "
                       "the start button. Downloads and version lists are kept in the user's cache "
                       "directory, or beside the program when its own directory is writable. Without a "
                       "display (no DISPLAY or WAYLAND_DISPLAY) it exits with status %1.\n\n"
                       "With --virtual-device the window talks to a virtual device inside the program "
                       "instead of the system's devices, for trying the window without hardware; nothing "
                       "is written to a real device. It restarts into what it received %2 ms after the "
                       "completion.\n\n"
                       "Faults of the virtual device (--fault NAME or --fault NAME=VALUE):%3")
            .arg(kNoDisplay)
            .arg(DeviceModel::kPresentedRebootMs)
            .arg(faults));
    cmdline::addStandardOptions(parser);
    parser.addOption({QStringLiteral("check-update"),
                      QStringLiteral("Once the device's version is known, ask the update server for a "
                                     "newer firmware and offer to download it.")});
    parser.addOption({QStringLiteral("server"),
                      QStringLiteral("Use the update server at HOST[:PORT] (default %1:%2; port 21 when "
                                     "none is given).")
                          .arg(updateServerAddress())
                          .arg(updateServerPort()),
                      QStringLiteral("HOST[:PORT]")});
    parser.addOption({QStringLiteral("allow-unsigned"),
                      QStringLiteral("In a build without a signing key: download images from the update "
                                     "server that the key cannot verify (without it, none is offered).")});
    parser.addOption({kVirtual, QStringLiteral("Attach a virtual device instead of the system's devices.")});
    parser.addOption({kVirtualVersion,
                      QStringLiteral("The firmware number the virtual device reports (0 to 65535, "
                                     "default %1).")
                          .arg(DeviceModel::kPresentedFirmwareNumber),
                      QStringLiteral("N")});
    parser.addOption({kFault,
                      QStringLiteral("Give the virtual device a fault from the list above "
                                     "(repeatable)."),
                      QStringLiteral("NAME[=VALUE]")});
    parser.addOption({kSnapshot,
                      QStringLiteral("Once the start is done (the device's version known, FILE picked), "
                                     "write a PNG picture of the window to PICTURE, print its name and "
                                     "close."),
                      QStringLiteral("PICTURE")});
    parser.addOption({kSnapshotHelp,
                      QStringLiteral("With --snapshot: also open the help dialog and write its picture."),
                      QStringLiteral("PICTURE")});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("An image file to pick at the start, as the file button "
                                                "would."),
                                 QStringLiteral("[FILE]"));
}

bool readOptions(const QCommandLineParser& parser, Options* out, QString* error)
{
    Options o;
    o.checkUpdate = parser.isSet(QStringLiteral("check-update"));
    if (parser.isSet(QStringLiteral("server")) &&
        !parseServerAddress(parser.value(QStringLiteral("server")), &o.server)) {
        *error = QStringLiteral("--server needs HOST[:PORT]");
        return false;
    }
    o.context.allowUnsigned = parser.isSet(QStringLiteral("allow-unsigned"));
    o.virtualDevice = parser.isSet(kVirtual);
    for (const QString& name : {kVirtualVersion, kFault}) {
        if (parser.isSet(name) && !o.virtualDevice) {
            *error = QStringLiteral("--%1 needs --virtual-device").arg(name);
            return false;
        }
    }
    if (parser.isSet(kVirtualVersion)) {
        bool ok = false;
        const int number = parser.value(kVirtualVersion).toInt(&ok, 0);
        if (!ok || number < 0 || number > 0xFFFF) {
            *error = QStringLiteral("--virtual-device-version needs a number from 0 to 65535, got \"%1\"")
                         .arg(parser.value(kVirtualVersion));
            return false;
        }
        o.virtualFirmware = std::uint16_t(number);
    }
    // The restart after the completion comes first, so a --fault may change it.
    o.faults.rebootMs = DeviceModel::kPresentedRebootMs;
    for (const QString& text : parser.values(kFault)) {
        std::string why;
        if (!applyFaultText(text.toStdString(), &o.faults, &why)) {
            *error = QStringLiteral("--fault %1").arg(QString::fromStdString(why));
            return false;
        }
    }
    o.snapshot = parser.value(kSnapshot);
    o.snapshotHelp = parser.value(kSnapshotHelp);
    if ((parser.isSet(kSnapshot) && o.snapshot.isEmpty()) ||
        (parser.isSet(kSnapshotHelp) && (o.snapshotHelp.isEmpty() || o.snapshot.isEmpty()))) {
        *error = QStringLiteral("--snapshot needs a file name, and --snapshot-help goes with it");
        return false;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        *error = QStringLiteral("one image file at most, got %1").arg(files.size());
        return false;
    }
    if (!files.isEmpty())
        o.file = QFileInfo(files.first()).absoluteFilePath();
    *out = o;
    return true;
}

// The steps after the construction, in the event loop.
class Program::Start : public QObject {
public:
    Start(Program& program, MainWindow& window, Options options)
        : QObject(&window)
        , program_(program)
        , window_(window)
        , options_(std::move(options))
    {
        window_.installEventFilter(this);
        QTimer::singleShot(0, this, [this] { step(false); });
        QTimer::singleShot(kVersionWaitMs, this, [this] { step(true); });
    }

    bool done = false;

private:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The window handles the report after this filter; look once it has.
        if (watched == &window_ && event->type() == USBEventType && !picked_)
            QTimer::singleShot(0, this, [this] { step(false); });
        return false;
    }

    void step(bool waitedLongEnough)
    {
        if (picked_ || (window_.MyDevFound && window_.versionReply.isEmpty() && !waitedLongEnough))
            return;
        picked_ = true;
        window_.removeEventFilter(this);
        // The pictures are taken even while a notice of the pick is open.
        if (!options_.snapshot.isEmpty())
            QTimer::singleShot(kSettleMs, this, &Start::takePictures);
        if (!options_.file.isEmpty()) {
            ScopedServices chooser;
            chooser.files([this](const OpenFileRequest&) { return options_.file; });
            window_.ui->TBFlush->click();
        }
        if (options_.snapshot.isEmpty())
            done = true;
    }

    void takePictures()
    {
        bool written = writePicture(window_, options_.snapshot);
        if (written && !options_.snapshotHelp.isEmpty()) {
            window_.onInitHelp();
            QCoreApplication::processEvents();
            written = writePicture(*window_.helpDialog, options_.snapshotHelp);
        }
        done = true;
        program_.end(written ? 0 : 1);
    }

    Program& program_;
    MainWindow& window_;
    const Options options_;
    bool picked_ = false;
};

Program::Program(const Options& options, HidPlatform* hid)
{
    if (options.virtualDevice) {
        bus_ = std::make_unique<VirtualHidBus>();
        device_ = std::make_shared<DeviceModel>();
        device_->setFirmwareNumber(options.virtualFirmware);
        device_->faults() = options.faults;
        bus_->plug(VirtualHidBus::deviceInterface(device_));
        hid = bus_.get();
    }
    if (hid)
        services_.hid(hid);
    if (!options.server.address.isEmpty())
        services_.server(options.server);
    window_ = std::make_unique<MainWindow>();
    window_->onlineContext = options.context;
    if (device_) {
        // At the start button the device learns, as the boot firmware
        // knows, where the DSP image ends and the number the new firmware
        // reports once it runs.
        QObject::connect(window_->ui->toolButton_2, &QToolButton::clicked, window_.get(), [this] {
            const MainWindow& w = *window_;
            device_->setExpectedDspLength(
                std::size_t(std::max(0, w.dspImageEnd - int(fwimage::kHeaderSize))));
            device_->setNextFirmwareNumber(
                w.fileVersion > 0 && w.fileVersion <= 0xFFFF ? std::uint16_t(w.fileVersion) : 0);
        });
    }
    if (options.checkUpdate)
        new CheckUpdateWhenVersionKnown(*window_);
    start_ = new Start(*this, *window_, options);
}

Program::~Program() = default;

bool Program::started() const
{
    return start_->done;
}

} // namespace windowstart
