#include "app/About.h"
#include "platform/WidgetGeometry.h"

#include "app/Icons.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

TfrmAbout::TfrmAbout(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint)
{
    setObjectName("frmAbout");
    setWindowTitle("About quorvel");

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(18, 18, 18, 12);
    outer->setSpacing(14);
    auto *top = new QHBoxLayout;
    top->setSpacing(18);
    imgPicture = new QLabel(this);
    imgPicture->setObjectName("imgPicture");
    imgPicture->setPixmap(productPicture().pixmap(96, 96));
    top->addWidget(imgPicture, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    lbProduct = new QLabel("quorvel", this);
    lbProduct->setObjectName("lbProduct");
    QFont big = lbProduct->font();
    big.setPointSize(20);
    big.setBold(true);
    lbProduct->setFont(big);
    texts->addWidget(lbProduct);
    lbMotto = new QLabel("A picture is worth thousand words.", this);
    lbMotto->setObjectName("lbMotto");
    texts->addWidget(lbMotto);
    lbVersion = new QLabel(QString("Version %1, for Linux with Qt %2")
                               .arg(QStringLiteral(QUORVEL_VERSION), QString::fromLatin1(qVersion())),
                           this);
    lbVersion->setObjectName("lbVersion");
    texts->addWidget(lbVersion);
    texts->addSpacing(8);
    lbBuild = new QLabel("Build:0008", this);
    lbBuild->setObjectName("lbBuild");
    texts->addWidget(lbBuild);
    texts->addStretch(1);
    top->addLayout(texts, 1);
    outer->addLayout(top);

    auto *close = new QPushButton("Close", this);
    close->setObjectName("bnClose");
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    outer->addWidget(close, 0, Qt::AlignRight);
    setFixedSize(sizeHint());
}

void TfrmAbout::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        platform::centreOnScreen(this);
    QDialog::showEvent(event);
}
