#include "cli/devicesession.h"

#include "cli/eventlog.h"
#include "cli/exitstatus.h"
#include "image/firmwareimage.h"
#include "upgrade/notices.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace unattended {

namespace {

// The largest image file the header can describe that fits one byte array
// (the window's bound).
constexpr qint64 kMaxImageFile = qint64(std::numeric_limits<int>::max()) - 64;
// Input reports longer than this are cut; the replies need 20 bytes.
constexpr std::size_t kMaxInputReport = 4096;
// The stages' tick, and how many ticks a late wake-up may make up for: one
// window of data frames at most.
constexpr int kTickMs = 2;
constexpr qint64 kMaxCatchUp = frames::kWindowFrames;
// The window asks for the version this long after it opened the device.
constexpr int kVersionQueryDelayMs = 1000;

QJsonValue orNull(int number)
{
    return number < 0 ? QJsonValue() : QJsonValue(number);
}

} // namespace

void loadSessionImage(const QString& path, SessionOptions* options)
{
    options->imagePath = path;
    options->image.clear();
    options->imageRead = false;
    const QFileInfo info(path);
    QFile file(path);
    if (path.isEmpty() || !info.isFile() || info.size() < fwimage::kHeaderSize ||
        info.size() > kMaxImageFile || !file.open(QIODevice::ReadOnly))
        return;
    options->image = file.read(info.size());
    options->imageRead = options->image.size() == info.size();
}

// --- the shared tick ---

SessionTicker::SessionTicker(QObject* parent)
    : QObject(parent)
{
    timer_ = new QTimer(this);
    timer_->setInterval(kTickMs);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &SessionTicker::tick);
}

void SessionTicker::update(DeviceSession* session)
{
    auto it = std::find(sessions_.begin(), sessions_.end(), session);
    if (session->ticking() && it == sessions_.end())
        sessions_.emplace_back(session);
    else if (!session->ticking() && it != sessions_.end())
        it->clear(); // dropped at the next tick: the list may be being walked
    const bool any =
        std::any_of(sessions_.begin(), sessions_.end(), [](const auto& s) { return !s.isNull(); });
    if (any && !timer_->isActive()) {
        clock_.start();
        rounds_ = 0;
        timer_->start();
    } else if (!any)
        timer_->stop();
}

void SessionTicker::tick()
{
    const qint64 due = clock_.elapsed() / kTickMs;
    // Ticks that fell due more than a few ticks ago are dropped, as a late
    // timer drops them.
    if (due - rounds_ > kMaxCatchUp)
        rounds_ = due - kMaxCatchUp;
    while (rounds_ < due && !sessions_.empty()) {
        ++rounds_;
        round();
    }
    if (sessions_.empty())
        timer_->stop();
}

void SessionTicker::round()
{
    // By index: a session's tick may add another session to the list.
    for (std::size_t i = 0; i < sessions_.size(); ++i) {
        QPointer<DeviceSession> s = sessions_[i];
        if (s && s->ticking())
            s->tick();
    }
    sessions_.erase(std::remove_if(sessions_.begin(), sessions_.end(),
                                   [](const auto& s) { return s.isNull() || !s->ticking(); }),
                    sessions_.end());
}

// --- the session ---

class DeviceSession::Sink : public upgrade::Sink {
public:
    explicit Sink(DeviceSession& s)
        : s_(s)
    {}
    void send(const frames::Frame& frame) override { s_.send(frame); }
    void setTimer(upgrade::Timer timer, bool running) override
    {
        if (s_.done() || s_.confirming_)
            return;
        if (timer == upgrade::Timer::Delay) {
            if (running)
                s_.delayTimer_->start();
            else
                s_.delayTimer_->stop();
            return;
        }
        (timer == upgrade::Timer::Dsp ? s_.dspTimer_ : s_.armTimer_) = running;
        s_.ticker_.update(&s_);
    }
    void progress(int offset) override
    {
        const int size = s_.options_.image.size();
        if (s_.done() || size <= 0)
            return;
        const int percent = int(qint64(offset) * 100 / size);
        if (percent != s_.lastPercent_ && s_.events_) {
            s_.lastPercent_ = percent;
            s_.events_->setContext(s_.context());
            s_.events_->write(QJsonObject{{"event", "progress"},
                                          {"bytes", offset},
                                          {"total", size},
                                          {"percent", percent},
                                          {"elapsed_ms", s_.transferTime_.elapsed()}});
        }
        emit s_.progress(offset, size);
    }
    void numberedError(int number) override
    {
        s_.notice(notices::numberedError(number), number);
        s_.finish(number);
    }
    bool completion() override
    {
        s_.notice(notices::Id::Completion, Success);
        s_.completed(s_.options_.verify ? s_.options_.verify(s_.device_) : Success);
        return true;
    }

private:
    DeviceSession& s_;
};

