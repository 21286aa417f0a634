// The device's replies, delivered by the reader thread as posted events and
// handed here on the GUI thread to the upgrade engine, which moves the
// upgrade from stage to stage.
#include "app/mainwindow.h"
#include "upgrade/frames.h"
#include "usb/usbevent.h"

void MainWindow::customEvent(QEvent* event)
{
    if (event->type() != USBEventType)
        return;
    const auto* report = dynamic_cast<const USBEvent*>(event);
    if (!report || report->reportId != frames::kReportId)
        return;
    // The window's copy of a version reply, before the engine's step.
    if (frames::decodeReply(report->reportData) == frames::Reply::Version)
        versionReply = report->reportData;
    carry(engine.reply(report->reportData));
}
