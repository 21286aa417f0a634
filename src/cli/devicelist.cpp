#include "cli/devicelist.h"

#include "core/terminaltext.h"
#include "session/link.h"
#include "upgrade/frames.h"

#include <QEventLoop>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace cli {

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

} // namespace cli