DeviceSession::DeviceSession(HidPlatform& platform, DeviceInfo device, const SessionOptions& options,
                             EventLog* events, SessionTicker& ticker, QObject* parent)
    : QObject(parent)
    , platform_(platform)
    , device_(std::move(device))
    , options_(options)
    , events_(events)
    , ticker_(ticker)
{
    delayTimer_ = new QTimer(this);
    delayTimer_->setInterval(1000);
    connect(delayTimer_, &QTimer::timeout, this, [this] { carry(engine_.startTick()); });
}

DeviceSession::~DeviceSession()
{
    closeHandles();
}

QJsonObject DeviceSession::context() const
{
    return QJsonObject{{"path", QString::fromStdString(shownPath(device_.path))},
                       {"serial", QString::fromStdString(device_.serial)}};
}

void DeviceSession::begin()
{
    time_.start();
    if (events_) {
        events_->setContext(context());
        events_->write(QJsonObject{{"event", "device"},
                                   {"location", QString::fromStdString(device_.location)},
                                   {"firmware", orNull(device_.firmware)}});
    }
    read_ = platform_.openRead(device_.path);
    write_ = platform_.openWrite(device_.path);
    if (read_ == kInvalidHidHandle || write_ == kInvalidHidHandle) {
        // Reported from the event loop: the caller has connected by then.
        QTimer::singleShot(0, this, [this] { finish(LinkFailure); });
        return;
    }
    HidCaps caps;
    std::size_t inputLength = 64;
    if (platform_.getCaps(write_, &caps)) {
        featureLength_ = caps.featureReportByteLength;
        inputLength = std::max<std::size_t>(inputLength, caps.inputReportByteLength);
    }
    inputLength = std::min(inputLength, kMaxInputReport);
    // The reader sleeps in the blocking read; closing the handle ends it.
    reader_ = std::thread([this, inputLength, handle = read_] {
        std::vector<std::uint8_t> buffer(inputLength);
        for (;;) {
            const int n = platform_.readInput(handle, buffer.data(), buffer.size());
            if (n <= 0) {
                // Closed, or the device left: the stage times out.
                QMetaObject::invokeMethod(
                    this, [this] { readerEnded(); }, Qt::QueuedConnection);
                return;
            }
            const QByteArray r(reinterpret_cast<const char*>(buffer.data()), n);
            QMetaObject::invokeMethod(
                this, [this, r] { report(r); }, Qt::QueuedConnection);
        }
    });
    QTimer::singleShot(kVersionQueryDelayMs, this, &DeviceSession::queryVersion);
    QTimer::singleShot(options_.versionTimeoutMs, this, [this] {
        if (!started_ && !done())
            finish(NoVersionReply);
    });
    int limit = options_.timeoutMs;
    if (limit <= 0) // half the protocol's 4000 bytes per second, plus the start-up
        limit = 30000 + options_.image.size() / 2;
    QTimer::singleShot(limit, this, [this] {
        if (!confirming_) // the confirmation has its own bound
            finish(Timeout);
    });
}

void DeviceSession::queryVersion()
{
    if (!done() && !started_)
        send(frames::versionQuery());
}

void DeviceSession::report(const QByteArray& r)
{
    if (done() || r.isEmpty() || std::uint8_t(r[0]) != frames::kReportId)
        return;
    if (confirming_)
        return confirmReport(r);
    const bool hadVersion = !engine_.state.versionReply.isEmpty();
    carry(engine_.reply(r));
    if (!hadVersion && !started_ && !engine_.state.versionReply.isEmpty())
        startUpgrade();
}

