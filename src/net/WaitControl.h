#pragma once
// What the socket and the protocol clients need of a wait control. The painted
// countdown TWait implements it; the wire code sees only this interface, so it
// stays free of widgets.

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

namespace net {

// ModalResult of a wait control.
enum WaitResult {
    kWaitRunning = 0,
    kWaitStopped = 1,  // stopped by the program: state reached, line complete, connection gone
    kWaitTimedOut = 2, // the count ran out
    // The nested loop ended while the count still ran (the application quits, or the
    // control went away): nothing that was awaited happened.
    kWaitAborted = 3,
};

class WaitControl {
public:
    virtual ~WaitControl() = default;

    // The control as an object, so holders can notice its destruction.
    virtual QObject *waitObject() = 0;

    virtual QString Caption() const = 0;
    virtual void setCaption(const QString &caption) = 0;
    // Period of one count in milliseconds.
    virtual int Interval() const = 0;
    // A WaitResult.
    virtual int ModalResult() const = 0;
    virtual bool Running() const = 0;

    virtual void showWait(bool visible) = 0;
    // Counts down from the number in Caption while the event loop turns; returns
    // when StopWait is called, the count runs out, or the loop is ended from outside
    // (then ModalResult is kWaitAborted). Writing Caption while it runs restarts the
    // count from that number.
    virtual void RunWait() = 0;
    virtual void StopWait() = 0;

    // Replaces the control's OnTimeout handler (the clients bind their own).
    virtual void bindTimeout(std::function<void()> handler) = 0;
};

// A holder's reference to a wait control, which may be destroyed first: it reads as
// null once the control is gone.
class WaitRef {
public:
    WaitControl *get() const { return object_ ? wait_ : nullptr; }
    QObject *object() const { return object_; }
    void set(WaitControl *wait)
    {
        wait_ = wait;
        object_ = wait ? wait->waitObject() : nullptr;
    }

private:
    QPointer<QObject> object_;
    WaitControl *wait_ = nullptr;
};

} // namespace net
