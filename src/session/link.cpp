#include "session/link.h"

#include "protocol/protocol.h"
#include "usb/featurereport.h"
#include "usb/usbthread.h"

#include <QDebug>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#ifdef __linux__
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace session {

namespace {
// The blocking reader's buffer: at least this, the device's input report
// length when it is longer, cut at the bound (the replies need 20 bytes).
constexpr std::size_t kMinInputRead = 64;
constexpr std::size_t kMaxInputReport = 4096;
// How long a stop waits for the posting reader's thread.
constexpr int kStopWaitMs = 2000;
// Report buffers kept for reuse: more than a writer keeps in hand at once.
constexpr std::size_t kSpareReports = 4;
} // namespace

// One thread's sleep until another wakes it; a wake given while it is
// awake is kept for its next sleep. On Linux a futex word: a wake costs a
// system call only when the thread sleeps, and the sleep one. (A condition
// variable costs a third: its wait takes the mutex back marked contended,
// so the next unlock calls into the kernel.)
class Wakeup {
public:
    void wait(); // by one thread only
    void wake();

private:
#ifdef __linux__
    enum : std::uint32_t { kIdle, kWoken, kSleeping };
    std::atomic<std::uint32_t> state_{kIdle};
#else
    std::mutex mutex_;
    std::condition_variable cv_;
    bool woken_ = false;
#endif
};

#ifdef __linux__
void Wakeup::wait()
{
    std::uint32_t s = state_.load();
    for (;;) {
        if (s == kWoken) {
            if (state_.compare_exchange_weak(s, kIdle))
                return;
            continue;
        }
        if (s == kIdle && !state_.compare_exchange_weak(s, kSleeping))
            continue;
        // Returns at once when the word is no longer kSleeping.
        syscall(SYS_futex, &state_, FUTEX_WAIT_PRIVATE, std::uint32_t(kSleeping), nullptr, nullptr, 0);
        s = state_.load();
    }
}

void Wakeup::wake()
{
    if (state_.exchange(kWoken) == kSleeping)
        syscall(SYS_futex, &state_, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}
#else
void Wakeup::wait()
{
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return woken_; });
    woken_ = false;
}

void Wakeup::wake()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    cv_.notify_one();
}
#endif

// The frames on their way to the device, and the thread that writes them.
// The writer sleeps with no time-out until a frame is queued or the link
// ends: one wake-up per frame, none while idle, and no system call for a
// frame queued while it writes. The mutex guards the queue only and is
// never held across a write or a sleep. A write that returns wakes no one
// unless a close waits for it. The reports' buffers go round between the
// queue and `spare`: a frame costs no allocation once the first are out.
struct Link::Writer {
    std::mutex mutex;
    Wakeup wake;                      // the writer: a frame, or the stop
    std::condition_variable returned; // a close: the write in progress returned
    std::deque<std::vector<std::uint8_t>> queue;
    std::vector<std::vector<std::uint8_t>> spare;
    std::size_t featureLength = protocol::kFeatureReportSize;
    bool stop = false;
    bool refused = false; // after a refused write nothing more goes out
    bool busy = false;    // a write is in progress
    bool closing = false; // a close waits on `returned`
    std::chrono::steady_clock::time_point since;

    void recycle(std::vector<std::uint8_t>&& report)
    {
        if (spare.size() < kSpareReports)
            spare.push_back(std::move(report));
    }
};

Link::Link(WriteMode mode, LinkHandles* handles, HidPlatform* platform)
    : mode_(mode)
    , handles_(handles ? handles : &own_)
    , platform_(platform)
{}

Link::~Link()
{
    if (handles_ == &own_)
        close();
    else
        endWriter(false);
}

HidPlatform* Link::platform() const
{
    return platform_ ? platform_ : hidPlatform();
}

