#pragma once
// The folder window: one tab per folder of the mail store, the selected folder's
// mails, and the commands that view, reply to, forward, file and trash them and that
// add, rename and delete folders. The store work is FolderOps (store/FolderOps.h);
// each handler checks its condition, asks what it must ask and calls it.

#include "store/FolderOps.h"

#include <QString>
#include <QStringList>
#include <QWidget>

class ControlCentreState;
class QAction;
class QComboBox;
class QTabBar;
class QTreeWidget;
class QTreeWidgetItem;
class TfrmEditor;
class TfrmNewFolder;

class TfrmFolder : public QWidget {
    Q_OBJECT
public:
    // Values of SortMode.
    static constexpr int kSortIcon = 50;
    static constexpr int kSortFrom = 100;
    static constexpr int kSortSubject = 200;
    static constexpr int kSortDate = 300;

    explicit TfrmFolder(ControlCentreState &state, QWidget *parent = nullptr);

    // The editor that mails open into and the name dialog of Add and Rename; the
    // control centre sets them.
    TfrmEditor *frmEditor = nullptr;
    TfrmNewFolder *frmNewFolder = nullptr;

    QString CurrentFolder;
    int SortMode = 0;
    bool FromAscending = false;
    bool SubjectAscending = false;
    bool DateAscending = false;
    // Set when the window is first shown; before that a tab click lists nothing.
    bool Activated = false;
    // The mail identifier of each row, in row order.
    QStringList MailIds() const;

    // Rebuilds the tabs and cbFolder from the header archives, keeping the selected
    // position, and shows the selected folder.
    void LoadFolder();
    // Shows the folder of the selected tab.
    void TabSet1Click();
    // Lists the mails of `folder`.
    void LoadMailHeader(const QString &folder);
    // Sorts by column `column` (the column click).
    void ListView1ColumnClick(int column);
    // 1, 0 or -1 as the rows compare under SortMode.
    int ListView1Compare(const QTreeWidgetItem *item1, const QTreeWidgetItem *item2) const;

    // The commands.
    void tbCloseClick();
    void tbAddClick();
    void tbRenameClick();
    void tbDeleteClick();
    void tbReplyClick();
    void tbForwardClick();
    void tbViewClick();
    void tbTrashClick();
    // "File To:": the user chose `name` in cbFolder.
    void cbFolderChange(const QString &name);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QTreeWidgetItem *selectedRow() const;
    // Opens the selected mail in the editor after rewriting its status with `code`;
    // a mail in INBOX is filed to READ first and opened from there.
    void OpenMail(bool editable, OpenMode mode, QChar code);
    // False, after telling the user, while a posting or fetching run is in progress.
    bool storeMayChange() const;
    void updateCommands();
    // Runs `handler` as a user command (errors end it with a message box).
    void command(void (TfrmFolder::*handler)());

    ControlCentreState &state_;
    QTreeWidget *ListView1;
    QTabBar *TabSet1;
    QComboBox *cbFolder;
    QAction *tbClose, *tbAdd, *tbRename, *tbDelete, *tbReply, *tbForward, *tbView, *tbTrash;
};
