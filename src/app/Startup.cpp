#include "app/Startup.h"

#include "app/About.h"
#include "app/Configure.h"
#include "app/ControlCentre.h"
#include "app/Front.h"
#include "compose/AddressBook.h"
#include "compose/EditEntry.h"
#include "compose/Editor.h"
#include "compose/NewFolder.h"
#include "folder/Folder.h"
#include "transfer/GetMail.h"
#include "transfer/Popup.h"
#include "transfer/SendMail.h"

#include <QApplication>
#include <QTimer>

TfrmControlCentre *CreateWindows(TfrmFront &splash)
{
    splash.DisplayInfo("Loading control centre...");
    auto *cc = new TfrmControlCentre;
    ControlCentreState &state = cc->state();
    cc->frmAbout = new TfrmAbout(cc);

    splash.DisplayInfo("Loading editor...");
    cc->frmEditor = new TfrmEditor(state, cc);
    QObject::connect(cc->frmEditor, &TfrmEditor::addressBookRequested, cc,
                     &TfrmControlCentre::OpenAddressBook);

    splash.DisplayInfo("Loading send mail module...");
    cc->frmSendMail = new TfrmSendMail(state, cc);

    splash.DisplayInfo("Loading configuration...");
    cc->frmConfigure = new TfrmConfigure(*cc, cc);

    splash.DisplayInfo("Loading get mail module...");
    cc->frmGetMail = new TfrmGetMail(state, cc);

    splash.DisplayInfo("Loading addressbook...");
    cc->frmAddressBook = new TfrmAddressBook(state, cc);

    splash.DisplayInfo("Loading addition form 1...");
    cc->frmEditEntry = new TfrmEditEntry(cc);

    splash.DisplayInfo("Loading folder...");
    cc->frmFolder = new TfrmFolder(state, cc);

    splash.DisplayInfo("Loading addition form 2...");
    cc->frmNewFolder = new TfrmNewFolder(cc);
    // The editor names new sticker collections in it; the folder window names folders
    // in it and opens mails into the editor.
    cc->frmEditor->frmNewFolder = cc->frmNewFolder;
    cc->frmFolder->frmEditor = cc->frmEditor;
    cc->frmFolder->frmNewFolder = cc->frmNewFolder;
    // The address book edits its entries in the entry dialog; its "Use" fills the
    // editor's recipients.
    cc->frmAddressBook->frmEditEntry = cc->frmEditEntry;
    QObject::connect(cc->frmAddressBook, &TfrmAddressBook::addressPicked, cc->frmEditor,
                     &TfrmEditor::AddRecipient);

    splash.DisplayInfo("Loading addition form 3...");
    cc->frmPopup = new TfrmPopup(cc);
    cc->frmSendMail->frmPopup = cc->frmPopup;
    cc->frmGetMail->frmPopup = cc->frmPopup;
    return cc;
}

int RunQuorvel()
{
    auto *splash = new TfrmFront;
    splash->show();
    splash->repaint();
    splash->pnInfo->setText("Initialize...");
    QApplication::setApplicationName("quorvel");
    // The control centre ends the program; the other windows may stay open.
    QApplication::setQuitOnLastWindowClosed(false);

    TfrmControlCentre *cc = CreateWindows(*splash);
    delete splash;

    QObject::connect(cc, &TfrmControlCentre::closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QObject::connect(cc, &TfrmControlCentre::terminationRequested, qApp,
                     &QCoreApplication::quit, Qt::QueuedConnection);
    int code = 0;
    // A failed installation check ends the program before the control centre is used.
    if (!cc->TerminationRequested) {
        cc->show();
        code = QApplication::exec();
    }
    delete cc;
    return code;
}
