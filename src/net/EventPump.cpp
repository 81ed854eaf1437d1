#include "net/EventPump.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace net {

void letEventsRun()
{
    static QElapsedTimer since;
    if (since.isValid() && since.elapsed() < kPumpPeriodMs)
        return;
    QCoreApplication::processEvents();
    since.start();
}

} // namespace net
