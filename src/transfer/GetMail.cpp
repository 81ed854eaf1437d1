#include "transfer/GetMail.h"

#include "store/SharedState.h"

TfrmGetMail::TfrmGetMail(ControlCentreState &state, QWidget *parent)
    : QWidget(parent, Qt::Window), state_(state)
{
    setObjectName("frmGetMail");
    setWindowTitle("Retrieving Mails...");
}

void TfrmGetMail::GetAllButtonClick()
{
    // The fetch run comes with the POP3 client.
}
