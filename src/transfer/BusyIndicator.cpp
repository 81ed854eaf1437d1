#include "transfer/BusyIndicator.h"

#include <QPainter>
#include <QPainterPath>

TBusyIndicator::TBusyIndicator(Direction direction, QWidget *parent)
    : QWidget(parent), direction_(direction)
{
    resize(296, 40);
    timer_.setInterval(kFrameMs);
    connect(&timer_, &QTimer::timeout, this, &TBusyIndicator::advance);
}

void TBusyIndicator::start()
{
    timer_.start();
}

void TBusyIndicator::stop()
{
    timer_.stop();
    update();
}

void TBusyIndicator::advance()
{
    phase_ = (phase_ + 1) % kSteps;
    update();
}

void TBusyIndicator::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);
    const QColor accent = direction_ == Direction::Outgoing ? QColor(0x2a, 0x6f, 0xdb)
                                                            : QColor(0x2e, 0x9d, 0x4f);

    // The track: a row of dots, the sender's end on the left.
    const qreal y = area.center().y();
    p.setPen(Qt::NoPen);
    p.setBrush(palette().color(QPalette::Mid));
    for (qreal x = area.left() + 6; x < area.right() - 4; x += 12)
        p.drawEllipse(QPointF(x, y), 1.6, 1.6);

    // The envelope, placed by the phase; incoming mail travels right to left.
    const qreal w = 34, h = 22;
    const qreal span = area.width() - w;
    qreal t = qreal(phase_) / (kSteps - 1);
    if (direction_ == Direction::Incoming)
        t = 1 - t;
    const QRectF env(area.left() + t * span, y - h / 2, w, h);
    p.setPen(QPen(accent.darker(130), 1.5));
    p.setBrush(Qt::white);
    p.drawRoundedRect(env, 2, 2);
    QPainterPath flap;
    flap.moveTo(env.topLeft());
    flap.lineTo(env.center().x(), env.top() + h * 0.55);
    flap.lineTo(env.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);

    // Motion lines behind the envelope while running.
    if (isRunning()) {
        p.setPen(QPen(accent, 2, Qt::SolidLine, Qt::RoundCap));
        const bool out = direction_ == Direction::Outgoing;
        const qreal back = out ? env.left() - 4 : env.right() + 4;
        const qreal dir = out ? -1 : 1;
        for (int i = 0; i < 3; ++i) {
            const qreal ly = env.top() + 5 + i * 6;
            p.drawLine(QPointF(back, ly), QPointF(back + dir * (10 - 3 * (i % 2)), ly));
        }
    }
}
