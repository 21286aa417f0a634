#include "cli/exitstatus.h"

namespace cli {

namespace {

struct Row {
    int status;
    const char* meaning;
};

const Row rows[] = {
    {Success, "every frame of the image was written"},
    {Error1, "Error 1: no start acknowledgement within 10 s"},
    {Error2, "Error 2: DSP stage time-out"},
    {Error4, "Error 4: no acknowledgement after an end frame"},
    {Error5, "Error 5: ARM stage time-out"},
    {NoDevice, "no device found"},
    {LinkFailure, "the device cannot be written"},
    {NoVersionReply, "the device did not answer the version query"},
    {SeveralDevices, "more than one device is attached: choose one with --device or --serial"},
    {SomeDevicesFailed, "--all, --watch: at least one device was not written"},
    {FilePathEmpty, "no image file given"},
    {FileMismatch, "the image file does not match the device"},
    {SoftwareTypeMismatch, "the device's version belongs to no known family"},
    {FileFormat, "the image file is malformed or cannot be read"},
    {ImageDigest, "the image file's SHA-256 differs from --sha256"},
    {ImageOlder, "the image is older than the device's firmware: nothing written (--allow-older)"},
    {ImageSame, "the image is the firmware the device runs: nothing written (--allow-reinstall)"},
    {ImageMismatch, "the device does not hold exactly the file's images"},
    {UnexpectedNotice, "an unexpected notice was shown"},
    {Timeout, "the run took longer than its time limit"},
    {Interrupted, "the device's run was interrupted"},
    {WriteStalled, "a write to the device did not return within its deadline"},
    {NotBack, "--confirm: the device did not come back and answer its version in time"},
    {OtherVersion, "--confirm: the device came back with a firmware number other than the image's"},
    {UpToDate, "online: the device already runs the newest firmware on the server"},
    {DownloadFailed, "online: no version list or image could be had for the device"},
    {Usage, "bad command line"},
};

} // namespace

QString statusHelp(const char* success, const QList<int>& omitted)
{
    QString text = QStringLiteral("Exit status:\n");
    for (const Row& r : rows) {
        if (omitted.contains(r.status))
            continue;
        text += QStringLiteral("  %1  %2\n")
                    .arg(r.status, 3)
                    .arg(QString::fromUtf8(r.status == Success && success ? success : r.meaning));
    }
    return text;
}

QString statusMeaning(int status)
{
    for (const Row& r : rows) {
        if (r.status == status)
            return QString::fromUtf8(r.meaning);
    }
    return QStringLiteral("exit status %1").arg(status);
}

int statusOfNotice(notices::Id id)
{
    using notices::Id;
    switch (id) {
    case Id::Completion:
        return Success;
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
    case Id::LowerVersion:
        return ImageOlder;
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
        break;
    }
    return UnexpectedNotice;
}

} // namespace cli
