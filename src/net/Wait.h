#pragma once
// The countdown wait control: a small painted bar with the remaining seconds. While
// RunWait runs it turns a nested event loop, swallows mouse and key input anywhere in
// the program with a beep (the input rules of every pump, which creating a wait
// control installs), and ends when the program stops it, the count reaches zero, or
// the loop is ended from outside (an abort).

#include "net/WaitControl.h"

#include <QBrush>
#include <QFont>
#include <QPen>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

class QEventLoop;
class TCustomWait;

using TWaitEvent = std::function<void(TCustomWait *Sender, int Count)>;
using TWaitNotifyEvent = std::function<void(TCustomWait *Sender)>;

class TCustomWait : public QWidget, public net::WaitControl {
    Q_OBJECT
public:
    explicit TCustomWait(QWidget *owner = nullptr);
    ~TCustomWait() override;

    // The count used when Caption holds no number.
    static constexpr int kFallbackCount = 15;
    static constexpr int kDefaultCount = 60;

    QString Caption() const override { return FCaption; }
    void setCaption(const QString &caption) override;
    int ModalResult() const override { return FModalResult; }
    void setModalResult(int value) { FModalResult = value; }
    int Interval() const override { return FTimer.interval(); }
    void setInterval(int milliseconds) { FTimer.setInterval(milliseconds); }
    bool Running() const override { return FTimer.isActive(); }
    int InitialCount() const { return FInitialCount; }

    virtual void StartWait();
    void StopWait() override;
    void RunWait() override;
    // Caption = the initial count.
    virtual void ResetCaption();

    QObject *waitObject() override { return this; }
    void showWait(bool visible) override { setVisible(visible); }
    void bindTimeout(std::function<void()> handler) override;

    // The number at the start of `text`: leading spaces skipped, then decimal digits;
    // 0 without digits.
    static int LeadingNumber(const QString &text);

    TWaitEvent OnWait;
    TWaitNotifyEvent OnWaiting;
    TWaitNotifyEvent OnWaitStart;
    TWaitNotifyEvent OnWaitStop;
    TWaitNotifyEvent OnTimeout;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void Tick();
    // The timer has stopped: every nested loop of this control ends.
    void quitLoops();

    QString FCaption = QString::number(kDefaultCount);
    int FModalResult = 0;
    int FInitialCount = kDefaultCount;
    QTimer FTimer;
    QPen FPen;
    QBrush FBrush;
    QFont FFont;
    std::vector<QEventLoop *> FLoops;
};

class TWait : public TCustomWait {
    Q_OBJECT
public:
    using TCustomWait::TCustomWait;
};
