// Opening an upgrade: the version query, the start command with its
// ten-second wait for the device's answer.
#include "app/mainwindow.h"
#include "app/mainwindow_imagefile.h"
#include "app/ui_mainwindow.h"
#include "online/serverlayout.h"
#include "upgrade/frames.h"

#include <QToolButton>

void MainWindow::Slot_SengReadCommand()
{
    frames::Frame f = frames::versionQuery();
    SendDataToUsb(f.data());
}

void MainWindow::onGetVersionFromMotor()
{
    Slot_SengReadCommand();
}

void MainWindow::Slot_SecondCommand()
{
    frames::Frame f = frames::start();
    SendDataToUsb(f.data());
}

void MainWindow::on_toolButton_2_clicked()
{
    // The online download enables this button after writing a new file to
    // filePath without loading it; never start with an image other than the
    // one filePath names.
    if (!imagecheck::memoryImageIsCurrent(*this) && !imagecheck::loadAndCheck(*this)) {
        ui->toolButton_2->setEnabled(false);
        return;
    }
    // A held download is written only into a device of its model that runs
    // an older firmware, whatever the device reported since the download.
    if (heldDownload && (fileVersion <= std::int32_t(deviceVersion) ||
                         modelDirectory(fileVersion) != modelDirectory(deviceVersion))) {
        ui->toolButton_2->setEnabled(false);
        FlushFileTip(1);
        return;
    }
    carry(engine.start());
}

void MainWindow::UpgradeDelayTimer()
{
    carry(engine.startTick());
}
