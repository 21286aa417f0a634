#include "cli/devicelist.h"

#include "core/terminaltext.h"
#include "upgrade/frames.h"
#include "usb/discovery.h"
#include "usb/featurereport.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

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

// One device's version query, run on a thread of its own: the read blocks
// until a report comes, so the caller bounds it by closing `read`.
struct Query {
    HidHandle read = kInvalidHidHandle;
    HidHandle write = kInvalidHidHandle;
    std::size_t featureLength = frames::kFrameSize;
    int firmware = -1;
    bool done = false;
};

void runQuery(HidPlatform& platform, Query& q, std::mutex& mutex, std::condition_variable& finished)
{
    int firmware = -1;
    const frames::Frame frame = frames::versionQuery();
    const std::vector<std::uint8_t> report = featureReport(frame.data(), frame.size(), q.featureLength);
    if (platform.setFeature(q.write, report.data(), q.featureLength)) {
        std::uint8_t buffer[64];
        for (;;) {
            const int n = platform.readInput(q.read, buffer, sizeof buffer);
            if (n <= 0)
                break; // closed at the deadline, or the device left
            const protocol::ByteView reply(buffer, std::size_t(n));
            if (buffer[0] == frames::kReportId && frames::decodeReply(reply) == frames::Reply::Version) {
                firmware = frames::replyVersion(reply);
                break;
            }
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    q.firmware = firmware;
    q.done = true;
    finished.notify_all();
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
    std::mutex mutex;
    std::condition_variable finished;
    std::vector<std::unique_ptr<Query>> queries(devices->size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < devices->size(); ++i) {
        const DeviceInfo& d = (*devices)[i];
        if (!d.writable)
            continue;
        auto q = std::make_unique<Query>();
        q->read = platform.openRead(d.path);
        q->write = platform.openWrite(d.path);
        HidCaps caps;
        if (q->write != kInvalidHidHandle && platform.getCaps(q->write, &caps) &&
            caps.featureReportByteLength > 0)
            q->featureLength = caps.featureReportByteLength;
        if (q->read == kInvalidHidHandle || q->write == kInvalidHidHandle) {
            q->done = true;
        } else {
            Query* raw = q.get();
            threads.emplace_back(
                [&platform, raw, &mutex, &finished] { runQuery(platform, *raw, mutex, finished); });
        }
        queries[i] = std::move(q);
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        finished.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)), [&] {
            return std::all_of(queries.begin(), queries.end(), [](const auto& q) { return !q || q->done; });
        });
    }
    // Closing the read handles ends the reads still waiting at once.
    for (auto& q : queries) {
        if (q && q->read != kInvalidHidHandle)
            platform.close(q->read);
    }
    for (std::thread& t : threads)
        t.join();
    for (std::size_t i = 0; i < queries.size(); ++i) {
        if (!queries[i])
            continue;
        if (queries[i]->write != kInvalidHidHandle)
            platform.close(queries[i]->write);
        (*devices)[i].firmware = queries[i]->firmware;
    }
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
