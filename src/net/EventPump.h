#pragma once
// The protocol clients let the event loop run between lines so that painting, timers
// and socket events go on during a long transfer.

namespace net {

// Processes pending events, at most once per kPumpPeriodMs: doing it for each of the
// tens of thousands of lines of a large message would cost more than the transfer.
inline constexpr int kPumpPeriodMs = 10;
void letEventsRun();

} // namespace net
