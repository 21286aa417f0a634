#include "support/ticker.h"

#include <QElapsedTimer>

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
