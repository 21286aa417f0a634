#include "support/ticker.h"

#include "app/mainwindow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <iterator>

void Ticker::run(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    int idleTicks = 0;
    while (!done() && clock.elapsed() < limitMs) {
        const upgrade::Timer order[] = {upgrade::Timer::Dsp, upgrade::Timer::Arm, upgrade::Timer::Delay};
        const auto t = std::find_if(std::begin(order), std::end(order), running);
        if (t == std::end(order))
            return;
        if (*t == upgrade::Timer::Delay) {
            idle(0);
            fire(*t);
            continue;
        }
        const long before = progress();
        fire(*t);
        idleTicks = progress() != before ? 0 : idleTicks + 1;
        if (idleTicks > 0)
            idle(idleTicks);
    }
}

namespace {
// Handles events for `ms` milliseconds.
void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
} // namespace

Ticker windowTicker(MainWindow& w)
{
    constexpr int kNoTicks = 3600 * 1000;
    for (QTimer* t : {w.dspTimer, w.armTimer, w.delayTimer})
        t->setInterval(kNoTicks);
    auto timerOf = [&w](upgrade::Timer t) {
        return t == upgrade::Timer::Dsp ? w.dspTimer : t == upgrade::Timer::Arm ? w.armTimer : w.delayTimer;
    };
    Ticker k;
    k.running = [timerOf](upgrade::Timer t) { return timerOf(t)->isActive(); };
    k.fire = [&w](upgrade::Timer t) {
        if (t == upgrade::Timer::Dsp)
            w.SendDSPData();
        else if (t == upgrade::Timer::Arm)
            w.SendARMData();
        else
            w.UpgradeDelayTimer();
    };
    k.progress = [&w] { return long(w.dspBlockIndex) + w.armBlockIndex; };
    k.idle = [&w](int idleTicks) {
        // The answer to the start frame stops the start wait: up to 100 ms
        // for it, a loaded machine being slow to deliver.
        for (int i = 0; idleTicks == 0 && i < 20 && w.delayTimer->isActive(); ++i)
            waitMs(5);
        if (idleTicks == 0)
            return;
        if (idleTicks < 50)
            waitMs(2);
        else
            QCoreApplication::processEvents();
    };
    return k;
}
