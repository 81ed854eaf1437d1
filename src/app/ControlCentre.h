#pragma once
// The control centre: the main window, a toolbar strip at the top left of the screen
// with the program's commands, and the owner of the state every window shares.

#include "store/SharedState.h"

#include <QAction>
#include <QMainWindow>
#include <QToolBar>

class TfrmAbout;
class TfrmEditor;
class TfrmSendMail;
class TfrmConfigure;
class TfrmGetMail;
class TfrmAddressBook;
class TfrmEditEntry;
class TfrmFolder;
class TfrmNewFolder;
class TfrmPopup;

class TfrmControlCentre : public QMainWindow {
    Q_OBJECT
public:
    // Runs the creation steps: placement, EnvInit, caption and font, the history
    // loaded and trimmed.
    explicit TfrmControlCentre(QWidget *parent = nullptr);

    ControlCentreState &state() { return state_; }

    // Reloads the environment from the settings file and checks the installation;
    // without the inbox header archive it warns and requests termination.
    void EnvInit();

    // The program is to end: set once, by a failed installation check.
    bool TerminationRequested = false;
    void requestTermination();

    // The commands.
    void tbComposeClick();
    void tbPostClick();
    void tbFetchClick();
    void tbFolderClick();
    void tbAddressClick();
    void tbSettingClick();
    void tbHelpClick();
    void About1Click();
    void Exit1Click();

    void OpenEditor();
    // Shows the address book non-modally, its "Use" command enabled or not.
    void OpenAddressBook(bool useEnabled);

    // The help file: AppPath + "/help/quorvel.chm".
    QString HelpFilePath() const;

    // Gives `window` the font face `face`, keeping its size.
    static void SetFontFace(QWidget *window, const QString &face);

    // The other windows, created after this one in the start-up order.
    TfrmAbout *frmAbout = nullptr;
    TfrmEditor *frmEditor = nullptr;
    TfrmSendMail *frmSendMail = nullptr;
    TfrmConfigure *frmConfigure = nullptr;
    TfrmGetMail *frmGetMail = nullptr;
    TfrmAddressBook *frmAddressBook = nullptr;
    TfrmEditEntry *frmEditEntry = nullptr;
    TfrmFolder *frmFolder = nullptr;
    TfrmNewFolder *frmNewFolder = nullptr;
    TfrmPopup *frmPopup = nullptr;

    QToolBar *ToolBar1;
    QAction *tbCompose, *tbPost, *tbFetch, *tbFolder, *tbAddress, *tbSetting, *tbHelp;
    QAction *NewMail1, *PostMail1, *FetchMail1, *Folder1, *AddressBook1, *Configuration1,
        *Contents1, *About1, *Exit1;

    static constexpr int kButtonWidth = 57;
    static constexpr int kButtonHeight = 53;

signals:
    void terminationRequested();
    // The window was closed: the program ends.
    void closed();

protected:
    // Closing during a run asks the run to stop and postpones the close.
    void closeEvent(QCloseEvent *event) override;

private:
    // Closes the window when a close was postponed and no run is in progress; true
    // when it did.
    bool finishPendingClose();
    // The creation steps after placement: environment, font, lists, history.
    void FormCreate();
    void buildToolbar();
    void buildMenu();
    // The offset of a toolbar button within the toolbar.
    int buttonLeft(QAction *button) const;
    // Moves `window` to the control centre's bottom edge at horizontal position `left`.
    void placeBelow(QWidget *window, int left) const;

    ControlCentreState state_;
    bool closePending_ = false;
};
