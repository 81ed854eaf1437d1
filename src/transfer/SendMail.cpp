#include "transfer/SendMail.h"

#include "platform/Command.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "store/QueueFile.h"

TfrmSendMail::TfrmSendMail(ControlCentreState &state, QWidget *parent)
    : QWidget(parent, Qt::Window), state_(state)
{
    setObjectName("frmSendMail");
    setWindowTitle("Send Mail");
    bnSend = new QPushButton("Send", this);
    bnSend->setObjectName("bnSend");
    bnSend->setGeometry(28, 24, 75, 25);
    connect(bnSend, &QPushButton::clicked, this, [this] { platform::runCommand([this] { bnSendClick(); }); });
}

void TfrmSendMail::bnSendClick()
{
    // The posting run comes with the SMTP client.
}

void TfrmSendMail::RemoveSentMailFromQueue()
{
    state_.meTemp = RemoveMarkedLines(state_.meTemp);
    SaveQueue(QueueFilePath(state_.OutboxDir), state_.meTemp);
}

void TfrmSendMail::showEvent(QShowEvent *event)
{
    resize(132, 85);
    QWidget::showEvent(event);
}
