#pragma once
// The send-mail window: the hidden carrier of the posting run. The control centre's
// Post command loads the queue into meTemp, runs bnSendClick and then
// RemoveSentMailFromQueue.

#include <QPushButton>
#include <QWidget>

class ControlCentreState;
class TfrmPopup;

class TfrmSendMail : public QWidget {
    Q_OBJECT
public:
    explicit TfrmSendMail(ControlCentreState &state, QWidget *parent = nullptr);

    // The "Send" command: posts the mails listed in meTemp and marks the lines it
    // has finished with "SENT" or "FAIL".
    virtual void bnSendClick();

    // Drops the marked lines of meTemp and saves the rest as the queue file.
    void RemoveSentMailFromQueue();

    QPushButton *bnSend;
    // The progress window, set once it exists.
    TfrmPopup *frmPopup = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

    ControlCentreState &state_;
};
