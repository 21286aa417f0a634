#include "sim/unattended.h"

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "cli/devicelist.h"
#include "cli/devicesession.h"
#include "cli/eventlog.h"
#include "core/commandline.h"
#include "core/filedialog.h"
#include "core/messagebox.h"
#include "core/processexit.h"
#include "core/services.h"
#include "online/curlfetch.h"
#include "online/fetchlimits.h"
#include "online/onlinefetch.h"
#include "online/serverlayout.h"
#include "online/updateserver.h"
#include "upgrade/notices.h"
#include "usb/hidplatform.h"
#include "usb/linkstate.h"
#include "usb/usbevent.h"
#include "widgets/progressbarcolor.h"

#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTimer>
#include <QToolButton>

#include <unistd.h>

namespace cli {

namespace {

// Larger image files are not read again for the result record's digest.
constexpr qint64 kMaxRecordedImage = 64 * 1024 * 1024;

QString oneLine(QString text)
{
    return text.replace(QLatin1Char('\n'), QLatin1Char(' ')).simplified();
}

// The first button of a box: the one a user would press to dismiss it.
int firstButton(QMessageBox::StandardButtons buttons)
{
    for (int b = QMessageBox::FirstButton; b <= QMessageBox::LastButton; b <<= 1) {
        if (buttons & b)
            return b;
    }
    return QMessageBox::Ok;
}

} // namespace

int confirmDevice(const DeviceInfo& device, const Options& options, int* firmwareAfter)
{
    HidPlatform* platform = hidPlatform();
    if (!platform)
        return NotBack;
    SessionOptions confirm;
    loadSessionImage(options.imagePath, &confirm, nullptr);
    confirm.confirmMs = options.confirmMs;
    SessionTicker ticker;
    DeviceSession session(*platform, device, confirm, nullptr, ticker);
    QEventLoop loop;
    QObject::connect(&session, &DeviceSession::finished, &loop, &QEventLoop::quit);
    const bool quiet = options.verbosity == cmdline::Verbosity::Quiet;
    if (!quiet)
        std::fprintf(stderr, "waiting for the device to come back (at most %d s)\n",
                     options.confirmMs / 1000);
    session.beginConfirm();
    loop.exec();
    *firmwareAfter = session.firmwareAfter();
    if (*firmwareAfter >= 0 && !quiet)
        std::fprintf(stderr, "device back with firmware %d\n", *firmwareAfter);
    return session.status();
}

int flashDevice(const DeviceInfo& device, const Options& options, EventLog* events,
                const std::function<void(Driver*)>& running)
{
    EventLog none;
    EventLog& log = events ? *events : none;
    log.setContext(QJsonObject{{"path", QString::fromStdString(shownPath(device.path))},
                               {"serial", QString::fromStdString(device.serial)}});
    log.write(QJsonObject{{"event", "device"},
                          {"location", QString::fromStdString(device.location)},
                          {"firmware", device.firmware < 0 ? QJsonValue() : QJsonValue(device.firmware)}});

    QElapsedTimer time;
    time.start();
    Options run = options;
    run.events = events;
    ResultFacts facts;
    {
        // Never shown: nobody looks at it, and painting its progress bar on
        // every 2 ms tick cost four fifths of the run's CPU.
        MainWindow window;
        window.onlineContext = options.context;
        Driver driver(run);
        if (running)
            running(&driver);
        facts.status = driver.run(window);
        if (running)
            running(nullptr);
        facts.transferMs = driver.transferMs();
        if (!window.versionReply.isEmpty())
            facts.firmwareBefore = window.deviceVersion;
        run.imagePath = driver.writtenImage();
    }
    facts.confirmAsked = facts.status == Success && options.confirmMs > 0;
    if (facts.confirmAsked)
        facts.status = confirmDevice(device, options, &facts.firmwareAfter);
    facts.image = run.imagePath;
    facts.seconds = time.elapsed() / 1000.0;
    // The record describes the file as it is now: the window read it by path.
    QFile image(run.imagePath);
    QByteArray bytes;
    if (!run.imagePath.isEmpty() && image.open(QIODevice::ReadOnly) && image.size() <= kMaxRecordedImage) {
        bytes = image.readAll();
        facts.bytes = &bytes;
    }
    log.write(resultRecord(facts));
    return facts.status;
}

Driver::Driver(Options options, QObject* parent)
    : QObject(parent)
    , options_(std::move(options))
{
    liveLine_ = isatty(fileno(options_.out)) != 0;
}

Driver::~Driver()
{
    if (window_)
        window_->removeEventFilter(this);
}

int Driver::statusOfNotice(const BoxRequest& box)
{
    using notices::Id;
    switch (box.notice) {
    case Id::Error1:
        return Error1;
    case Id::Error2:
        return Error2;
    case Id::Error4:
        return Error4;
    case Id::Error5:
        return Error5;
    case Id::PathEmpty:
        return FilePathEmpty;
    case Id::FileMismatch:
        return FileMismatch;
    case Id::SoftwareType:
        return SoftwareTypeMismatch;
    case Id::FileFormat:
        return FileFormat;
    // The road goes on after these: an older file is still written, the
    // question is answered Yes, and a downloaded image is written next.
    case Id::LowerVersion:
    case Id::NewFirmware:
    case Id::DownloadSucceeded:
        return -1;
    case Id::LatestVersion:
        return UpToDate;
    case Id::NetworkWarning:
    case Id::UnknownModel:
    case Id::FetchFailed:
    case Id::DownloadFailed:
    case Id::LocalWriteFailed:
        return DownloadFailed;
    case Id::DeviceNotFound:
        return NoDevice;
    case Id::WriteHandleInvalid:
        return LinkFailure;
    case Id::None:
    case Id::FileNotice:
    case Id::Completion:
        break;
    }
    return UnexpectedNotice;
}

int Driver::run(MainWindow& window)
{
    window_ = &window;
    status_ = -1;
    started_ = completionSeen_ = false;
    lastPercent_ = lastRecordedPercent_ = -1;
    transferMs_ = -1;
    transferTime_.invalidate();

    if (!window.MyDevFound) {
        std::fprintf(options_.out, "no device found\n");
        return NoDevice;
    }

    ScopedServices services;
    services.files([this](const OpenFileRequest&) { return options_.imagePath; })
        .boxes([this](const BoxRequest& box) { return answer(box); })
        .exit([this](int status) {
            if (status == 0 && completionSeen_) {
                // Every block went out: the last progress says so.
                if (window_)
                    progress(window_->imageData.size());
                finish(options_.verify ? options_.verify() : Success);
            } else
                finish(status);
        });

    QEventLoop loop;
    loop_ = &loop;
    window.installEventFilter(this);
    connect(window.ui->progressBarColor, &ProgressBarColor::valueChanged, this, &Driver::progress);

    int timeout = options_.timeoutMs;
    if (timeout <= 0) {
        // Half the protocol's 4000 bytes per second, plus the start-up.
        timeout = 30000 + int(QFileInfo(options_.imagePath).size() / 2);
    }
    QTimer::singleShot(options_.versionTimeoutMs, this, [this] {
        if (!started_)
            finish(NoVersionReply);
    });
    QTimer::singleShot(timeout, this, [this] {
        std::fprintf(options_.out, "%sgave up after the time limit\n",
                     liveLine_ && lastPercent_ >= 0 ? "\n" : "");
        finish(Timeout);
    });
    // A window that already knows the device's version needs no new reply.
    if (!window.versionReply.isEmpty())
        QTimer::singleShot(0, this, &Driver::versionKnown);

    loop.exec();

    loop_ = nullptr;
    window.removeEventFilter(this);
    disconnect(window.ui->progressBarColor, nullptr, this, nullptr);
    window_ = nullptr;
    return status_;
}

bool Driver::eventFilter(QObject* watched, QEvent* event)
{
    // The window handles the reply after this filter; look at the result
    // once it has.
    if (watched == window_ && event->type() == USBEventType && !started_)
        QTimer::singleShot(0, this, &Driver::versionKnown);
    return false;
}

void Driver::versionKnown()
{
    if (started_ || status_ >= 0 || !window_ || window_->versionReply.isEmpty())
        return;
    pressButtons();
}

void Driver::pressButtons()
{
    started_ = true;
    if (options_.online) {
        updateOnline();
        return;
    }
    std::fprintf(options_.out, "device version %u\nimage %s\n", unsigned(window_->deviceVersion),
                 qPrintable(options_.imagePath));
    std::fflush(options_.out);
    if (!options_.sha256.isEmpty()) {
        // Checked before the window reads the file, so nothing reaches the
        // device from a file that is not the one meant.
        QFile file(options_.imagePath);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        const bool read = file.open(QIODevice::ReadOnly) && hash.addData(&file);
        if (!read || hash.result() != options_.sha256) {
            std::fprintf(options_.out, "image %s: %s\n", qPrintable(options_.imagePath),
                         read ? qPrintable(QStringLiteral("SHA-256 %1 differs from --sha256 %2")
                                               .arg(QLatin1String(hash.result().toHex()),
                                                    QLatin1String(options_.sha256.toHex())))
                              : qPrintable(file.errorString()));
            finish(ImageDigest);
            return;
        }
        std::fprintf(options_.out, "SHA-256 %s matches\n", hash.result().toHex().constData());
    }
    window_->ui->TBFlush->click();
    if (status_ >= 0)
        return;
    if (!window_->ui->toolButton_2->isEnabled()) {
        std::fprintf(options_.out, "the start button stayed disabled\n");
        finish(UnexpectedNotice);
        return;
    }
    transferTime_.start();
    std::fprintf(options_.out, "file %d bytes: DSP %d, ARM %d, version %d\n", window_->imageData.size(),
                 window_->dspImageEnd - 16, window_->armImageLength, window_->fileVersion);
    window_->ui->toolButton_2->click();
}

void Driver::updateOnline()
{
    std::fprintf(options_.out, "device version %u\nupdate server %s:%d\n", unsigned(window_->deviceVersion),
                 qPrintable(updateServerAddress()), updateServerPort());
    std::fflush(options_.out);
    if (options_.fetch == Options::Fetch::FtpClient) {
        if (fetchWithFtpClient())
            writeDownloaded();
        return;
    }
    // Through the window's slot interface, as an explicit request: nothing in
    // the window starts the check by itself.
    int result = -1;
    QMetaObject::invokeMethod(window_, "Slot_GetRobotVersion", Qt::DirectConnection,
                              Q_RETURN_ARG(int, result), Q_ARG(bool, true));
    if (status_ >= 0)
        return;
    if (result != 0 || !window_->ui->toolButton_2->isEnabled()) {
        std::fprintf(options_.out, "no new image was downloaded\n");
        finish(result == 1 ? UpToDate : DownloadFailed);
        return;
    }
    writeDownloaded();
}

bool Driver::fetchWithFtpClient()
{
    // The model's version list through libcurl, then the image it names
    // through the window's LoadFile, all within one download's deadline.
    const fetchlimits::Scope bounded(window_->onlineContext.limits);
    const QString model = modelDirectory(int(window_->deviceVersion));
    QStringList list;
    const QString listPath = versionListPath(model);
    if (model.isEmpty() || window_->Slot_LoadingMessageFile(listPath, listPath, list) == -1) {
        std::fprintf(options_.out, "no version list for the device\n");
        finish(DownloadFailed);
        return false;
    }
    // Compared as numbers; the list's first line is a version number.
    int offered = 0;
    online::versionNumber(list.first(), &offered);
    if (offered <= int(window_->deviceVersion)) {
        std::fprintf(options_.out, "the device runs %s or newer\n", qPrintable(list.first()));
        finish(UpToDate);
        return false;
    }
    window_->serverFilePath = imagePath(model, list.first());
    const QString downloadDir = window_->appDirPath + QStringLiteral("/file/");
    QMetaObject::invokeMethod(window_, "LoadFile", Qt::DirectConnection,
                              Q_ARG(QString, window_->serverFilePath), Q_ARG(QString, downloadDir));
    if (status_ >= 0)
        return false;
    if (!window_->ui->toolButton_2->isEnabled()) {
        std::fprintf(options_.out, "no new image was downloaded\n");
        finish(DownloadFailed);
        return false;
    }
    window_->filePath = downloadDir + window_->serverFilePath;
    return true;
}

void Driver::writeDownloaded()
{
    transferTime_.start();
    options_.imagePath = window_->filePath;
    std::fprintf(options_.out, "downloaded %s\n", qPrintable(window_->filePath));
    if (options_.downloaded)
        options_.downloaded(window_->filePath);
    window_->ui->toolButton_2->click();
}

int Driver::answer(const BoxRequest& box)
{
    notices_ << box.notice;
    if (liveLine_ && lastPercent_ >= 0)
        std::fputc('\n', options_.out);
    lastPercent_ = liveLine_ ? -1 : lastPercent_;
    if (box.form == BoxRequest::Form::Completion) {
        completionSeen_ = true;
        if (options_.events)
            options_.events->write(
                QJsonObject{{"event", "notice"}, {"title", box.title}, {"text", box.text}, {"status", 0}});
        std::fprintf(options_.out, "completion: %s: %s\n", qPrintable(box.title),
                     qPrintable(oneLine(box.text)));
        std::fflush(options_.out);
        return QMessageBox::Ok;
    }
    std::fprintf(options_.out, "notice: %s: %s\n", qPrintable(box.title), qPrintable(oneLine(box.text)));
    std::fflush(options_.out);
    const int status = statusOfNotice(box);
    if (options_.events)
        options_.events->write(
            QJsonObject{{"event", "notice"}, {"title", box.title}, {"text", box.text}, {"status", status}});
    if (status >= 0)
        finish(status);
    return firstButton(box.buttons);
}

void Driver::progress(double value)
{
    const int size = window_ ? window_->imageData.size() : 0;
    if (size <= 0 || status_ >= 0 || options_.verbosity == cmdline::Verbosity::Quiet)
        return;
    const int percent = int(value * 100 / size);
    const qint64 elapsed = transferTime_.isValid() ? transferTime_.elapsed() : 0;
    if (options_.events && percent != lastRecordedPercent_) {
        lastRecordedPercent_ = percent;
        options_.events->write(QJsonObject{{"event", "progress"},
                                           {"bytes", qint64(value)},
                                           {"total", size},
                                           {"percent", percent},
                                           {"elapsed_ms", elapsed}});
    }
    if (liveLine_) {
        if (percent == lastPercent_)
            return;
        std::fprintf(options_.out, "\r%s", qPrintable(progressLine(qint64(value), size, elapsed)));
    } else {
        // A few lines in a log: one per tenth of the file.
        if (lastPercent_ >= 0 && percent / 10 == lastPercent_ / 10)
            return;
        std::fprintf(options_.out, "progress %3d%%  %d of %d bytes\n", percent, int(value), size);
    }
    lastPercent_ = percent;
    std::fflush(options_.out);
}

void Driver::finish(int status)
{
    if (status_ >= 0)
        return;
    status_ = status;
    if (transferTime_.isValid())
        transferMs_ = transferTime_.elapsed();
    // The run is over: nothing may tick on into a box nobody answers.
    if (window_) {
        window_->dspTimer->stop();
        window_->armTimer->stop();
        window_->delayTimer->stop();
    }
    if (loop_)
        loop_->quit();
}

} // namespace cli
