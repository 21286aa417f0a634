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
    {LinkFailure, "the device cannot be opened or refuses the writes"},
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
    {DownloadFailed,
     "online: no version list, release or image could be had for the device, or it was refused"},
    {Usage, "bad command line"},
    {LogUnusable, "the log of --log cannot be opened for appending"},
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
    case Id::UnsignedRefused:
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

QString terminalText(notices::Id id)
{
    using notices::Id;
    switch (id) {
    case Id::Completion:
        return QStringLiteral("update complete");
    case Id::Error1:
    case Id::Error2:
    case Id::Error4:
    case Id::Error5:
        return statusMeaning(statusOfNotice(id));
    case Id::PathEmpty:
        return QStringLiteral("no image file given");
    case Id::FileMismatch:
        return QStringLiteral("the image file does not match the device");
    case Id::SoftwareType:
        return QStringLiteral("the device's firmware number belongs to no known family");
    case Id::FileFormat:
        return QStringLiteral("the image file is not a firmware image");
    case Id::LowerVersion:
        return QStringLiteral("the image is older than the device's firmware");
    case Id::DownloadSucceeded:
        return QStringLiteral("the newest image was downloaded and passed its checks");
    case Id::DownloadFailed:
    case Id::FetchFailed:
        return QStringLiteral("the image could not be downloaded");
    case Id::DeviceNotFound:
        return QStringLiteral("no device found");
    case Id::WriteHandleInvalid:
        return QStringLiteral("the device cannot be opened for writing");
    case Id::UnknownModel:
        return QStringLiteral("the update server has no model for the device's firmware number");
    case Id::NetworkWarning:
        return QStringLiteral("the update server could not be reached");
    case Id::NewFirmware:
        return QStringLiteral("the update server has a newer firmware");
    case Id::LatestVersion:
        return QStringLiteral("the device already runs the newest firmware");
    case Id::LocalWriteFailed:
        return QStringLiteral("a file of the download cannot be written");
    case Id::UnsignedRefused:
        return QStringLiteral("no image from the update server: this build has no signing key to verify it "
                              "with (a build with the vendor's key, or --allow-unsigned)");
    case Id::None:
    case Id::FileNotice:
        break;
    }
    return QStringLiteral("notice %1").arg(int(id));
}

} // namespace cli
