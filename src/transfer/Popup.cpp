#include "transfer/Popup.h"
#include "platform/WidgetGeometry.h"

#include "transfer/BusyIndicator.h"

#include <QShowEvent>

TfrmPopup::TfrmPopup(QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName("frmPopup");
    setWindowTitle("Progress");
    setFixedSize(320, 128);

    // Fixed places: the runs move the animations themselves.
    gaPost = new TBusyIndicator(TBusyIndicator::Direction::Outgoing, this);
    gaPost->setObjectName("gaPost");
    gaPost->setGeometry(12, 12, 296, 40);
    gaFetch = new TBusyIndicator(TBusyIndicator::Direction::Incoming, this);
    gaFetch->setObjectName("gaFetch");
    gaFetch->setGeometry(12, 12, 296, 40);
    gaFetch->hide();

    pbBar = new QProgressBar(this);
    pbBar->setObjectName("pbBar");
    pbBar->setGeometry(12, 60, 296, 20);
    pbBar->setRange(0, 100);
    pbBar->setValue(0);
    pbBar->setTextVisible(false);

    Panel1 = new QLabel(this);
    Panel1->setObjectName("Panel1");
    Panel1->setGeometry(12, 90, 296, 26);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setAlignment(Qt::AlignCenter);
}

void TfrmPopup::begin(Kind kind, int count, const QString &text)
{
    pbBar->setValue(0);
    pbBar->setMaximum(count);
    TBusyIndicator *shown = kind == Kind::Post ? gaPost : gaFetch;
    TBusyIndicator *hidden = kind == Kind::Post ? gaFetch : gaPost;
    hidden->stop();
    hidden->hide();
    shown->show();
    shown->move(12, 12);
    shown->start();
    Panel1->clear();
    show();
    Panel1->setText(text);
}

void TfrmPopup::advance(int position, const QString &text)
{
    pbBar->setValue(position);
    Panel1->setText(text);
}

void TfrmPopup::end()
{
    gaPost->stop();
    gaFetch->stop();
    close();
}

void TfrmPopup::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        platform::centreOnScreen(this);
    QWidget::showEvent(event);
}
