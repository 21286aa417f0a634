#include "cli/devicesession.h"

#include "cli/eventlog.h"
#include "cli/exitstatus.h"
#include "image/firmwareimage.h"
#include "online/serverlayout.h"
#include "qtbridge/bytes.h"
#include "qtbridge/noticetext.h"
#include "upgrade/devicecheck.h"
#include "upgrade/notices.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>

namespace cli {

namespace {

// The largest image file the header can describe that fits one byte array
// (the window's bound).
constexpr qint64 kMaxImageFile = qint64(std::numeric_limits<int>::max()) - 64;
// How often the writer's progress is looked at while the last frames go out.
constexpr int kTickMs = 2;
// The window asks for the version this long after it opened the device.
constexpr int kVersionQueryDelayMs = 1000;
// A run's time limit when none is given: the start-up, and half the
// protocol's 4000 bytes per second for the image.
constexpr int kStartUpMs = 30000;

std::atomic<int> g_fetches{0};

} // namespace

int fetchesRunning()
{
    return g_fetches.load();
}

bool loadSessionImage(const QString& path, SessionOptions* options, QString* error)
{
    options->imagePath = path;
    options->image.clear();
    options->imageRead = false;
    QString why;
    const QFileInfo info(path);
    QFile file(path);
    if (path.isEmpty())
        why = QStringLiteral("no image file given");
    else if (info.isDir())
        why = QString::fromLocal8Bit(std::strerror(EISDIR));
    else if (info.exists() && !info.isFile()) // a FIFO's open would wait for a writer
        why = QStringLiteral("not a regular file");
    else if (!file.open(QIODevice::ReadOnly))
        why = file.errorString();
    else if (info.size() == 0)
        why = QStringLiteral("the file is empty");
    else if (info.size() < fwimage::kHeaderSize)
        why = QStringLiteral("%1 bytes, shorter than the %2-byte header")
                  .arg(info.size())
                  .arg(fwimage::kHeaderSize);
    else if (info.size() > kMaxImageFile)
        why = QStringLiteral("%1 bytes, larger than any image").arg(info.size());
    else {
        options->image = file.read(info.size());
        options->imageRead = options->image.size() == info.size();
        if (!options->imageRead)
            why = file.error() != QFileDevice::NoError ? file.errorString()
                                                       : QStringLiteral("the file changed while it was read");
    }
    if (!why.isEmpty() && error)
        *error = QStringLiteral("image %1: %2").arg(path, why);
    return why.isEmpty();
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
        (timer == upgrade::Timer::Dsp ? s_.dspTicking : s_.armTicking) = running;
        s_.ticker_.update(&s_);
    }
    void progress(int offset) override
    {
        if (!s_.done())
            s_.progressTo(offset);
    }
    void numberedError(int number) override { s_.stopAt(notices::numberedError(number)); }
    bool completion() override
    {
        // The engine completes once the last frames are handed over: the
        // run ends when the writer has put them on the wire.
        s_.dspTicking = s_.armTicking = false;
        s_.ticker_.update(&s_);
        s_.awaitWritten();
        return true;
    }

private:
    DeviceSession& s_;
};

DeviceSession::DeviceSession(HidPlatform& platform, DeviceInfo device, const SessionOptions& options,
                             EventLog* events, SessionTicker& ticker, QObject* parent)
    : session::Session(session::WriteMode::WriterThread, nullptr, &platform, parent)
    , platform_(platform)
    , device_(std::move(device))
    , options_(options)
    , events_(events)
    , ticker_(ticker)
    , sink_(std::make_unique<Sink>(*this))
{
    setSink(sink_.get());
    delayTimer_ = new QTimer(this);
    delayTimer_->setInterval(1000);
    connect(delayTimer_, &QTimer::timeout, this, [this] { carry(engine.startTick()); });
    limitTimer_ = new QTimer(this);
    limitTimer_->setSingleShot(true);
    connect(limitTimer_, &QTimer::timeout, this, [this] {
        if (!confirming_) // the confirmation has its own bound
            finish(Timeout);
    });
}

DeviceSession::~DeviceSession()
{
    // The reader's reports are queued to this session: end it first.
    link().close();
}

void DeviceSession::progressTo(qint64 offset)
{
    const int size = options_.image.size();
    if (size <= 0)
        return;
    const int percent = int(offset * 100 / size);
    if (percent != lastPercent_ && events_) {
        lastPercent_ = percent;
        events_->setContext(context());
        events_->write(QJsonObject{{"event", "progress"},
                                   {"bytes", offset},
                                   {"total", size},
                                   {"percent", percent},
                                   {"elapsed_ms", transferTime_.elapsed()}});
    }
    emit progress(offset, size);
}

