#include "net/Wait.h"

#include "platform/Command.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPainter>
#include <QPointer>
#include <algorithm>

namespace {

// Installed on the application for the length of one RunWait. Filters stack, so
// removing this one restores whatever filtered before.
class InputSwallower : public QObject {
public:
    InputSwallower() { qApp->installEventFilter(this); }
    ~InputSwallower() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::Shortcut:
            QApplication::beep();
            return true;
        case QEvent::ShortcutOverride:
            // Accepting the override keeps the shortcut map from firing an action;
            // the key press that follows is swallowed (and beeps) above.
            event->accept();
            return true;
        default:
            return false;
        }
    }
};

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
    FModalResult = 1;
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
        FModalResult = 2;
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
    InputSwallower swallower;
    FModalResult = 0;
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
