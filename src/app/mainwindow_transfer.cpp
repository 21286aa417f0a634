// The block transfer: each stage's 2 ms timer ticks the upgrade engine
// (upgrade/engine.h), which sends at most one 8-byte data frame per tick
// inside the window the device's last acknowledgement opened. The slots here
// feed the engine its events and carry its actions out over the window.
#include "app/mainwindow.h"
#include "app/mainwindow_notices.h"
#include "app/ui_mainwindow.h"
#include "core/processexit.h"
#include "upgrade/frames.h"
#include "widgets/progressbarcolor.h"

#include <QTimer>
#include <QToolButton>

namespace {

// The window as the engine's sink: frames through SendDataToUsb, the three
// timers, the progress bar, the notices and the two buttons.
class WindowSink : public upgrade::Sink {
public:
    explicit WindowSink(MainWindow& w)
        : w_(w)
    {}
    void send(const frames::Frame& frame) override
    {
        frames::Frame f = frame;
        w_.SendDataToUsb(f.data());
    }
    void setTimer(upgrade::Timer timer, bool running) override
    {
        QTimer* t = timer == upgrade::Timer::Dsp   ? w_.dspTimer
                    : timer == upgrade::Timer::Arm ? w_.armTimer
                                                   : w_.delayTimer;
        if (running)
            t->start();
        else
            t->stop();
    }
    void progress(int offset) override { w_.ui->progressBarColor->setValue(offset); }
    void numberedError(int number) override { notices::numberedError(w_, number); }
    bool completion() override
    {
        if (!notices::completion(w_))
            return false;
        // Leave the link tidy before the process ends: the reader stopped
        // and the read handle closed.
        w_.stopReader();
        exitProcess(0);
        return true;
    }
    void disableButtons() override
    {
        w_.ui->TBFlush->setEnabled(false);
        w_.ui->toolButton_2->setEnabled(false);
    }

private:
    MainWindow& w_;
};

} // namespace

void MainWindow::carry(const upgrade::Actions& actions)
{
    WindowSink sink(*this);
    deviceSession.carry(actions, sink);
}

int MainWindow::SendDSPData()
{
    const upgrade::Actions actions = engine.tick(upgrade::Stage::Dsp);
    carry(actions);
    return actions.result;
}

int MainWindow::SendARMData()
{
    const upgrade::Actions actions = engine.tick(upgrade::Stage::Arm);
    carry(actions);
    return actions.result;
}
