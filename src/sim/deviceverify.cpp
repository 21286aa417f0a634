#include "sim/deviceverify.h"

#include "cli/exitstatus.h"
#include "image/firmwareimage.h"
#include "usb/backends/virtual/devicemodel.h"

#include <QFile>

namespace cli {

int verifyDevice(const DeviceModel& device, const QString& imagePath, QString* said)
{
    QFile f(imagePath);
    if (!f.open(QIODevice::ReadOnly)) {
        *said = QStringLiteral("cannot read %1 back: %2").arg(imagePath, f.errorString());
        return ImageMismatch;
    }
    const QByteArray file = f.readAll();
    const protocol::Bytes dsp = fwimage::dspImage(file);
    const protocol::Bytes arm = fwimage::armImage(file);
    const protocol::Bytes& gotDsp = device.dspImage();
    const protocol::Bytes& gotArm = device.armImage();
    // The images alone are not enough: a device whose stage never got its
    // end frame has not taken the image in.
    const bool ended = device.dspEnded() && device.armEnded();
    if (gotDsp == dsp && gotArm == arm && ended) {
        *said = QStringLiteral("device holds exactly the images of %1: DSP %2 bytes, ARM %3 bytes")
                    .arg(imagePath)
                    .arg(dsp.size())
                    .arg(arm.size());
        return Success;
    }
    *said = QStringLiteral("device content differs from %1: DSP %2 of %3 bytes%4%5, ARM %6 of %7 bytes%8%9")
                .arg(imagePath)
                .arg(gotDsp.size())
                .arg(dsp.size())
                .arg(gotDsp == dsp ? "" : " (differs)", device.dspEnded() ? "" : " (no end frame)")
                .arg(gotArm.size())
                .arg(arm.size())
                .arg(gotArm == arm ? "" : " (differs)", device.armEnded() ? "" : " (no end frame)");
    return ImageMismatch;
}

} // namespace cli
