#include "net/EventPump.h"

#include <QCoreApplication>
#include <QPointer>

#include <ctime>

namespace net {

namespace {

QPointer<InputFilter> chosenFilter;
// The filter of the outermost running pump, and how deeply pumps nest.
QPointer<InputFilter> activeFilter;
int depth = 0;

InputFilter *plainFilter()
{
    static QPointer<InputFilter> plain;
    if (!plain)
        plain = new InputFilter(QCoreApplication::instance());
    return plain;
}

// Milliseconds of the coarse monotonic clock.
qint64 coarseMs()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

bool isSwallowedInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::Wheel:
        return true;
    default:
        return false;
    }
}

bool InputFilter::eventFilter(QObject *, QEvent *event)
{
    if (!isSwallowedInput(event->type()))
        return false;
    // Accepting the override keeps the shortcut map from firing an action.
    if (event->type() == QEvent::ShortcutOverride)
        event->accept();
    return true;
}

void setInputFilter(InputFilter *filter) { chosenFilter = filter; }

InputRules::InputRules()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    installed_ = true;
    if (depth++ > 0)
        return;
    activeFilter = chosenFilter ? chosenFilter.data() : plainFilter();
    activeFilter->pumpBegins();
    app->installEventFilter(activeFilter);
}

InputRules::~InputRules()
{
    if (!installed_ || --depth > 0)
        return;
    if (activeFilter) {
        if (QCoreApplication *app = QCoreApplication::instance())
            app->removeEventFilter(activeFilter);
        activeFilter->pumpEnds();
    }
    activeFilter = nullptr;
}

void letEventsRun()
{
    // Called for every line a client reads: the coarse clock costs a fraction of the
    // precise one, and its few milliseconds of grain do not matter here.
    static qint64 last = -1;
    if (last >= 0 && coarseMs() - last < kPumpPeriodMs)
        return;
    InputRules rules;
    QCoreApplication::processEvents();
    last = coarseMs();
}

} // namespace net
