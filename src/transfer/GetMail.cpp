#include "transfer/GetMail.h"

#include "common/Settings.h"
#include "net/Wait.h"
#include "platform/Prompts.h"
#include "store/SharedState.h"
#include "transfer/FetchRun.h"
#include "transfer/Popup.h"
#include "transfer/RawMessageSpool.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

#include <utility>

TfrmGetMail::TfrmGetMail(ControlCentreState &state, QWidget *parent)
    : QWidget(parent, Qt::Window), state_(state)
{
    setObjectName("frmGetMail");
    setWindowTitle("Retrieving Mails...");

    auto edit = [this](const char *name) {
        auto *e = new QLineEdit(this);
        e->setObjectName(name);
        return e;
    };
    HostEdit = edit("HostEdit");
    PortEdit = edit("PortEdit");
    UserNameEdit = edit("UserNameEdit");
    PassWordEdit = edit("PassWordEdit");
    PassWordEdit->setEchoMode(QLineEdit::Password);
    MsgNumEdit = edit("MsgNumEdit");
    MsgNumEdit->setText("0");
    MsgLinesEdit = edit("MsgLinesEdit");
    MsgLinesEdit->setText("0");
    InfoLabel = new QLabel(this);
    InfoLabel->setObjectName("InfoLabel");
    Wait1 = new TWait(this);
    Wait1->setObjectName("Wait1");

    auto *form = new QFormLayout(this);
    form->addRow("Host", HostEdit);
    form->addRow("Port", PortEdit);
    form->addRow("User name", UserNameEdit);
    form->addRow("Password", PassWordEdit);
    form->addRow("Message", MsgNumEdit);
    form->addRow("Lines", MsgLinesEdit);
    form->addRow(InfoLabel);
    form->addRow(Wait1);

    Pop3Client = new TPop3Client(this);
    Pop3Client->setObjectName("Pop3Client");
    Pop3Client->Port = QStringLiteral("pop3");
    Pop3Client->TimeOut = 15;
    Pop3Client->MsgNum = 0;
    Pop3Client->MsgLines = 0;
    Pop3Client->SetWait(Wait1);
    Pop3Client->OnDisplay = [this](TPop3Client *s, const QString &m) { Pop3ClientDisplay(s, m); };
    Pop3Client->OnMessageBegin = [this](TPop3Client *s) { Pop3ClientMessageBegin(s); };
    Pop3Client->OnMessageLine = [this](TPop3Client *s) { Pop3ClientMessageLine(s); };
    Pop3Client->OnMessageEnd = [this](TPop3Client *s) { Pop3ClientMessageEnd(s); };
    Pop3Client->OnListBegin = [this](TPop3Client *s) { Pop3ClientListBegin(s); };
    Pop3Client->OnListLine = [this](TPop3Client *s) { Pop3ClientListLine(s); };
    Pop3Client->OnListEnd = [this](TPop3Client *s) { Pop3ClientListEnd(s); };
    Pop3Client->OnUidlBegin = [this](TPop3Client *s) { Pop3ClientUidlBegin(s); };
    Pop3Client->OnUidlLine = [this](TPop3Client *s) { Pop3ClientUidlLine(s); };
    Pop3Client->OnUidlEnd = [this](TPop3Client *s) { Pop3ClientUidlEnd(s); };

    FormCreate();
}

TfrmGetMail::~TfrmGetMail() = default;

void TfrmGetMail::setStepHookForTesting(std::function<void(const char *)> hook)
{
    FetchRun::setStepHookForTesting(std::move(hook));
}

void TfrmGetMail::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    FormShow();
}

void TfrmGetMail::FormCreate()
{
    HostEdit->setText(ReadIniString("POSTOFFICE", "Host", ""));
    PortEdit->setText(ReadIniString("POSTOFFICE", "Port", "pop3"));
    UserNameEdit->setText(ReadIniString("POSTOFFICE", "UserName", ""));
    PassWordEdit->setText(state_.te.DecryptText(ReadIniString("POSTOFFICE", "Password", "")));
}

void TfrmGetMail::FormShow()
{
    FormCreate();
    InfoLabel->clear();
}