bool Link::open(const std::string& path)
{
    HidPlatform* p = platform();
    if (!p)
        return false;
    LinkHandles& h = handles();
    h.hReadHandle = p->openRead(path);
    h.hWriteHandle = p->openWrite(path);
    // Any handle open on the device will do for its capabilities.
    const HidHandle capsHandle = h.hWriteHandle != kInvalidHidHandle ? h.hWriteHandle : h.hReadHandle;
    HidCaps caps;
    inputLength_ = kMinInputRead;
    const bool capsRead = capsHandle != kInvalidHidHandle && p->getCaps(capsHandle, &caps);
    if (capsRead) {
        h.hidCaps = caps;
        inputLength_ = std::min<std::size_t>(std::max<std::size_t>(kMinInputRead, caps.inputReportByteLength),
                                             kMaxInputReport);
    }
    const bool both = h.hReadHandle != kInvalidHidHandle && h.hWriteHandle != kInvalidHidHandle;
    if (both && mode_ == WriteMode::WriterThread) {
        startWriter();
        writer_->featureLength = capsRead ? caps.featureReportByteLength : protocol::kFeatureReportSize;
    }
    return both;
}

void Link::startWriter()
{
    endWriter(false);
    writer_ = std::make_shared<Writer>();
    // The writer owns nothing but its queue: the handle stays the link's,
    // and a backend's handle may be closed while a write on it runs.
    writerThread_ = std::thread([p = platform(), w = writer_, handle = handles().hWriteHandle] {
        std::unique_lock<std::mutex> lock(w->mutex);
        for (;;) {
            if (w->stop)
                return;
            if (w->queue.empty()) {
                lock.unlock();
                w->wake.wait();
                lock.lock();
                continue;
            }
            std::vector<std::uint8_t> report = std::move(w->queue.front());
            w->queue.pop_front();
            if (w->refused) {
                w->recycle(std::move(report));
                continue;
            }
            w->busy = true;
            w->since = std::chrono::steady_clock::now();
            lock.unlock();
            const bool ok = p->setFeature(handle, report.data(), report.size());
            lock.lock();
            w->busy = false;
            w->refused = w->refused || !ok;
            w->recycle(std::move(report));
            if (w->closing)
                w->returned.notify_all();
        }
    });
}

void Link::endWriter(bool abandonWrite)
{
    if (!writer_)
        return;
    std::unique_lock<std::mutex> lock(writer_->mutex);
    writer_->stop = true;
    writer_->closing = true;
    writer_->wake.wake();
    const auto grace = std::chrono::milliseconds(abandonWrite ? 0 : 50);
    const bool idle = writer_->returned.wait_for(lock, grace, [&] { return !writer_->busy; });
    lock.unlock();
    if (idle)
        writerThread_.join();
    else
        writerThread_.detach();
    writer_.reset();
}

void Link::close(bool abandonWrite)
{
    endWriter(abandonWrite);
    LinkHandles& h = handles();
    HidPlatform* p = platform();
    if (h.hReadHandle != kInvalidHidHandle && p)
        p->close(h.hReadHandle); // ends the blocking reader's read
    if (reader_.joinable())
        reader_.join();
    h.hReadHandle = kInvalidHidHandle;
    closeWrite();
}

void Link::closeWrite()
{
    LinkHandles& h = handles();
    if (h.hWriteHandle != kInvalidHidHandle)
        if (HidPlatform* p = platform())
            p->close(h.hWriteHandle);
    h.hWriteHandle = kInvalidHidHandle;
}

int Link::writeNow(const std::uint8_t* frame, std::size_t frameSize)
{
    LinkHandles& h = handles();
    if (h.hWriteHandle == kInvalidHidHandle || h.sendInProgress)
        return -1;
    // Exactly the device's feature report length goes out.
    const std::size_t length = h.hidCaps.featureReportByteLength;
    const std::vector<std::uint8_t> report = featureReport(frame, frameSize, length);

    h.sendInProgress = true;
    HidPlatform* p = platform();
    if (!p || !p->setFeature(h.hWriteHandle, report.data(), length))
        return 0;
    h.sendInProgress = false;
    return 1;
}

