#pragma once
// The one clock and the one random source of the system. Names, dates, boundaries
// and the scrambler's starting value read these, so tests can fix them.

#include <QDateTime>
#include <functional>

namespace platform {

// The current local date and time.
QDateTime now();

// A whole number from 0 to bound - 1 (bound >= 1).
int randomBelow(int bound);

// Test seams: replace the clock or the random source; an empty function restores
// the real one.
void setClockForTesting(std::function<QDateTime()> clock);
void setRandomForTesting(std::function<int(int bound)> random);

} // namespace platform