bool TfrmGetMail::ExecCommand(const QString &label, bool (TPop3Client::*operation)())
{
    Pop3Client->Host = HostEdit->text();
    Pop3Client->Port = PortEdit->text();
    Pop3Client->UserName = UserNameEdit->text();
    Pop3Client->PassWord = PassWordEdit->text();
    Pop3Client->MsgNum = MsgNumEdit->text().toInt();
    Pop3Client->MsgLines = MsgLinesEdit->text().toInt();
    InfoLabel->setText(label + QStringLiteral(" started"));
    const bool ok = (Pop3Client->*operation)();
    InfoLabel->setText(label + (ok ? QStringLiteral(" ok") : QStringLiteral(" failed")));
    return ok;
}

// ---- the trace ----

void TfrmGetMail::trace(const QString &line)
{
    DisplayMemo.append(line);
    if (DisplayMemo.size() > 2 * kMaxTraceLines)
        DisplayMemo.remove(0, DisplayMemo.size() - kMaxTraceLines);
}

void TfrmGetMail::Pop3ClientDisplay(TPop3Client *, const QString &Msg) { trace(Msg); }

void TfrmGetMail::Pop3ClientMessageBegin(TPop3Client *Sender)
{
    trace(QStringLiteral("*** Message %1 begin ***").arg(Sender->MsgNum));
}

void TfrmGetMail::Pop3ClientMessageEnd(TPop3Client *Sender)
{
    trace(QStringLiteral("*** Message %1 end ***").arg(Sender->MsgNum));
}

void TfrmGetMail::Pop3ClientMessageLine(TPop3Client *Sender)
{
    trace(QString::fromLatin1(Sender->LastResponse()));
}

void TfrmGetMail::Pop3ClientListBegin(TPop3Client *) { trace(QStringLiteral("*** List begin ***")); }

void TfrmGetMail::Pop3ClientListEnd(TPop3Client *) { trace(QStringLiteral("*** List End ***")); }

void TfrmGetMail::Pop3ClientListLine(TPop3Client *Sender)
{
    trace(QStringLiteral("MsgNum = %1 MsgSize = %2 Line = '%3'")
              .arg(Sender->MsgNum)
              .arg(Sender->MsgSize())
              .arg(QString::fromLatin1(Sender->LastResponse())));
}

void TfrmGetMail::Pop3ClientUidlBegin(TPop3Client *) { trace(QStringLiteral("*** Uidl begin ***")); }

void TfrmGetMail::Pop3ClientUidlEnd(TPop3Client *) { trace(QStringLiteral("*** Uidl end ***")); }

void TfrmGetMail::Pop3ClientUidlLine(TPop3Client *Sender)
{
    trace(QStringLiteral("MsgNum = %1 MsgUidl = %2'").arg(Sender->MsgNum).arg(Sender->MsgUidl()));
}

// ---- the run ----

bool TfrmGetMail::FlushRawFiles()
{
    return RawMessageSpool::syncFileSystemOf(state_.InboxDir);
}

TfrmPopup *TfrmGetMail::popup()
{
    if (frmPopup)
        return frmPopup;
    if (!ownPopup_)
        ownPopup_ = new TfrmPopup(this);
    return ownPopup_;
}

void TfrmGetMail::GetAllButtonClick()
{
    if (run_)
        return;
    FormShow();
    FetchRun run(state_, *Pop3Client, *popup(), platform::prompts(), meMsgFile);
    run.Account = {HostEdit->text(), PortEdit->text(), UserNameEdit->text(), PassWordEdit->text(),
                   MsgLinesEdit->text().toInt()};
    run.MaxHeldBytes = MaxHeldBytes;
    run.OnStatus = [this](const QString &text) { InfoLabel->setText(text); };
    run.OnTrace = [this](const QString &line) { trace(line); };
    run.OnMessageNumber = [this](int n) { MsgNumEdit->setText(QString::number(n)); };
    run.FlushRawFiles = [this] { return FlushRawFiles(); };
    run_ = &run;
    struct Forget {
        FetchRun *&run;
        ~Forget() { run = nullptr; }
    } forget{run_};
    run.Run();
}