QJsonObject DeviceSession::context() const
{
    return QJsonObject{{"path", QString::fromStdString(shownPath(device_.path))},
                       {"serial", device_.serial.empty()
                                      ? QJsonValue()
                                      : QJsonValue(QString::fromStdString(device_.serial))}};
}

// Opens `path` for the session: its read and write handles, the report
// lengths, the writer thread, the write deadline's check and the reader.
bool DeviceSession::openHandles(const std::string& path)
{
    if (!link().open(path)) {
        link().close();
        return false;
    }
    if (!writeWatch_) {
        writeWatch_ = new QTimer(this);
        writeWatch_->setSingleShot(true);
        connect(writeWatch_, &QTimer::timeout, this, &DeviceSession::checkWrites);
    }
    // A read that ends (closed, or the device left) lets the stage time out.
    link().startBlockingReader(
        this, [this](const QByteArray& r) { report(r); }, [this] { readerEnded(); });
    return true;
}

void DeviceSession::begin()
{
    time_.start();
    if (events_) {
        events_->setContext(context());
        events_->write(
            QJsonObject{{"event", "device"},
                        {"location", QString::fromStdString(device_.location)},
                        {"firmware", device_.firmware < 0 ? QJsonValue() : QJsonValue(device_.firmware)}});
    }
    if (!openHandles(device_.path)) {
        // Reported from the event loop: the caller has connected by then.
        QTimer::singleShot(0, this, [this] { finish(LinkFailure); });
        return;
    }
    QTimer::singleShot(kVersionQueryDelayMs, this, &DeviceSession::queryVersion);
    // A device that refused the query never heard it: it cannot be
    // written, which is another thing than a device that stays silent.
    QTimer::singleShot(options_.versionTimeoutMs, this, [this] {
        if (!started_ && !done())
            finish(link().anyRefused() ? LinkFailure : NoVersionReply);
    });
    // A limit that was given holds for the whole run, the download included;
    // without one, an online run has the fetch's own bound first and the
    // image's limit from when its bytes are here.
    int limit = options_.timeoutMs;
    if (limit <= 0)
        limit = options_.online ? options_.context.limits.deadlineMs + kStartUpMs
                                : kStartUpMs + options_.image.size() / 2;
    armLimit(limit);
}

void DeviceSession::armLimit(int ms)
{
    limitTimer_->start(std::max(ms, 0));
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
    const bool hadVersion = !engine.state.versionReply.empty();
    carry(engine.reply(r));
    if (!hadVersion && !started_ && !engine.state.versionReply.empty())
        startUpgrade();
}

void DeviceSession::startUpgrade()
{
    started_ = true;
    versionBefore_ = engine.state.deviceVersion;
    if (options_.online)
        return startFetch();
    fwimage::Header header;
    fwimage::parseHeader(options_.image, &header);
    // The digest is taken of the very bytes the blocks are cut from: no
    // frame goes out of an image other than the one meant.
    if (!options_.sha256.isEmpty() &&
        (!options_.imageRead ||
         QCryptographicHash::hash(options_.image, QCryptographicHash::Sha256) != options_.sha256))
        return finish(ImageDigest);
    // The window's checks, in its order: a path, the family, the format.
    const notices::Id verdict =
        devicecheck::check({!options_.imagePath.isEmpty(),
                            options_.imageRead && fwimage::checkImage(options_.image) == fwimage::Check::Ok,
                            options_.productId, engine.state.deviceVersion, std::int32_t(header.version)});
    if (verdict != notices::Id::None && verdict != notices::Id::LowerVersion)
        return stopAt(verdict);
    // Versions compared as numbers: no downgrade and no rewrite of the same
    // firmware unless asked for.
    const qint64 device = engine.state.deviceVersion;
    const qint64 file = header.version;
    if (file < device && !options_.allowOlder)
        return stopAt(notices::Id::LowerVersion);
    if (file < device)
        say(notices::Id::LowerVersion, -1);
    if (file == device && !options_.allowReinstall)
        return finish(ImageSame);
    // Every guard passed: a check ends here, before the device hears of it.
    if (options_.check)
        return finish(Success);
    if (options_.writing)
        options_.writing(device_, options_.image);
    engine.image.data = toBytes(options_.image);
    engine.image.dspImageEnd = std::int32_t(header.dspLength + fwimage::kHeaderSize);
    engine.image.blockSize = fwimage::kBlockSize;
    transferTime_.start();
    carry(engine.start());
}

