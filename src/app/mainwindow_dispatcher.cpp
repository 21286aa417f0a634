// The device's replies, delivered by the reader thread as posted events and
// handled here on the GUI thread: they move the upgrade from stage to stage.
#include "app/mainwindow.h"
#include "upgrade/frames.h"
#include "usb/usbevent.h"

#include <QTimer>

void MainWindow::customEvent(QEvent* event)
{
    if (event->type() != USBEventType)
        return;
    const auto* report = dynamic_cast<const USBEvent*>(event);
    if (!report || report->reportId != frames::kReportId)
        return;
    const QByteArray& r = report->reportData;

    switch (frames::decodeReply(r)) {
    case frames::Reply::DspAck:
        if (dspEndSent) {
            // The acknowledgement of the DSP end frame closes the DSP stage.
            dspTimer->stop();
            dspEndSent = false;
            frames::Frame f = frames::armHandshake();
            SendDataToUsb(f.data());
            armTimer->start();
        }
        dspMaySend = true;
        break;
    case frames::Reply::ArmAck:
        armMaySend = true;
        break;
    case frames::Reply::StartAck:
        upgradeRunning = true;
        delayTimer->stop();
        startWaitTicks = 0;
        // Sending may open a modal box whose event loop delivers a second
        // start acknowledgement before the send returns; that one must not
        // send the handshake again.
        if (handshakeGuard) {
            handshakeGuard = false;
            if (!dspHandshakeSent) {
                dspHandshakeSent = true;
                DSPShakeHand();
            }
            handshakeGuard = true;
        }
        dspTimer->start();
        break;
    case frames::Reply::Completion:
        finishReceived = true;
        break;
    case frames::Reply::Version:
        versionReply = r;
        deviceVersion = frames::replyVersion(r);
        break;
    case frames::Reply::Ignored:
        break;
    }
}
