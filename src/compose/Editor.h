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
#include <memory>

class ControlCentreState;
class StickerCollections;
class TfrmNewFolder;
class TStickerStrip;
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
    ~TfrmEditor() override;

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

    // The sticker strip: the shown collection's sticker names (lower case, archive
    // order, placeholder excluded), the collection last loaded, the position of the
    // sticker in slot 1 (from 1), and the slot last pointed at.
    QStringList StickerNames;
    QString CurrentCollection;
    int PageStart = 1;
    QString CurrentSticker;
    // 1 to 11 when the slot last pointed at held a sticker; -1 when none.
    int SelectedSlot = -1;
    // The name dialog, which asks for a new collection's name (the control centre sets it).
    TfrmNewFolder *frmNewFolder = nullptr;

    void LoadSticker(const QString &name);
    void LoadPicture(int first, int count);
    void ClearStickerSlot(int slot);
    void CleanPicture();
    void AddSticker();
    void DeleteSticker();
    // True when no collection of that name exists.
    bool NewCollection(const QString &name);
    void AddNewCollection1Click();
    void DeleteCollection1Click();
    // The lower arrow (next page) and the upper one (previous page).
    void SpinButton1DownClick();
    void SpinButton1UpClick();
    void TabSet1Click(int index);
    void StickerMouseMove(int slot);
    // Puts the sticker of `slot` into the body at the selection, through the clipboard.
    void StickerInsert(int slot);

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
    // The strip below the body and the "Sticker" menu; lists the collections.
    void createStickerStrip(QLayout *column);
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
    std::unique_ptr<StickerCollections> stickers_;
    TStickerStrip *strip_;
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
