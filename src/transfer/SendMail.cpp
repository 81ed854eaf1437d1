#include "transfer/SendMail.h"

#include "net/SmtpClient.h"
#include "net/Wait.h"
#include "platform/CaseResolver.h"
#include "platform/Command.h"
#include "platform/Prompts.h"
#include "store/OutgoingHeader.h"
#include "store/QueueFile.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "store/TextOps.h"
#include "transfer/BusyIndicator.h"
#include "transfer/Popup.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace {

constexpr int kSmtpTimeOutSeconds = 15;
constexpr int kWaitIntervalMs = 1000;

// The lines of `now` that are not among `loaded`, counted with their repeats and
// kept in file order: what was added to the queue file after it was loaded.
QStringList LinesAddedSince(const QStringList &loaded, const QStringList &now)
{
    QHash<QString, int> left;
    for (const QString &line : loaded)
        ++left[line];
    QStringList added;
    for (const QString &line : now) {
        auto it = left.find(line);
        if (it != left.end() && *it > 0)
            --*it;
        else
            added += line;
    }
    return added;
}

} // namespace

TfrmSendMail::TfrmSendMail(ControlCentreState &state, QWidget *parent)
    : QWidget(parent, Qt::Window), state_(state)
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

    SmtpClient = new TSmtpClient(this);
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
    MsgLine = kMarkerLine.left(MaxLen);
    if (LineNum >= 2)
        More = false;
}

void TfrmSendMail::GetHeader(const QString &path, QStringList &recipients, QString &subject, QString &to)
{
    const OutgoingHeader header = ReadOutgoingHeader(path);
    subject = header.subject;
    recipients += header.recipients;
    to = header.toText();
}

void TfrmSendMail::ShowProgress(int lineCount)
{
    if (!frmPopup)
        frmPopup = new TfrmPopup(this);
    frmPopup->pbBar->setValue(0);
    frmPopup->pbBar->setMaximum(lineCount);
    frmPopup->gaPost->show();
    frmPopup->gaPost->move(12, 12);
    frmPopup->gaPost->start();
    frmPopup->gaFetch->hide();
    frmPopup->Panel1->clear();
    frmPopup->show();
    frmPopup->Panel1->setText(QString::number(lineCount) + " mail(s) to be sent");
}

void TfrmSendMail::HideProgress()
{
    frmPopup->gaPost->stop();
    frmPopup->close();
}

void TfrmSendMail::bnSendClick()
{
    loadedQueue_.reset();
    const QString queue = QueueFilePath(state_.OutboxDir);
    if (!QFileInfo::exists(queue))
        return;
    state_.meTemp = LoadQueue(queue);
    loadedQueue_ = state_.meTemp;
    const int count = int(state_.meTemp.size());
    if (count == 0) {
        platform::prompts().information("No mail in queue");
        return;
    }

    ShowProgress(count);
    QStringList recipients;
    try {
        for (int i = 0; i < count; ++i)
            PostQueueLine(i, count, recipients);
    } catch (...) {
        HideProgress();
        // Mails posted before the error have had their files deleted: their lines
        // leave the queue now, or the next run would call them corrupted.
        if (std::any_of(state_.meTemp.cbegin(), state_.meTemp.cend(), IsMarked)) {
            try {
                RemoveSentMailFromQueue();
            } catch (...) {
            }
        }
        throw;
    }
    HideProgress();
}

void TfrmSendMail::PostQueueLine(int index, int count, QStringList &recipients)
{
    const QString line = state_.meTemp[index];
    const QueueLine queued = ParseQueueLine(line);
    const QString &name = queued.name;

    const QString headerPath = OutgoingHeaderPath(state_.OutboxDir, name);
    if (!CheckFileExists(headerPath, "quorvel " + name + " Mail header corrupted", true)) {
        state_.meTemp[index] = MarkFailed(line);
        return;
    }
    QString bodyPath = BodyDocumentPath(state_.OutboxDir, name);
    if (!CheckFileExists(bodyPath, QString(), false)) {
        bodyPath = PackagePath(state_.OutboxDir, name);
        if (!CheckFileExists(bodyPath, "One mail in queue is corrupted", true)) {
            state_.meTemp[index] = MarkFailed(line);
            return;
        }
    }

    recipients.clear();
    QString subject, to;
    GetHeader(headerPath, recipients, subject, to);

    SmtpClient->RcptName = recipients;
    SmtpClient->EmailFiles = QStringList{bodyPath};
    SmtpClient->HdrFrom = state_.UserName + " <" + state_.EmailAddress + ">";
    SmtpClient->HdrTo = to;
    SmtpClient->HdrSubject = subject;
    SmtpClient->FromName = state_.EmailAddress;
    for (const QString &path : queued.attachmentPaths()) {
        if (CheckFileExists(path, "Unable to locate attachment " + path, true))
            SmtpClient->EmailFiles += platform::resolveCase(path);
    }
    SmtpClient->Host = state_.MailServer;
    SmtpClient->Port = state_.SMTPport;

    if (!SmtpClient->Connect()) {
        platform::prompts().plain("Unable to connect to Mail server");
    } else {
        SmtpClient->SendMail();
        SmtpClient->Quit();
        if (!SmtpClient->ErrorMessage().isEmpty()) {
            platform::prompts().warning("Mail Posting Error\r" + SmtpClient->ErrorMessage());
        } else {
            QFile::remove(bodyPath);
            QFile::remove(headerPath);
            state_.meTemp[index] = MarkSent(line);
        }
    }

    frmPopup->Panel1->setText(QString::number(index + 1) + " out of " + QString::number(count) + " sent");
    frmPopup->pbBar->setValue(index + 1);
}

void TfrmSendMail::RemoveSentMailFromQueue()
{
    const QString queue = QueueFilePath(state_.OutboxDir);
    QStringList kept = RemoveMarkedLines(state_.meTemp);
    if (loadedQueue_) {
        // The editor appends to the queue file while the run holds the queue in
        // meTemp; those lines are not in meTemp and must survive the rewrite.
        kept += LinesAddedSince(*loadedQueue_, LoadQueue(queue));
        loadedQueue_.reset();
    }
    state_.meTemp = kept;
    SaveQueue(queue, state_.meTemp);
}

void TfrmSendMail::showEvent(QShowEvent *event)
{
    resize(132, 85);
    QWidget::showEvent(event);
}