void DeviceSession::startFetch()
{
    fetching_ = true;
    ++g_fetches;
    // The thread owns copies of what it needs; the session may be gone by
    // the time the fetch ends, and the result then reaches no one.
    const QPointer<DeviceSession> self(this);
    std::thread([self, source = options_.source, root = options_.dataRoot, fetchContext = options_.context,
                 firmware = int(engine.state.deviceVersion), keep = !options_.check] {
        bool upToDate = false;
        const online::ImageResult result =
            online::fetchNewest(source, root, firmware, fetchContext, &upToDate, keep);
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app,
                [self, result, upToDate] {
                    if (self)
                        self->fetched(result, upToDate);
                },
                Qt::QueuedConnection);
        --g_fetches;
    }).detach();
}

void DeviceSession::fetched(const online::ImageResult& result, bool upToDate)
{
    fetching_ = false;
    if (done()) // stopped or out of time meanwhile: nothing is written
        return;
    if (upToDate)
        return stopAt(notices::Id::LatestVersion);
    if (result.refused)
        return stopAt(notices::Id::UnsignedRefused);
    if (!result.ok) {
        emit detail(result.why);
        return stopAt(result.local.error != 0                    ? notices::Id::LocalWriteFailed
                      : modelDirectory(versionBefore_).isEmpty() ? notices::Id::UnknownModel
                                                                 : notices::Id::DownloadFailed);
    }
    say(notices::Id::DownloadSucceeded, statusOfNotice(notices::Id::DownloadSucceeded));
    // The verified bytes as they arrived: the file saved beside them is
    // never read back.
    options_.online = false;
    options_.image = result.image;
    options_.imageRead = true;
    options_.imagePath = result.savedPath;
    if (options_.timeoutMs <= 0)
        armLimit(kStartUpMs + options_.image.size() / 2);
    startUpgrade();
}

void DeviceSession::send(const frames::Frame& frame)
{
    if (done())
        return;
    write(frame);
    // The write deadline is watched from the first frame on (checkWrites()).
    if (writeWatch_ && !writeWatch_->isActive())
        writeWatch_->start(options_.writeDeadlineMs);
}

void DeviceSession::awaitWritten()
{
    if (done() || !link().writing())
        return;
    const bool refused = link().anyRefused();
    if (!link().allWritten()) {
        // A write that hangs is ended by checkWrites().
        QTimer::singleShot(kTickMs, this, &DeviceSession::awaitWritten);
        return;
    }
    // A frame the device refused never reached it: no success to announce.
    if (refused)
        return finish(LinkFailure);
    say(notices::Id::Completion, statusOfNotice(notices::Id::Completion));
    int status = Success;
    if (options_.verify) {
        QString said;
        status = options_.verify(device_, options_.imagePath, &said);
        if (!said.isEmpty())
            emit detail(said);
    }
    completed(status);
}

// Looks again when the write in progress would reach its deadline, and
// not at all while nothing is to be written (the next frame starts the watch).
void DeviceSession::checkWrites()
{
    if (done())
        return;
    const int left = link().msToStall(options_.writeDeadlineMs);
    if (left == 0)
        QTimer::singleShot(0, this, [this] { finish(WriteStalled); });
    else if (left > 0)
        writeWatch_->start(left);
}

void DeviceSession::say(notices::Id id, int status)
{
    emit notice(id, status);
    if (!events_)
        return;
    // The English wording, as the window shows it on an English system.
    events_->setContext(context());
    events_->write(QJsonObject{{"event", "notice"},
                               {"title", notices::title(id, false)},
                               {"text", notices::text(id, false)},
                               {"status", status}});
}

void DeviceSession::stopAt(notices::Id id)
{
    say(id, statusOfNotice(id));
    finish(statusOfNotice(id));
}

void DeviceSession::stop(int status)
{
    finish(status);
}

void DeviceSession::finish(int status)
{
    if (done())
        return;
    // The end acknowledged: every byte is the device's, whatever the last
    // window's progress said.
    if (status == Success && !options_.check)
        progressTo(options_.image.size());
    // The link closes: a write in progress is given a moment (one past its
    // deadline none: it is left to its thread, which ends when it returns).
    end(status, status == WriteStalled);
    if (transferTime_.isValid())
        transferMs_ = transferTime_.elapsed();
    confirming_ = false;
    delayTimer_->stop();
    limitTimer_->stop();
    if (writeWatch_)
        writeWatch_->stop();
    ticker_.update(this);

    if (events_) {
        ResultFacts facts;
        facts.image = options_.imagePath;
        facts.bytes = options_.imageRead ? &options_.image : nullptr;
        facts.firmwareBefore = versionBefore_;
        facts.confirmAsked = confirmAsked_;
        facts.firmwareAfter = firmwareAfter_;
        facts.seconds = time_.isValid() ? time_.elapsed() / 1000.0 : 0;
        facts.transferMs = transferMs_;
        facts.status = status;
        facts.check = options_.check;
        events_->setContext(context());
        events_->write(resultRecord(facts));
    }
    emit finished(status);
}

} // namespace cli
