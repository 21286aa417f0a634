#include "core/services.h"

#include <mutex>
#include <utility>

namespace {
// The reader thread asks for the HID platform and the download thread for
// the server, so every part is read and written under one lock.
std::mutex g_mutex;
services::Parts g_parts;

template <typename Member> auto read(Member member)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_parts.*member;
}

template <typename Member, typename Value> void write(Member member, Value value)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_parts.*member = std::move(value);
}
} // namespace

namespace services {
HidPlatform* hid()
{
    return read(&Parts::hid);
}
BoxPresenter boxPresenter()
{
    return read(&Parts::boxPresenter);
}
FileChooser fileChooser()
{
    return read(&Parts::fileChooser);
}
ExitHandler exitHandler()
{
    return read(&Parts::exitHandler);
}
QLocale::Language language()
{
    return read(&Parts::language);
}
UpdateServer updateServer()
{
    return read(&Parts::updateServer);
}
} // namespace services

ScopedServices::ScopedServices()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    saved_ = g_parts;
}

ScopedServices::~ScopedServices()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_parts = std::move(saved_);
}

ScopedServices& ScopedServices::hid(HidPlatform* platform)
{
    write(&services::Parts::hid, platform);
    return *this;
}
ScopedServices& ScopedServices::boxes(BoxPresenter presenter)
{
    write(&services::Parts::boxPresenter, std::move(presenter));
    return *this;
}
ScopedServices& ScopedServices::files(FileChooser chooser)
{
    write(&services::Parts::fileChooser, std::move(chooser));
    return *this;
}
ScopedServices& ScopedServices::exit(ExitHandler handler)
{
    write(&services::Parts::exitHandler, std::move(handler));
    return *this;
}
ScopedServices& ScopedServices::language(QLocale::Language language)
{
    write(&services::Parts::language, language);
    return *this;
}
ScopedServices& ScopedServices::server(const UpdateServer& server)
{
    write(&services::Parts::updateServer, server);
    return *this;
}
