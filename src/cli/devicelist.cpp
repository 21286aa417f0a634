#include "cli/devicelist.h"

#include "core/terminaltext.h"
#include "session/link.h"
#include "upgrade/frames.h"
#include "usb/discovery.h"

#include <QEventLoop>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>

namespace cli {

namespace {

bool pathCarriesIds(const std::string& path, std::uint16_t vendorId, std::uint16_t productId)
{
    std::string vendor;
    std::string product;
    char want[2][8];
    std::snprintf(want[0], sizeof want[0], "%04X", vendorId);
    std::snprintf(want[1], sizeof want[1], "%04X", productId);
    return idsFromDevicePath(path, &vendor, &product) && vendor == want[0] && product == want[1];
}

} // namespace

std::vector<DeviceInfo> listDevices(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId)
{
    std::vector<DeviceInfo> devices;
    for (const std::string& path : platform.enumerate()) {
        DeviceInfo info;
        info.path = path;
        const HidHandle probe = platform.openProbe(path);
        if (probe == kInvalidHidHandle) {
            // Known by the ids in its path only; who it is stays unknown.
            if (pathCarriesIds(path, vendorId, productId)) {
                info.error = platform.lastError();
                devices.push_back(std::move(info));
            }
            continue;
        }
        HidAttributes a;
        const bool ok = platform.getAttributes(probe, &a);
        if (ok && a.vendorId == vendorId && a.productId == productId) {
            platform.getSerialNumber(probe, &info.serial);
            platform.getLocation(probe, &info.location);
        }
        platform.close(probe);
        if (!ok || a.vendorId != vendorId || a.productId != productId)
            continue;
        const HidHandle w = platform.openWrite(path);
        info.writable = w != kInvalidHidHandle;
        if (info.writable)
            platform.close(w);
        else
            info.error = platform.lastError();
        devices.push_back(std::move(info));
    }
    return devices;
}

void queryFirmwareNumbers(HidPlatform& platform, std::vector<DeviceInfo>* devices, int timeoutMs)
{
    // Each device opened and asked the way a session opens and asks it: its
    // own link (handles, report lengths, writer thread) and blocking reader,
    // the replies handed to this thread's event loop.
    QObject replies;
    QEventLoop loop;
    int waiting = 0;
    std::vector<std::unique_ptr<session::Link>> links;
    for (DeviceInfo& d : *devices) {
        if (!d.writable)
            continue;
        auto link = std::make_unique<session::Link>(session::WriteMode::WriterThread, nullptr, &platform);
        const frames::Frame query = frames::versionQuery();
        if (!link->open(d.path) || !link->enqueue(query.data(), query.size()))
            continue; // the link closes as it goes
        ++waiting;
        // Once per device: its version reply, or the end of its read.
        auto answered = std::make_shared<bool>(false);
        const auto done = [&waiting, &loop, answered] {
            if (*answered)
                return;
            *answered = true;
            if (--waiting == 0)
                loop.quit();
        };
        link->startBlockingReader(
            &replies,
            [&d, done](const QByteArray& r) {
                const protocol::ByteView reply(reinterpret_cast<const std::uint8_t*>(r.constData()),
                                               std::size_t(r.size()));
                if (!r.isEmpty() && std::uint8_t(r[0]) == frames::kReportId &&
                    frames::decodeReply(reply) == frames::Reply::Version) {
                    d.firmware = frames::replyVersion(reply);
                    done();
                }
            },
            done);
        links.push_back(std::move(link));
    }
    if (waiting > 0) {
        QTimer::singleShot(std::max(0, timeoutMs), &loop, &QEventLoop::quit);
        loop.exec();
    }
    // Closing ends the reads still waiting; a write the device never took
    // is left to its thread. What the readers still posted goes with
    // `replies`.
    for (auto& link : links)
        link->close(true);
}

std::string shownPath(const std::string& path)
{
    const std::size_t ids = path.find("?VID_");
    return ids == std::string::npos ? path : path.substr(0, ids);
}

std::string printable(const std::string& text)
{
    return terminaltext::printable(text);
}

bool Selection::matches(const DeviceInfo& device) const
{
    if (!path.empty() && device.path != path && shownPath(device.path) != path)
        return false;
    // Compared as text, as the JSON listing shows the serial: bytes that are
    // no UTF-8 appear there as U+FFFD, and so does the --serial given back.
    return serial.empty() || QString::fromStdString(device.serial) == QString::fromStdString(serial);
}

bool severalDevices(const std::vector<DeviceInfo>& devices)
{
    std::set<std::string> seen;
    for (const DeviceInfo& d : devices)
        seen.insert(d.serial.empty() ? "path:" + d.path : "serial:" + d.serial);
    return seen.size() > 1;
}

} // namespace cli
