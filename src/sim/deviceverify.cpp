#include "sim/deviceverify.h"

#include "cli/exitstatus.h"
#include "image/firmwareimage.h"
#include "usb/backends/virtual/devicemodel.h"

#include <QFile>

namespace cli {

int verifyDevice(const DeviceModel& device, const QString& imagePath, std::FILE* out, const std::string& who)
{
    const std::string prefix = who.empty() ? std::string() : who + ": ";
    QFile f(imagePath);
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(out, "%scannot read %s back: %s\n", prefix.c_str(), qPrintable(imagePath),
                     qPrintable(f.errorString()));
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
        std::fprintf(out, "%sdevice holds exactly the file's images: DSP %d bytes, ARM %d bytes\n",
                     prefix.c_str(), int(dsp.size()), int(arm.size()));
        return Success;
    }
    std::fprintf(out,
                 "%sdevice content differs from the file: DSP %d of %d bytes%s%s, ARM %d of %d bytes%s%s\n",
                 prefix.c_str(), int(gotDsp.size()), int(dsp.size()), gotDsp == dsp ? "" : " (differs)",
                 device.dspEnded() ? "" : " (no end frame)", int(gotArm.size()), int(arm.size()),
                 gotArm == arm ? "" : " (differs)", device.armEnded() ? "" : " (no end frame)");
    return ImageMismatch;
}

} // namespace cli
