#pragma once
// The event pumps of a run: the protocol clients let the event loop run between
// lines so that painting, timers and socket events go on during a long transfer, and
// the wait control runs a nested loop. Every pump applies the same input rules: while
// it runs, user input (mouse buttons, keys, shortcuts, the wheel) is swallowed, so the
// user cannot start a second command in the middle of one.

#include <QEvent>
#include <QObject>

namespace net {

// Processes pending events, at most once per kPumpPeriodMs: doing it for each of the
// tens of thousands of lines of a large message would cost more than the transfer.
inline constexpr int kPumpPeriodMs = 10;
void letEventsRun();

// True for the user input events that a pump swallows.
bool isSwallowedInput(QEvent::Type type);

// The application-wide filter of the pumps. The plain one swallows input silently;
// the widget library installs one that beeps and lets a box shown during the pump
// take its own input.
class InputFilter : public QObject {
public:
    using QObject::QObject;
    // The outermost pump begins or ends.
    virtual void pumpBegins() {}
    virtual void pumpEnds() {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// Makes `filter` the one every pump installs (not owned; nullptr: the plain one).
void setInputFilter(InputFilter *filter);

// Installs the input filter on the application for its lifetime; nested guards
// install it once.
class InputRules {
public:
    InputRules();
    ~InputRules();
    InputRules(const InputRules &) = delete;
    InputRules &operator=(const InputRules &) = delete;

private:
    bool installed_ = false;
};

} // namespace net
