// The --confirm phase of a DeviceSession: after the completion the device
// restarts into what it received. The session waits, bounded, for it to
// leave the bus, to come back with the same ids (the same serial number, or
// the same path when it reports none) and to answer the version query, and
// records the version it measured.
#include "cli/devicesession.h"

#include "cli/exitstatus.h"
#include "image/firmwareimage.h"
#include "upgrade/frames.h"

#include <QTimer>

#include <algorithm>

namespace cli {

namespace {

// How often the bus is looked at, and the version query sent again, while
// waiting.
constexpr int kConfirmPollMs = 250;
constexpr int kQueryEveryPolls = 4;

} // namespace

int DeviceSession::imageVersion() const
{
    fwimage::Header header;
    if (!options_.imageRead || !fwimage::parseHeader(options_.image, &header))
        return -1;
    return int(std::int32_t(header.version));
}

void DeviceSession::completed(int status)
{
    // Without judging, the wait is there to know the device's restart for
    // what it is; a device without a serial number cannot be told from
    // another one plugged in its place.
    if (status != Success || options_.confirmMs <= 0 || (!options_.confirmJudges && device_.serial.empty()))
        return finish(status);
    // The transfer ends here; the wait for the device is not part of it.
    transferMs_ = transferTime_.elapsed();
    transferTime_.invalidate();
    startConfirm();
}

void DeviceSession::beginConfirm()
{
    time_.start();
    // The device may be gone already; if not, its read ending says it left.
    if (!openConfirmed(device_.path))
        left_ = true;
    startConfirm();
}

void DeviceSession::startConfirm()
{
    confirming_ = true;
    confirmAsked_ = true;
    dspTicking = armTicking = false;
    delayTimer_->stop();
    ticker_.update(this);
    confirmTimer_ = new QTimer(this);
    confirmTimer_->setInterval(kConfirmPollMs);
    connect(confirmTimer_, &QTimer::timeout, this, &DeviceSession::confirmPoll);
    confirmTimer_->start();
    QTimer::singleShot(options_.confirmMs, this, [this] {
        if (confirming_)
            finish(options_.confirmJudges ? NotBack : Success);
    });
}

void DeviceSession::readerEnded()
{
    if (confirming_)
        left_ = true;
}

void DeviceSession::confirmPoll()
{
    if (done() || !confirming_) {
        confirmTimer_->stop();
        return;
    }
    if (!left_) {
        // A read that does not end when the device goes: its path does.
        const std::vector<std::string> paths = platform_.enumerate();
        if (std::find(paths.begin(), paths.end(), device_.path) == paths.end())
            left_ = true;
        return;
    }
    if (reopened_) {
        // Back and open: ask again until it answers.
        if (++confirmPolls_ % kQueryEveryPolls == 0)
            send(frames::versionQuery());
        return;
    }
    discovery::Look look;
    look.serial = true;
    discovery::walk(platform_, options_.vendorId, options_.productId, look, [this](const DeviceInfo& d) {
        const bool same = device_.serial.empty() ? d.path == device_.path : d.serial == device_.serial;
        // Not writable yet: udev may still be setting its permissions.
        if (!same || !openConfirmed(d.path))
            return true;
        reopened_ = true;
        confirmPolls_ = 0;
        send(frames::versionQuery());
        return false;
    });
}

bool DeviceSession::openConfirmed(const std::string& path)
{
    link().close();
    return openHandles(path);
}

void DeviceSession::confirmReport(const QByteArray& r)
{
    // Replies of the device before it left (a late acknowledgement) are no
    // answer of the restarted one.
    if (!left_ || frames::decodeReply(r) != frames::Reply::Version)
        return;
    firmwareAfter_ = frames::replyVersion(r);
    const int expected = imageVersion();
    const bool same = expected >= 0 && firmwareAfter_ == std::uint16_t(expected);
    finish(same || !options_.confirmJudges ? Success : OtherVersion);
}

} // namespace cli
