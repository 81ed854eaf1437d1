#include "app/ControlCentre.h"

#include "app/About.h"
#include "app/Configure.h"
#include "app/Icons.h"
#include "compose/AddressBook.h"
#include "compose/Editor.h"
#include "folder/Folder.h"
#include "platform/CaseResolver.h"
#include "platform/Command.h"
#include "platform/DesktopAssociation.h"
#include "platform/Error.h"
#include "platform/Prompts.h"
#include "store/History.h"
#include "store/QueueFile.h"
#include "store/StorePaths.h"
#include "transfer/GetMail.h"
#include "transfer/SendMail.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLayout>
#include <QMenuBar>
#include <QToolButton>

namespace {

// Sizes and offsets of the window placement.
constexpr int kEditorWidth = 535;
constexpr int kFolderWidth = 618;
constexpr int kFolderTopOffset = 20;

} // namespace

TfrmControlCentre::TfrmControlCentre(QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                              | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                              | Qt::WindowCloseButtonHint)
{
    setObjectName("frmControlCentre");
    SetFontFace(this, "Arial");
    buildToolbar();
    buildMenu();
    state_.cbFont = QFontDatabase::families();

    // The strip shows the menu and the toolbar and nothing below them.
    move(5, 5);
    setFixedSize(sizeHint());
    setWindowTitle("quorvel");
    // A run started elsewhere than by Post or Fetch ends the close it postponed.
    connect(&state_.Runs, &RunState::activeChanged, this, [this](bool active) {
        if (!active)
            finishPendingClose();
    }, Qt::QueuedConnection);

    FormCreate();
}

void TfrmControlCentre::FormCreate()
{
    // Settings that cannot be read or completed leave the installation unknown:
    // the error is shown and the program ends.
    if (!platform::runCommand([this] { EnvInit(); })) {
        requestTermination();
        return;
    }
    SetFontFace(this, state_.DefaultFont);

    state_.NewMailList.clear();
    state_.HistoryList.clear();
    // A program that is ending writes no history into a directory that is no
    // installation.
    if (TerminationRequested)
        return;
    // A history file that cannot be read or written is reported; the program goes on.
    platform::runCommand([this] {
        const QString historyFile = HistoryFilePath(state_.AppPath);
        if (QFileInfo::exists(historyFile))
            state_.HistoryList = LoadHistory(historyFile);
        TrimHistory(state_.HistoryList, historyFile);
    });
}

void TfrmControlCentre::buildToolbar()
{
    ToolBar1 = addToolBar("Commands");
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->setIconSize(QSize(28, 28));
    ToolBar1->layout()->setSpacing(0);
    ToolBar1->layout()->setContentsMargins(0, 0, 0, 0);

    auto add = [this](const QString &caption, const char *name, const QString &theme,
                      const QString &bundled, void (TfrmControlCentre::*command)()) {
        QAction *a = ToolBar1->addAction(toolbarIcon(theme, bundled), caption);
        a->setObjectName(name);
        ToolBar1->widgetForAction(a)->setFixedSize(kButtonWidth, kButtonHeight);
        connect(a, &QAction::triggered, this, [this, command] {
            platform::runCommand([this, command] { (this->*command)(); });
        });
        return a;
    };
    tbCompose = add("Compose", "tbCompose", "mail-message-new", "compose", &TfrmControlCentre::tbComposeClick);
    tbPost = add("Post", "tbPost", "mail-send", "post", &TfrmControlCentre::tbPostClick);
    tbFetch = add("Fetch", "tbFetch", "mail-receive", "fetch", &TfrmControlCentre::tbFetchClick);
    tbFolder = add("Folder", "tbFolder", "folder", "folder", &TfrmControlCentre::tbFolderClick);
    tbAddress = add("Address", "tbAddress", "x-office-address-book", "address",
                    &TfrmControlCentre::tbAddressClick);
    tbSetting = add("Setting", "tbSetting", "preferences-system", "setting",
                    &TfrmControlCentre::tbSettingClick);
    tbHelp = add("Help", "tbHelp", "help-contents", "help", &TfrmControlCentre::tbHelpClick);
}

