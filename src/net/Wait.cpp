#include "net/Wait.h"

#include "net/EventPump.h"
#include "platform/Command.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPainter>
#include <QPointer>
#include <QWindow>
#include <algorithm>

namespace {

// The input rules of every pump, with a beep for what is swallowed. A window that
// became modal after the outermost pump began (the default error handler's box, a
// prompt) takes its own input: it could not be answered otherwise.
class WaitInputFilter : public net::InputFilter {
public:
    using net::InputFilter::InputFilter;

    void pumpBegins() override { modalAtStart_ = QApplication::activeModalWidget(); }
    void pumpEnds() override { modalAtStart_ = nullptr; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!net::isSwallowedInput(event->type()) || inNewModal(watched))
            return false;
        // The plain rules swallow it (a shortcut override accepted, so that no action
        // fires; its key press beeps below).
        net::InputFilter::eventFilter(watched, event);
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::KeyPress:
            QApplication::beep();
            break;
        default:
            break; // releases and the wheel go quietly
        }
        return true;
    }

private:
    bool inNewModal(QObject *watched) const
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == modalAtStart_)
            return false;
        QWidget *widget = qobject_cast<QWidget *>(watched);
        if (!widget) {
            // Input reaches a widget's window first.
            if (auto *window = qobject_cast<QWindow *>(watched)) {
                const QWidgetList tops = QApplication::topLevelWidgets();
                for (QWidget *top : tops) {
                    if (top->windowHandle() == window) {
                        widget = top;
                        break;
                    }
                }
            }
        }
        for (; widget; widget = widget->parentWidget())
            if (widget == modal)
                return true;
        return false;
    }

    QPointer<QWidget> modalAtStart_;
};

// Every pump of the program follows the wait control's rules once one exists.
void installWaitInputRules()
{
    static QPointer<WaitInputFilter> filter;
    if (!filter && qApp) {
        filter = new WaitInputFilter(qApp);
        net::setInputFilter(filter);
    }
}

} // namespace

TCustomWait::TCustomWait(QWidget *owner) : QWidget(owner)
{
    resize(192, 32);
    FFont = QFont(QStringLiteral("Courrier"), 8);
    FFont.setFixedPitch(true);
    FFont.setStyleHint(QFont::TypeWriter);
    FPen = QPen(Qt::black);
    FBrush = QBrush(Qt::white);
    FTimer.setInterval(1000);
    connect(&FTimer, &QTimer::timeout, this, [this] { platform::runCommand([this] { Tick(); }); });
    installWaitInputRules();
}

TCustomWait::~TCustomWait()
{
    FTimer.stop();
    quitLoops();
}

int TCustomWait::LeadingNumber(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    qint64 n = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        n = std::min<qint64>(n * 10 + (text[i].unicode() - u'0'), INT_MAX);
    return int(n);
}

void TCustomWait::setCaption(const QString &caption)
{
    if (caption == FCaption)
        return;
    FCaption = caption;
    update();
}

void TCustomWait::ResetCaption() { setCaption(QString::number(FInitialCount)); }

void TCustomWait::bindTimeout(std::function<void()> handler)
{
    if (!handler) {
        OnTimeout = nullptr;
        return;
    }
    OnTimeout = [handler = std::move(handler)](TCustomWait *) { handler(); };
}

void TCustomWait::StartWait()
{
    FInitialCount = LeadingNumber(FCaption);
    if (FInitialCount == 0) {
        FInitialCount = kFallbackCount;
        setCaption(QString::number(FInitialCount));
    }
    FTimer.start();
    if (OnWaitStart)
        OnWaitStart(this);
}

void TCustomWait::StopWait()
{
    FModalResult = net::kWaitStopped;
    FTimer.stop();
    ResetCaption();
    quitLoops();
    if (OnWaitStop)
        OnWaitStop(this);
}

void TCustomWait::Tick()
{
    const int remaining = LeadingNumber(FCaption) - 1;
    if (OnWait)
        OnWait(this, remaining);
    if (remaining > 0) {
        setCaption(QString::number(remaining));
    } else {
        FTimer.stop();
        FModalResult = net::kWaitTimedOut;
        ResetCaption();
        quitLoops();
        if (OnTimeout)
            OnTimeout(this);
    }
    update();
}

void TCustomWait::quitLoops()
{
    for (QEventLoop *loop : FLoops)
        loop->quit();
}

void TCustomWait::RunWait()
{
    net::InputRules rules;
    FModalResult = net::kWaitRunning;
    StartWait();
    if (!Running())
        return;

    // A nested loop that sleeps until something happens, rather than a spin over
    // processEvents; OnWaiting fires each time the loop wakes.
    QPointer<TCustomWait> self(this);
    QEventLoop loop;
    FLoops.push_back(&loop);
    QMetaObject::Connection awake;
    if (OnWaiting) {
        if (auto *dispatcher = QAbstractEventDispatcher::instance())
            awake = connect(dispatcher, &QAbstractEventDispatcher::awake, this, [this] {
                if (Running() && OnWaiting)
                    platform::runCommand([this] { OnWaiting(this); });
            });
        OnWaiting(this);
    }
    if (Running())
        loop.exec();
    if (!self)
        return;
    disconnect(awake);
    FLoops.erase(std::remove(FLoops.begin(), FLoops.end(), &loop), FLoops.end());
    if (Running()) {
        // Neither StopWait nor the count ended the loop: the application is quitting
        // (after quit() every nested loop returns at once). Nothing awaited happened.
        FTimer.stop();
        FModalResult = net::kWaitAborted;
        ResetCaption();
    }
}

void TCustomWait::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(FPen);
    painter.setBrush(FBrush);
    painter.drawRect(QRect(QPoint(0, 0), QPoint(width() - 1, height() - 1)));

    const int remaining = LeadingNumber(FCaption);
    if (FInitialCount > 0 && remaining > 0) {
        const int right = 3 + remaining * (width() - 7) / FInitialCount;
        painter.fillRect(QRect(QPoint(3, 3), QPoint(right, height() - 4)),
                         palette().brush(QPalette::Highlight));
    }
    painter.setFont(FFont);
    painter.setPen(FPen);
    const QFontMetrics metrics(FFont);
    // The caption's top edge sits at height / 2 - 8.
    painter.drawText(4, height() / 2 - 8 + metrics.ascent(), FCaption);
}