void DeviceSession::startUpgrade()
{
    started_ = true;
    versionBefore_ = engine_.state.deviceVersion;
    // The window's checks, in its order: a path, the family, the format.
    fwimage::Header header;
    fwimage::parseHeader(options_.image, &header);
    const bool wellFormed = options_.imageRead && fwimage::checkImage(options_.image) == fwimage::Check::Ok;
    const int family =
        fwimage::familyRule(options_.productId, engine_.state.deviceVersion, std::int32_t(header.version));
    // The digest is taken of the very bytes the blocks are cut from: no
    // frame goes out of an image other than the one meant.
    if (!options_.sha256.isEmpty() &&
        (!options_.imageRead ||
         QCryptographicHash::hash(options_.image, QCryptographicHash::Sha256) != options_.sha256))
        return finish(ImageDigest);
    if (options_.imagePath.isEmpty()) {
        notice(notices::Id::PathEmpty, FilePathEmpty);
        return finish(FilePathEmpty);
    }
    if (family == -1) {
        notice(notices::Id::FileMismatch, FileMismatch);
        return finish(FileMismatch);
    }
    if (family == -2) {
        notice(notices::Id::SoftwareType, SoftwareTypeMismatch);
        return finish(SoftwareTypeMismatch);
    }
    if (!wellFormed) {
        notice(notices::Id::FileFormat, FileFormat);
        return finish(FileFormat);
    }
    if (std::int32_t(engine_.state.deviceVersion) > std::int32_t(header.version))
        notice(notices::Id::LowerVersion, -1);
    engine_.image.data = options_.image;
    engine_.image.dspImageEnd = std::int32_t(header.dspLength + fwimage::kHeaderSize);
    engine_.image.blockSize = fwimage::kBlockSize;
    transferTime_.start();
    carry(engine_.start());
}

void DeviceSession::carry(const upgrade::Actions& actions)
{
    Sink sink(*this);
    engine_.carry(actions, sink);
}

void DeviceSession::tick()
{
    if (done())
        return;
    // The window's two timers tick their own stage. A timer this tick
    // starts has its first tick at the next one, as a QTimer would.
    const bool dsp = dspTimer_;
    const bool arm = armTimer_;
    if (dsp)
        carry(engine_.tick(upgrade::Stage::Dsp));
    if (arm && armTimer_ && !done())
        carry(engine_.tick(upgrade::Stage::Arm));
}

void DeviceSession::send(const frames::Frame& frame)
{
    if (done() || writeRefused_ || write_ == kInvalidHidHandle)
        return;
    // Exactly the device's feature report length: padded with zeros, or cut.
    std::vector<std::uint8_t> report(std::max<std::size_t>(featureLength_, 1), 0);
    std::copy(frame.begin(), frame.begin() + std::min(featureLength_, frame.size()), report.begin());
    if (!platform_.setFeature(write_, report.data(), featureLength_))
        writeRefused_ = true;
}

void DeviceSession::notice(notices::Id id, int status)
{
    if (!events_)
        return;
    // The English wording, as the window shows it on an English system.
    events_->setContext(context());
    events_->write(QJsonObject{{"event", "notice"},
                               {"title", notices::title(id, false)},
                               {"text", notices::text(id, false)},
                               {"status", status}});
}

void DeviceSession::stop(int status)
{
    finish(status);
}

void DeviceSession::finish(int status)
{
    if (done())
        return;
    status_ = status;
    if (transferTime_.isValid())
        transferMs_ = transferTime_.elapsed();
    dspTimer_ = armTimer_ = false;
    confirming_ = false;
    delayTimer_->stop();
    ticker_.update(this);
    closeHandles();

    if (events_) {
        QJsonObject result{{"event", "result"},
                           {"image", options_.imagePath},
                           {"firmware_before", orNull(versionBefore_)},
                           {"duration_s", time_.elapsed() / 1000.0},
                           {"transfer_s", transferMs_ < 0 ? QJsonValue() : QJsonValue(transferMs_ / 1000.0)},
                           {"status", status},
                           {"outcome", statusMeaning(status)}};
        fwimage::Header header;
        if (options_.imageRead && fwimage::parseHeader(options_.image, &header))
            result.insert("image_version", qint64(std::int32_t(header.version)));
        if (options_.imageRead)
            result.insert("image_sha256",
                          QString::fromLatin1(
                              QCryptographicHash::hash(options_.image, QCryptographicHash::Sha256).toHex()));
        // What the device runs afterwards is known only when it was asked.
        confirmRecord(&result);
        events_->setContext(context());
        events_->write(result);
    }
    emit finished(status);
}

void DeviceSession::closeHandles()
{
    if (read_ != kInvalidHidHandle)
        platform_.close(read_); // ends the reader's blocked read
    if (reader_.joinable())
        reader_.join();
    read_ = kInvalidHidHandle;
    if (write_ != kInvalidHidHandle)
        platform_.close(write_);
    write_ = kInvalidHidHandle;
}

} // namespace unattended
