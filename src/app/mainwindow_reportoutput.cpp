#include "app/mainwindow.h"
#include "app/mainwindow_notices.h"
#include "protocol/protocol.h"
#include "usb/featurereport.h"
#include "usb/linkstate.h"

#include <algorithm>
#include <vector>

int MainWindow::SendDataToUsb(unsigned char* WriteToDeiverBuffer)
{
    if (!MyDevFound) {
        notices::languageNotice(*this, notices::Id::DeviceNotFound);
        return -1;
    }
    if (hWriteHandle == kInvalidHidHandle) {
        notices::languageNotice(*this, notices::Id::WriteHandleInvalid);
        return -1;
    }
    if (sendInProgress)
        return -1;

    // Exactly the device's feature report length goes out.
    const std::size_t length = hidCaps.featureReportByteLength;
    const std::vector<std::uint8_t> report =
        featureReport(WriteToDeiverBuffer, protocol::kFeatureReportSize, length);

    sendInProgress = true;
    HidPlatform* platform = hidPlatform();
    if (!platform || !platform->setFeature(hWriteHandle, report.data(), length))
        return 0;
    sendInProgress = false;
    return 1;
}
