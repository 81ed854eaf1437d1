#include "compose/StickerStrip.h"

#include "rtf/Rtf.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kPanelHeight = 50;
constexpr int kFrameSize = 44;
// Right of the eleventh slot's frame.
constexpr int kArrowLeft = 4 + TStickerStrip::kSlotPitch * TStickerStrip::kSlots + 2;

// A pale square with a dotted edge: a slot with no sticker.
QPixmap emptySlotPicture()
{
    QPixmap pixmap(TStickerStrip::kSlotSize, TStickerStrip::kSlotSize);
    pixmap.fill(QColor(0xf4, 0xf4, 0xf4));
    QPainter painter(&pixmap);
    painter.setPen(QPen(QColor(0xc0, 0xc0, 0xc0), 1, Qt::DotLine));
    painter.drawRect(0, 0, pixmap.width() - 1, pixmap.height() - 1);
    return pixmap;
}

// The red frame (pen 2) around the slot last pointed at; the mouse goes through it.
class Frame : public QWidget {
public:
    explicit Frame(QWidget *parent) : QWidget(parent)
    {
        setObjectName("Shape1");
        setAttribute(Qt::WA_TransparentForMouseEvents);
        resize(kFrameSize, kFrameSize);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(QPen(Qt::red, 2));
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
};

} // namespace

TStickerSlot::TStickerSlot(int number, QWidget *parent) : QLabel(parent), number_(number)
{
    setObjectName(QStringLiteral("Sticker%1").arg(number));
    setScaledContents(true);
    setMouseTracking(true);
}

void TStickerSlot::mouseMoveEvent(QMouseEvent *event)
{
    emit pointed(number_);
    QLabel::mouseMoveEvent(event);
}

void TStickerSlot::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton)
        emit insertRequested(number_);
    QLabel::mousePressEvent(event);
}

void TStickerSlot::mouseDoubleClickEvent(QMouseEvent *event)
{
    emit insertRequested(number_);
    QLabel::mouseDoubleClickEvent(event);
}

TStickerStrip::TStickerStrip(QWidget *parent)
    : QWidget(parent), empty_(emptySlotPicture()), emptyBody_(rtf::pngFile(empty_.toImage()))
{
    setObjectName("StickerStrip");
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *panel = new QWidget(this);
    panel->setObjectName("pnSticker");
    panel->setFixedHeight(kPanelHeight);
    panel->setMinimumWidth(kArrowLeft + 34);
    panel->setAutoFillBackground(true);
    QPalette white = panel->palette();
    white.setColor(QPalette::Window, Qt::white);
    panel->setPalette(white);
    panel->setCursor(Qt::PointingHandCursor);
    column->addWidget(panel);

    for (int k = 1; k <= kSlots; ++k) {
        auto *slot = new TStickerSlot(k, panel);
        slot->setGeometry(slotLeft(k), 4, kSlotSize, kSlotSize);
        slot->setPixmap(empty_);
        bodies_ << emptyBody_;
        connect(slot, &TStickerSlot::pointed, this, &TStickerStrip::point);
        connect(slot, &TStickerSlot::pointed, this, &TStickerStrip::pointed);
        connect(slot, &TStickerSlot::insertRequested, this, &TStickerStrip::insertRequested);
        slots_ << slot;
    }
    frame_ = new Frame(panel);
    frame_->hide();

    auto arrow = [this, panel](const char *name, Qt::ArrowType type, int top) {
        auto *b = new QToolButton(panel);
        b->setObjectName(name);
        b->setArrowType(type);
        b->setAutoRepeat(false);
        b->setGeometry(kArrowLeft, top, 30, 15);
        b->setCursor(Qt::ArrowCursor);
        return b;
    };
    connect(arrow("SpinButton1Up", Qt::UpArrow, 2), &QToolButton::clicked, this,
            &TStickerStrip::previousPage);
    connect(arrow("SpinButton1Down", Qt::DownArrow, 17), &QToolButton::clicked, this,
            &TStickerStrip::nextPage);
    count_ = new QLabel(panel);
    count_->setObjectName("edCount");
    count_->setFrameShape(QFrame::Box);
    count_->setAlignment(Qt::AlignCenter);
    count_->setGeometry(kArrowLeft, 33, 30, 15);

    tabs_ = new QTabBar(this);
    tabs_->setObjectName("TabSet1");
    tabs_->setShape(QTabBar::RoundedSouth);
    tabs_->setExpanding(false);
    tabs_->setDrawBase(false);
    column->addWidget(tabs_);
    connect(tabs_, &QTabBar::tabBarClicked, this, [this](int index) {
        if (index < 0 || index == chosen_)
            return;
        setChosenTab(index);
        emit tabChosen(index);
    });
}

TStickerSlot *TStickerStrip::slotAt(int slot) const
{
    return slot >= 1 && slot <= kSlots ? slots_[slot - 1] : nullptr;
}

void TStickerStrip::setPicture(int slot, const QImage &picture, const QString &name,
                               const QByteArray &body)
{
    if (TStickerSlot *s = slotAt(slot)) {
        s->setPixmap(QPixmap::fromImage(picture));
        s->setToolTip(name);
        bodies_[slot - 1] = body;
    }
}

void TStickerStrip::clearSlot(int slot)
{
    if (TStickerSlot *s = slotAt(slot)) {
        s->setPixmap(empty_);
        s->setToolTip(QString());
        bodies_[slot - 1] = emptyBody_;
    }
}

QString TStickerStrip::slotName(int slot) const
{
    const TStickerSlot *s = slotAt(slot);
    return s ? s->toolTip() : QString();
}

QByteArray TStickerStrip::slotBody(int slot) const
{
    return slotAt(slot) ? bodies_[slot - 1] : QByteArray();
}

void TStickerStrip::point(int slot)
{
    for (int k = 1; k <= kSlots; ++k) {
        const int side = k == slot ? kPointedSize : kSlotSize;
        slotAt(k)->resize(side, side);
    }
    frame_->move(slotLeft(slot) - 2, 2);
    frame_->show();
    frame_->raise();
}

void TStickerStrip::resetSlotSizes()
{
    for (TStickerSlot *s : slots_)
        s->resize(kSlotSize, kSlotSize);
}

void TStickerStrip::setCount(int members)
{
    count_->setText(QString::number(members));
}

QStringList TStickerStrip::tabNames() const
{
    QStringList names;
    for (int i = 0; i < tabs_->count(); ++i)
        names << tabs_->tabText(i);
    return names;
}

void TStickerStrip::setTabs(const QStringList &names)
{
    while (tabs_->count() > 0)
        tabs_->removeTab(0);
    for (const QString &name : names)
        tabs_->addTab(name);
    chosen_ = -1;
}

void TStickerStrip::addTab(const QString &name)
{
    tabs_->addTab(name);
}

void TStickerStrip::removeTab(int index)
{
    if (index == chosen_)
        chosen_ = -1;
    else if (index < chosen_)
        --chosen_;
    tabs_->removeTab(index);
}

void TStickerStrip::setChosenTab(int index)
{
    chosen_ = index >= 0 && index < tabs_->count() ? index : -1;
    if (chosen_ >= 0)
        tabs_->setCurrentIndex(chosen_);
}

void TStickerStrip::showEvent(QShowEvent *event)
{
    resetSlotSizes();
    QWidget::showEvent(event);
}