void TfrmControlCentre::buildMenu()
{
    // Each menu item is the same command as its toolbar button.
    auto item = [](QMenu *menu, const QString &caption, const char *name, QAction *same) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(name);
        connect(a, &QAction::triggered, same, &QAction::trigger);
        return a;
    };
    auto command = [this](QMenu *menu, const QString &caption, const char *name,
                          void (TfrmControlCentre::*run)()) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, [this, run] {
            platform::runCommand([this, run] { (this->*run)(); });
        });
        return a;
    };

    QMenu *file = menuBar()->addMenu("File");
    Exit1 = command(file, "Exit", "Exit1", &TfrmControlCentre::Exit1Click);

    QMenu *email = menuBar()->addMenu("Email");
    NewMail1 = item(email, "New Mail", "NewMail1", tbCompose);
    email->addSeparator();
    PostMail1 = item(email, "Post Mail", "PostMail1", tbPost);
    FetchMail1 = item(email, "Fetch Mail", "FetchMail1", tbFetch);

    // A menu title without items that is a command itself.
    Folder1 = menuBar()->addAction("Folder");
    Folder1->setObjectName("Folder1");
    connect(Folder1, &QAction::triggered, tbFolder, &QAction::trigger);

    QMenu *tools = menuBar()->addMenu("Tools");
    AddressBook1 = item(tools, "Address Book", "AddressBook1", tbAddress);
    Configuration1 = item(tools, "Configuration", "Configuration1", tbSetting);

    QMenu *help = menuBar()->addMenu("Help");
    Contents1 = item(help, "Contents", "Contents1", tbHelp);
    help->addSeparator();
    About1 = command(help, "About quorvel", "About1", &TfrmControlCentre::About1Click);
}

void TfrmControlCentre::SetFontFace(QWidget *window, const QString &face)
{
    QFont f = window->font();
    f.setFamily(face);
    window->setFont(f);
}

void TfrmControlCentre::requestTermination()
{
    TerminationRequested = true;
    emit terminationRequested();
}

void TfrmControlCentre::EnvInit()
{
    state_.LoadEnvironment();
    if (!state_.InstallationComplete()) {
        platform::prompts().warning(
            "This copy of quorvel was not installed properly\rPlease re-install it.");
        requestTermination();
    }
}

int TfrmControlCentre::buttonLeft(QAction *button) const
{
    return ToolBar1->widgetForAction(button)->x();
}

void TfrmControlCentre::placeBelow(QWidget *window, int left) const
{
    const QRect outer = frameGeometry();
    window->move(left, outer.top() + outer.height());
}

void TfrmControlCentre::OpenEditor()
{
    frmEditor->show();
    frmEditor->raise();
    frmEditor->activateWindow();
}

void TfrmControlCentre::tbComposeClick()
{
    SetFontFace(frmEditor, state_.DefaultFont);
    frmEditor->SourceFolder = "SENT";
    frmEditor->EditorMode = TfrmEditor::kModeNewMail;
    frmEditor->Editable = true;
    frmEditor->ToggleQueue(true);
    placeBelow(frmEditor, frameGeometry().left() + buttonLeft(tbCompose));
    frmEditor->resize(kEditorWidth, frmEditor->height());
    if (frmEditor->cbFont->count() == 0)
        frmEditor->cbFont->addItems(state_.cbFont);
    OpenEditor();
    frmEditor->New1Click();
}

