#pragma once
// The fetch window: the hidden carrier of the fetch run, started by the control
// centre's Fetch command after it has cleared NewMailList.

#include <QWidget>

class ControlCentreState;
class TfrmPopup;

class TfrmGetMail : public QWidget {
    Q_OBJECT
public:
    explicit TfrmGetMail(ControlCentreState &state, QWidget *parent = nullptr);

    // The "Get All" command: fetches the new messages, decodes them into INBOX and
    // leaves one entry per fetched message in NewMailList.
    virtual void GetAllButtonClick();

    // The progress window, set once it exists.
    TfrmPopup *frmPopup = nullptr;

protected:
    ControlCentreState &state_;
};
