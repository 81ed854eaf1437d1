#pragma once
// The mail editor: the one window in which a mail is written, viewed, replied to or
// forwarded. The control centre opens it for a new mail; the folder window for a
// stored one. Its file work is MailWriter's; the window keeps the controls, the
// commands and the questions.

#include "compose/MailWriter.h"
#include "store/MailContent.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMainWindow>
#include <QTextEdit>

#include <functional>

class ControlCentreState;
class QHBoxLayout;
class QLabel;
class TEditorObjects;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPrinter;
class QSpinBox;
class QTabWidget;
class QTextCharFormat;
class QToolButton;

// The body: pictures on the clipboard paste as embedded pictures, pasted HTML brings
// its data: pictures in as the body's own, and nothing is ever loaded from a file or
// the network.
class TBodyEdit : public QTextEdit {
    Q_OBJECT
public:
    using QTextEdit::QTextEdit;
    QVariant loadResource(int type, const QUrl &name) override;

protected:
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    void insertHtml(const QString &html);
};

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
    // True once something was entered since the last save or New.
    bool HasContent = false;

    void SetMailName(const QString &name);
    void ShowModified(bool modified);
    // Asks to save a changed, editable mail: false when the user cancels.
    bool CheckSaveChanges();
    void FileSave();
    void SaveMailHeader();
    void PerformFileOpen(const QString &path);
    bool ReadyToSend();
    // Enables or disables, together, the commands that change or queue the mail,
    // and unticks ckOtherMail.
    void ToggleQueue(bool enabled);

    // Commands.
    void New1Click();
    void Open1Click();
    void tbQueueClick();
    void tbAttachClick();
    void SaveAttachmentAs1Click();
    void tbFontClick();
    void Print1Click();
    void lvToDblClick();
    void lvAttachDblClick();
    // Prints the body as one job titled "quorvel" (the print command after its dialog).
    void PrintBody(QPrinter &printer);

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

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A handler run as one command: an error ends it with a message box.
    std::function<void()> command(void (TfrmEditor::*handler)());
    void createMenus();
    void createHeader(QWidget *central);
    QHBoxLayout *createFormatRow(QWidget *central);
    // Empties body, lists and subject (closing and New).
    void clearMail();
    void resetBody();
    OutgoingMail outgoing() const;
    static QStringList captions(const QListWidget *list);
    void listDblClick(QListWidget *list, const QIcon &icon);
    QListWidgetItem *addRow(QListWidget *list, const QIcon &icon, const QString &caption);
    // True (after saying so) when a fetch run is in progress: the store must not change.
    bool refusedDuringRun() const;

    void mergeFormat(const QTextCharFormat &format);
    void currentCharFormatChanged(const QTextCharFormat &format);
    void updateClipboardCommands();
    void showContextMenu(const QPoint &pos);
    void PasteSpecial1Click();
    void InsertObject1Click();

    ControlCentreState &state_;
    MailWriter writer_;
    TEditorObjects *objects_;
    QAction *Save1, *Saveas1, *PasteSpecial1, *InsertObject1;
    QMenu *EditMenu;
    QTabWidget *tabs_;
    QListWidget *lvTo, *lvAttach;
    QLineEdit *edSubject;
    QSpinBox *fontsize;
    QComboBox *cbColor;
    QToolButton *tbBold, *tbItalic, *tbUnderline;
    QLabel *modifiedPanel_;
    QIcon recipientIcon_, attachmentIcon_;
    // ToggleQueue's state: Cut, Copy and Paste also follow the selection and the
    // clipboard, but never while the mail is only viewed.
    bool commandsOn_ = true;
    bool canCopy_ = false;
};
