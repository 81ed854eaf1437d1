#pragma once
// The send-mail window: the hidden carrier of the posting run (PostRun). The control
// centre's Post command loads the queue into meTemp, runs bnSendClick and then
// RemoveSentMailFromQueue. The text part of every posted mail is the marker line.

#include "transfer/PostRun.h"

#include <QByteArray>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QWidget>

class ControlCentreState;
class TCustomSmtpClient;
class TSmtpClient;
class TWait;
class TfrmPopup;

class TfrmSendMail : public QWidget {
    Q_OBJECT
public:
    explicit TfrmSendMail(ControlCentreState &state, QWidget *parent = nullptr);

    // The "Send" command: loads the queue file into meTemp, posts each queued mail
    // and marks the lines it has finished with "SENT" (posted) or "FAIL" (unusable).
    // Lines of mails the server refused or could not be reached for stay unmarked.
    virtual void bnSendClick();

    // Drops the marked lines of meTemp and saves the rest as the queue file, together
    // with any line queued while the run was going on.
    void RemoveSentMailFromQueue();

    // Reads the outgoing header file `path`: its recipients are added to
    // `recipients`, `subject` is its subject and `to` the recipients each followed
    // by ";". Raises platform::Error when the file cannot be read.
    static void GetHeader(const QString &path, QStringList &recipients, QString &subject, QString &to);

    // The body lines of every posted mail: the one marker line mime::kQuorvelMarker.
    void SmtpClientGetData(TCustomSmtpClient *Sender, int LineNum, QByteArray &MsgLine, int MaxLen,
                           bool &More);

    QPushButton *bnSend;
    TSmtpClient *SmtpClient;
    TWait *Wait1;
    // The progress window, set once it exists; the run makes its own when it is not.
    TfrmPopup *frmPopup = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

    ControlCentreState &state_;

private:
    TfrmPopup *popup();

    PostRun run_;
};
