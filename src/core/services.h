// The replaceable parts of the program in one place: the HID platform, the
// box presenter, the file chooser, the exit handler, the language override
// and the update server. The program's code reads them through the plain
// calls of each layer (hidPlatform(), presentBox(), askOpenFileName(),
// exitProcess(), systemLanguage(), updateServerAddress()); mains, tests and
// the unattended driver install them through a ScopedServices, which puts
// back what was there when it goes.
#pragma once

#include <QLocale>
#include <QString>

#include <functional>

class HidPlatform;      // usb/hidplatform.h
struct BoxRequest;      // core/messagebox.h
struct OpenFileRequest; // core/filedialog.h

using BoxPresenter = std::function<int(const BoxRequest&)>;
using FileChooser = std::function<QString(const OpenFileRequest&)>;
using ExitHandler = std::function<void(int)>;

// An empty address means the server the build names.
struct UpdateServer {
    QString address;
    int port = 0;
};

namespace services {

// Empty or null parts mean the program's own: no HID platform, the
// toolkit's box and file dialog, std::exit, the system locale's language.
struct Parts {
    HidPlatform* hid = nullptr;
    BoxPresenter boxPresenter;
    FileChooser fileChooser;
    ExitHandler exitHandler;
    QLocale::Language language = QLocale::AnyLanguage;
    UpdateServer updateServer;
};

// The parts in force now; safe to call from any thread.
HidPlatform* hid();
BoxPresenter boxPresenter();
FileChooser fileChooser();
ExitHandler exitHandler();
QLocale::Language language();
UpdateServer updateServer();

} // namespace services

// Installs parts for as long as it lives and then restores every part to
// what it was when it was made. Scopes nest: destroy them in reverse order.
class ScopedServices {
public:
    ScopedServices();
    ~ScopedServices();
    ScopedServices(const ScopedServices&) = delete;
    ScopedServices& operator=(const ScopedServices&) = delete;

    ScopedServices& hid(HidPlatform* platform);
    ScopedServices& boxes(BoxPresenter presenter);
    ScopedServices& files(FileChooser chooser);
    ScopedServices& exit(ExitHandler handler);
    ScopedServices& language(QLocale::Language language);
    ScopedServices& server(const UpdateServer& server);

private:
    services::Parts saved_;
};