bool Link::enqueue(const std::uint8_t* frame, std::size_t frameSize)
{
    if (!writer_)
        return false;
    Writer& w = *writer_;
    {
        std::lock_guard<std::mutex> lock(w.mutex);
        if (w.refused)
            return false;
        std::vector<std::uint8_t> report;
        if (!w.spare.empty()) {
            report = std::move(w.spare.back());
            w.spare.pop_back();
        }
        featureReport(frame, frameSize, w.featureLength, &report);
        w.queue.push_back(std::move(report));
    }
    w.wake.wake();
    return true;
}

bool Link::allWritten() const
{
    if (!writer_)
        return true;
    std::lock_guard<std::mutex> lock(writer_->mutex);
    return writer_->queue.empty() && !writer_->busy;
}

bool Link::anyRefused() const
{
    if (!writer_)
        return false;
    std::lock_guard<std::mutex> lock(writer_->mutex);
    return writer_->refused;
}

int Link::msToStall(int deadlineMs) const
{
    if (!writer_)
        return -1;
    std::lock_guard<std::mutex> lock(writer_->mutex);
    if (!writer_->busy)
        return writer_->queue.empty() || writer_->refused ? -1 : deadlineMs;
    const auto left =
        writer_->since + std::chrono::milliseconds(deadlineMs) - std::chrono::steady_clock::now();
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return int(std::clamp<decltype(ms)>(ms, 0, deadlineMs));
}

void Link::startPostingReader(QObject* receiver)
{
    LinkHandles& h = handles();
    if (h.currentReader && h.currentReader->isRunning())
        return; // never two readers on the device
    delete h.currentReader;
    h.currentReader = new USBThread(receiver, h.hReadHandle, found, receiver);
    h.currentReader->StopOrStart(true);
    h.currentReader->start(QThread::InheritPriority);
}

void Link::stopPostingReader()
{
    LinkHandles& h = handles();
    USBThread* reader = h.currentReader;
    h.currentReader = nullptr;
    if (reader)
        reader->StopOrStart(false);
    // Closing the read handle ends the stopped reader's pending read.
    if (h.hReadHandle != kInvalidHidHandle) {
        if (HidPlatform* p = platform())
            p->close(h.hReadHandle);
        h.hReadHandle = kInvalidHidHandle;
    }
    readerHandle.store(kInvalidHidHandle);
    wakeReaders();
    if (!reader)
        return;
    if (reader->wait(kStopWaitMs)) {
        delete reader;
        return;
    }
    // A platform whose read did not end on close. The stopped reader posts
    // nothing more to its receiver; it must not die with the receiver while
    // its thread runs, and deletes itself once the thread has finished. Its
    // own connection to `finished` runs on this thread after this returns,
    // so a thread that ends at any moment from here on is caught.
    qDebug() << "reader did not stop in time";
    reader->setParent(nullptr);
    reader->deleteWhenFinished.store(true);
}

void Link::startBlockingReader(QObject* context, std::function<void(const QByteArray&)> onReport,
                               std::function<void()> onEnded)
{
    HidPlatform* p = platform();
    if (!p || reader_.joinable())
        return;
    // The reader sleeps in the blocking read; closing the handle ends it.
    reader_ = std::thread([p, context, onReport = std::move(onReport), onEnded = std::move(onEnded),
                           length = inputLength_, handle = handles().hReadHandle] {
        std::vector<std::uint8_t> buffer(length);
        for (;;) {
            const int n = p->readInput(handle, buffer.data(), buffer.size());
            if (n <= 0) {
                // Closed, or the device left.
                QMetaObject::invokeMethod(
                    context, [onEnded] { onEnded(); }, Qt::QueuedConnection);
                return;
            }
            const QByteArray r(reinterpret_cast<const char*>(buffer.data()), n);
            QMetaObject::invokeMethod(
                context, [onReport, r] { onReport(r); }, Qt::QueuedConnection);
        }
    });
}

} // namespace session