void TfrmControlCentre::tbPostClick()
{
    auto &prompts = platform::prompts();
    if (state_.EmailAddress.isEmpty()) {
        prompts.warning("You must setup your email address");
        return;
    }
    if (state_.MailServer.isEmpty()) {
        prompts.warning("You must setup your mail server");
        return;
    }
    // A run in progress keeps the event loop turning, so Post can arrive again.
    if (state_.PostingBusy) {
        prompts.information("No mail in queue");
        return;
    }
    if (state_.Runs.active()) {
        prompts.information(RunState::kRefusal);
        return;
    }
    const QString queue = QueueFilePath(state_.OutboxDir);
    if (!QFileInfo::exists(queue)) {
        prompts.information("No mail in queue");
        return;
    }

    state_.PostingBusy = true;
    struct ClearBusy {
        bool &flag;
        ~ClearBusy() { flag = false; }
    } clearBusy{state_.PostingBusy};

    state_.meTemp = LoadQueue(queue);
    placeBelow(frmSendMail, frameGeometry().left() + buttonLeft(tbPost));
    frmSendMail->bnSendClick();
    frmSendMail->RemoveSentMailFromQueue();
    finishPendingClose();
}

void TfrmControlCentre::tbFetchClick()
{
    // A click that the running fetch lets through must not clear its list of new mail.
    if (frmGetMail->Running() || state_.Runs.kind() == RunState::Fetch)
        return;
    if (state_.Runs.active()) {
        platform::prompts().information(RunState::kRefusal);
        return;
    }
    state_.NewMailList.clear();
    placeBelow(frmGetMail, frameGeometry().left() + buttonLeft(tbFetch));
    frmGetMail->GetAllButtonClick();
    if (finishPendingClose())
        return;
    if (const qsizetype n = state_.NewMailList.size(); n > 0)
        platform::prompts().information("You have " + QString::number(n) + " new mail(s)");
}

void TfrmControlCentre::tbFolderClick()
{
    SetFontFace(frmFolder, state_.DefaultFont);
    const QRect outer = frameGeometry();
    frmFolder->move(outer.left(), outer.top() + kFolderTopOffset);
    frmFolder->resize(kFolderWidth, frmFolder->height());
    frmFolder->show();
    frmFolder->raise();
    frmFolder->activateWindow();
    frmFolder->TabSet1Click();
}

void TfrmControlCentre::OpenAddressBook(bool useEnabled)
{
    // The editor asks through a signal, outside the wrapper of the control centre's own
    // commands: a file that cannot be read or created must end here, with its message.
    platform::runCommand([this, useEnabled] {
        SetFontFace(frmAddressBook, state_.DefaultFont);
        frmAddressBook->SetUseEnabled(useEnabled);
        // The address book's left is the button's offset alone.
        placeBelow(frmAddressBook, buttonLeft(tbAddress));
        frmAddressBook->LoadAddressBook();
        frmAddressBook->ShowAddressBook();
        frmAddressBook->show();
        frmAddressBook->raise();
        frmAddressBook->activateWindow();
    });
}

void TfrmControlCentre::tbAddressClick()
{
    OpenAddressBook(false);
}

void TfrmControlCentre::tbSettingClick()
{
    SetFontFace(frmConfigure, state_.DefaultFont);
    placeBelow(frmConfigure, frameGeometry().left() + buttonLeft(tbSetting));
    frmConfigure->show();
    frmConfigure->raise();
    frmConfigure->activateWindow();
}

QString TfrmControlCentre::HelpFilePath() const
{
    return platform::resolveCase(state_.AppPath + "/help/quorvel.chm");
}

void TfrmControlCentre::tbHelpClick()
{
    if (platform::openWithAssociation(".chm", HelpFilePath()) == platform::OpenResult::StartFailed)
        throw platform::Error("Couldn't launch default browser");
}

void TfrmControlCentre::About1Click()
{
    frmAbout->exec();
}

void TfrmControlCentre::Exit1Click()
{
    close();
}

bool TfrmControlCentre::finishPendingClose()
{
    if (!closePending_ || state_.Runs.active())
        return false;
    close();
    return true;
}

void TfrmControlCentre::closeEvent(QCloseEvent *event)
{
    // A run holds the lists, the queue and the connection: it ends at its next safe
    // point, and the window closes once the run's command has returned.
    if (state_.Runs.active()) {
        event->ignore();
        closePending_ = true;
        state_.Runs.requestStop();
        return;
    }
    closePending_ = false;
    state_.NewMailList.clear();
    state_.HistoryList.clear();
    event->accept();
    emit closed();
}
