#include "app/Front.h"
#include "platform/WidgetGeometry.h"

#include "app/Icons.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QVBoxLayout>

TfrmFront::TfrmFront(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName("frmFront");
    setFixedSize(380, 190);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xf4, 0xf7, 0xfb));
    setPalette(pal);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(16, 16, 16, 12);
    auto *top = new QHBoxLayout;
    imgPicture = new QLabel(this);
    imgPicture->setObjectName("imgPicture");
    imgPicture->setPixmap(productPicture().pixmap(96, 96));
    top->addWidget(imgPicture);
    lbProduct = new QLabel("quorvel", this);
    lbProduct->setObjectName("lbProduct");
    QFont big = lbProduct->font();
    big.setPointSize(30);
    big.setBold(true);
    lbProduct->setFont(big);
    top->addWidget(lbProduct, 1, Qt::AlignCenter);
    outer->addLayout(top, 1);

    pnInfo = new QLabel(this);
    pnInfo->setObjectName("pnInfo");
    pnInfo->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    outer->addWidget(pnInfo);
    pBar = new QProgressBar(this);
    pBar->setObjectName("pBar");
    pBar->setRange(0, 10);
    pBar->setValue(0);
    pBar->setTextVisible(false);
    pBar->setFixedHeight(12);
    outer->addWidget(pBar);

    platform::centreOnScreen(this);
}

void TfrmFront::DisplayInfo(const QString &message)
{
    pnInfo->setText("  " + message);
    QCoreApplication::processEvents();
    ++Counter;
    pBar->setValue(Counter);
    emit infoDisplayed(pnInfo->text());
}
