#pragma once
// The fetch window: the hidden carrier of the fetch run, started by the control
// centre's Fetch command after it has cleared NewMailList. Its edit fields hold the
// POP3 connection's parameters, DisplayMemo collects the protocol trace and
// meMsgFile the raw message files of the current run.
//
// The run itself is FetchRun; the window hands it the fields and shows its progress.

#include "net/Pop3Client.h"

#include <QStringList>
#include <QWidget>
#include <functional>

class ControlCentreState;
class FetchRun;
class QLabel;
class QLineEdit;
class TfrmPopup;
class TWait;

class TfrmGetMail : public QWidget {
    Q_OBJECT
public:
    explicit TfrmGetMail(ControlCentreState &state, QWidget *parent = nullptr);
    ~TfrmGetMail() override;

    // The "Get All" command: stores what an earlier run left, fetches the new
    // messages, decodes them into INBOX and leaves one entry per stored message in
    // NewMailList. A call while a run is in progress (the run keeps the event loop
    // turning) does nothing.
    virtual void GetAllButtonClick();
    // True while GetAllButtonClick runs.
    bool Running() const { return run_ != nullptr; }

    // Copy the post-office settings into the edit fields (the password
    // unscrambled); FormShow also clears InfoLabel.
    void FormCreate();
    void FormShow();

    // Issues one POP3 command through the window's fields: copies them into the
    // client, shows label + " started", runs `operation`, shows label + " ok" or
    // " failed", and returns the operation's result.
    bool ExecCommand(const QString &label, bool (TPop3Client::*operation)());

    // Trace handlers bound to Pop3Client.
    void Pop3ClientDisplay(TPop3Client *Sender, const QString &Msg);
    void Pop3ClientMessageBegin(TPop3Client *Sender);
    void Pop3ClientMessageEnd(TPop3Client *Sender);
    void Pop3ClientMessageLine(TPop3Client *Sender);
    void Pop3ClientListBegin(TPop3Client *Sender);
    void Pop3ClientListEnd(TPop3Client *Sender);
    void Pop3ClientListLine(TPop3Client *Sender);
    void Pop3ClientUidlBegin(TPop3Client *Sender);
    void Pop3ClientUidlEnd(TPop3Client *Sender);
    void Pop3ClientUidlLine(TPop3Client *Sender);

    QLineEdit *HostEdit;
    QLineEdit *PortEdit;
    QLineEdit *UserNameEdit;
    QLineEdit *PassWordEdit;
    QLineEdit *MsgNumEdit;
    QLineEdit *MsgLinesEdit;
    QLabel *InfoLabel;
    // The protocol trace; it keeps the newest kMaxTraceLines lines.
    QStringList DisplayMemo;
    // Full paths of the raw message files of the current run, in fetch order (a
    // message held in memory is listed under the name its file would have).
    QStringList meMsgFile;
    TPop3Client *Pop3Client;
    TWait *Wait1;

    // The progress window, set once it exists (the window makes its own otherwise).
    TfrmPopup *frmPopup = nullptr;

    static constexpr int kMaxTraceLines = 20000;

    // What a run holds in memory of messages the server keeps, instead of writing
    // raw files (creating a file costs more than fetching a small message).
    qint64 MaxHeldBytes = 32 * 1024 * 1024;

    // Test seam: called with the name of each point of the run a kill test may stop
    // at ("retr-line" for each message line written, "dele" after a deletion was
    // accepted, "quit" after QUIT, "decode" before the run's messages are decoded).
    static void setStepHookForTesting(std::function<void(const char *step)> hook);

protected:
    void showEvent(QShowEvent *event) override;

    // Makes the raw files written so far durable before the server may delete their
    // messages; true when done. The run calls it before QUIT.
    virtual bool FlushRawFiles();

    ControlCentreState &state_;

private:
    TfrmPopup *popup();
    void trace(const QString &line);

    FetchRun *run_ = nullptr;
    TfrmPopup *ownPopup_ = nullptr;
};
