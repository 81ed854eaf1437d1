#pragma once
// The send-mail window: the hidden carrier of the posting run. The control centre's
// Post command loads the queue into meTemp, runs bnSendClick and then
// RemoveSentMailFromQueue. Each queued mail goes out in an SMTP connection of its
// own as a multipart message: the text part is the marker line, the first
// attachment the mail's body file, then the files named in its queue line.

#include <QByteArray>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <optional>

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

    // The body lines of every posted mail: the one line kMarkerLine.
    void SmtpClientGetData(TCustomSmtpClient *Sender, int LineNum, QByteArray &MsgLine, int MaxLen,
                           bool &More);

    // The text part of a posted mail, by which the receiving side knows a quorvel mail.
    static inline const QByteArray kMarkerLine = QByteArrayLiteral("--=This is a quorvel");

    QPushButton *bnSend;
    TSmtpClient *SmtpClient;
    TWait *Wait1;
    // The progress window, set once it exists; the run makes its own when it is not.
    TfrmPopup *frmPopup = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

    ControlCentreState &state_;

private:
    // Posts the mail of meTemp's line `index` of `count`; `recipients` is the run's
    // recipient list.
    void PostQueueLine(int index, int count, QStringList &recipients);
    void ShowProgress(int lineCount);
    void HideProgress();

    // The queue file's lines as this run loaded them, until the clean-up: lines
    // found in the file beyond them were queued during the run.
    std::optional<QStringList> loadedQueue_;
};
