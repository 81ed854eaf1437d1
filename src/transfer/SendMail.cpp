#include "transfer/SendMail.h"

#include "mime/Marker.h"
#include "net/SmtpClient.h"
#include "net/Wait.h"
#include "platform/Command.h"
#include "transfer/Popup.h"

namespace {

constexpr int kSmtpTimeOutSeconds = 15;
constexpr int kWaitIntervalMs = 1000;

} // namespace

TfrmSendMail::TfrmSendMail(ControlCentreState &state, QWidget *parent)
    : QWidget(parent, Qt::Window), SmtpClient(new TSmtpClient(this)), state_(state), run_(state, *SmtpClient)
{
    setObjectName("frmSendMail");
    setWindowTitle("Send Mail");
    bnSend = new QPushButton("Send", this);
    bnSend->setObjectName("bnSend");
    bnSend->setGeometry(28, 24, 75, 25);
    connect(bnSend, &QPushButton::clicked, this, [this] { platform::runCommand([this] { bnSendClick(); }); });

    Wait1 = new TWait(this);
    Wait1->setObjectName("Wait1");
    Wait1->setCaption("60");
    Wait1->setInterval(kWaitIntervalMs);

    SmtpClient->setObjectName("SmtpClient");
    SmtpClient->Port = "smtp";
    SmtpClient->SetWait(Wait1);
    SmtpClient->CharSet = "iso-8859-1";
    SmtpClient->TimeOut = kSmtpTimeOutSeconds;
    SmtpClient->OnGetData = [this](TCustomSmtpClient *sender, int lineNum, QByteArray &line, int maxLen,
                                   bool &more) { SmtpClientGetData(sender, lineNum, line, maxLen, more); };
}

void TfrmSendMail::SmtpClientGetData(TCustomSmtpClient *, int LineNum, QByteArray &MsgLine, int MaxLen,
                                     bool &More)
{
    MsgLine = QByteArray(mime::kQuorvelMarker).left(MaxLen);
    if (LineNum >= 2)
        More = false;
}

void TfrmSendMail::GetHeader(const QString &path, QStringList &recipients, QString &subject, QString &to)
{
    PostRun::GetHeader(path, recipients, subject, to);
}

TfrmPopup *TfrmSendMail::popup()
{
    if (!frmPopup)
        frmPopup = new TfrmPopup(this);
    return frmPopup;
}

void TfrmSendMail::bnSendClick()
{
    run_.Send(*popup());
}

void TfrmSendMail::RemoveSentMailFromQueue()
{
    run_.RemoveSentMailFromQueue();
}

void TfrmSendMail::showEvent(QShowEvent *event)
{
    resize(132, 85);
    QWidget::showEvent(event);
}
