// The block transfer: each stage's 2 ms timer sends at most one 8-byte data
// frame per tick inside the window the device's last acknowledgement opened.
//
// A tick counts its block and moves the stage's flags before it sends
// anything: sending may open a modal box, and the completion box stays open
// at the end of the tick, so whatever runs in their event loops (replies,
// the other stage's ticks) already sees the block as sent and the window
// or the stage as closed, and nothing can send the block a second time.
#include "app/mainwindow.h"
#include "app/mainwindow_notices.h"
#include "app/ui_mainwindow.h"
#include "core/processexit.h"
#include "image/firmwareimage.h"
#include "upgrade/frames.h"
#include "widgets/progressbarcolor.h"

#include <QTimer>
#include <QToolButton>

int MainWindow::DSPbinFileSend(int nnum, int number)
{
    frames::Frame f = frames::dspData(imageData, nnum, number);
    SendDataToUsb(f.data());
    return 0;
}

int MainWindow::ARMbinFileSend(int nnum, int number)
{
    frames::Frame f = frames::armData(imageData, nnum, number);
    SendDataToUsb(f.data());
    return 0;
}

int MainWindow::SendDSPData()
{
    if (!upgradeRunning)
        return -1;

    ++dspWaitTicks;
    if (dspWaitTicks == frames::kAckTimeoutTicks) {
        if (dspEndSent && !finishReceived) {
            dspEndSent = false;
            dspTimer->stop();
            notices::numberedError(*this, 4);
        } else {
            // dspTimer keeps running idle; a later start acknowledgement
            // resumes the stage at the block where it stopped.
            upgradeRunning = false;
            dspWaitTicks = 0;
            notices::numberedError(*this, 2);
        }
        return -1;
    }
    if (!dspMaySend)
        return 0;

    dspWaitTicks = 0;
    const int offset = fwimage::kHeaderSize + dspBlockIndex * blockSize;
    if (offset == dspImageEnd)
        return 0;

    const int endBlock = dspImageEnd / blockSize;
    // Blocks go out only from an image that passes the format checks, only
    // from inside the stage's image, and the counter moves only past a block
    // sent: a start acknowledgement the start button did not ask for runs
    // this stage with no image loaded, or with a file the checks refused; and
    // the counter is never set back, so it can already lie past the end of
    // an image loaded after an earlier run.
    if (offset + blockSize > dspImageEnd || fwimage::checkImage(imageData) != fwimage::Check::Ok)
        return 0;
    const bool last = dspBlockIndex == endBlock - 3;
    ++dspBlockIndex;
    if (dspBlockIndex % frames::kWindowFrames == 0)
        dspMaySend = false;
    if (last) {
        dspEndSent = true;
        dspMaySend = false;
    }

    DSPbinFileSend(offset, blockSize);
    ui->progressBarColor->setValue(offset);
    if (last) {
        frames::Frame f = frames::dspEnd();
        SendDataToUsb(f.data());
    }
    return 0;
}

int MainWindow::SendARMData()
{
    if (!upgradeRunning)
        return -1;

    ++armWaitTicks;
    if (armWaitTicks == frames::kAckTimeoutTicks && !armMaySend) {
        if (armEndSent && !finishReceived) {
            armEndSent = false;
            armTimer->stop();
            notices::numberedError(*this, 4);
        } else {
            upgradeRunning = false;
            armTimer->stop();
            notices::numberedError(*this, 5);
        }
        return -1;
    }
    if (!armMaySend)
        return 0;

    armWaitTicks = 0;
    const int size = imageData.size();
    const int offset = dspImageEnd + armBlockIndex * blockSize;
    if (offset == size)
        return 0;

    // As in the DSP stage.
    if (offset + blockSize > size || fwimage::checkImage(imageData) != fwimage::Check::Ok)
        return 0;
    const bool last = armBlockIndex == (size - dspImageEnd) / blockSize - 1;
    const bool fileDone = offset + blockSize == size;
    ++armBlockIndex;
    if (armBlockIndex % frames::kWindowFrames == 0)
        armMaySend = false;
    if (last) {
        armEndSent = true;
        armMaySend = false;
    }

    ARMbinFileSend(offset, blockSize);
    ui->progressBarColor->setValue(offset);
    if (last) {
        frames::Frame f = frames::armEnd();
        SendDataToUsb(f.data());
        ui->toolButton_2->setEnabled(false);
        ui->TBFlush->setEnabled(false);
    }
    if (fileDone && notices::completion(*this)) {
        // Leave the link tidy before the process ends: the reader stopped
        // and the read handle closed.
        stopReader();
        exitProcess(0);
        return 0;
    }
    return 0;
}
