#include "platform/Clock.h"

#include <QRandomGenerator>

namespace platform {

namespace {
std::function<QDateTime()> testClock;
std::function<int(int)> testRandom;
} // namespace

QDateTime now() { return testClock ? testClock() : QDateTime::currentDateTime(); }

int randomBelow(int bound)
{
    if (bound <= 1)
        return 0;
    if (testRandom)
        return testRandom(bound);
    return int(QRandomGenerator::global()->bounded(quint32(bound)));
}

void setClockForTesting(std::function<QDateTime()> clock) { testClock = std::move(clock); }
void setRandomForTesting(std::function<int(int)> random) { testRandom = std::move(random); }

} // namespace platform
