#pragma once
// The mail editor: the one window in which a mail is written, viewed, replied to or
// forwarded. The control centre opens it for a new mail; the folder window for a
// stored one.

#include "store/MailContent.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMainWindow>
#include <QTextEdit>

class ControlCentreState;

class TfrmEditor : public QMainWindow {
    Q_OBJECT
public:
    // Values of EditorMode.
    static constexpr int kModeNewMail = 100;
    static constexpr int kModeFromFolder = 200;
    static constexpr int kModeFromSent = 300;

    explicit TfrmEditor(ControlCentreState &state, QWidget *parent = nullptr);

    QString MailName;
    int EditorMode = kModeNewMail;
    // The folder whose attachment archive holds the attachments listed.
    QString SourceFolder;
    // False for a mail opened for viewing: it cannot be saved.
    bool Editable = true;

    // Enables or disables, together, the commands that change or queue the mail,
    // and unticks ckOtherMail.
    void ToggleQueue(bool enabled);
    // The "New" command: clears the editor for a new mail.
    void New1Click();
    // Fills recipients, subject, attachments and body with a stored mail; the caller
    // then sets EditorMode, SourceFolder and Editable and shows the editor.
    void LoadMail(const MailContent &mail);
    // Appends one address to the recipient list (the address book's "Use").
    void AddRecipient(const QString &address);

    QAction *tbClose, *tbQueue, *tbCut, *tbPaste, *tbCopy, *tbObject, *tbAddress, *tbAttach,
        *tbFont;
    QComboBox *cbFont;
    QCheckBox *ckOtherMail;
    QTextEdit *Editor;

signals:
    // "Address": open the address book with its "Use" command enabled.
    void addressBookRequested(bool useEnabled);

private:
    ControlCentreState &state_;
};
