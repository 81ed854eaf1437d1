#pragma once
// The address book window: the user's correspondents as name, alias and e-mail
// address, kept in "quorvel.adk" in the installation directory. Opened through the
// control centre's OpenAddressBook; "Use" hands the chosen entry's address on through
// addressPicked, which the control centre connects to the editor's recipient list.

#include "store/AddressBookFile.h"

#include <QIcon>
#include <QWidget>

class ControlCentreState;
class QAction;
class QTreeWidget;
class TfrmEditEntry;

class TfrmAddressBook : public QWidget {
    Q_OBJECT
public:
    explicit TfrmAddressBook(ControlCentreState &state, QWidget *parent = nullptr);

    // The entry dialog Add and Edit show; the window makes its own when none is given.
    TfrmEditEntry *frmEditEntry = nullptr;

    // "Use" is enabled only when the address book is opened from the editor.
    void SetUseEnabled(bool enabled);

    // Reads the file's lines into the address book's own line list, creating the
    // file empty when it does not exist. Raises platform::Error when it cannot.
    void LoadAddressBook();
    // Rebuilds ListView1 from the line list.
    void ShowAddressBook();
    // Replaces the file by one line per row of ListView1.
    void WriteAddressBook();
    // The e-mail text of the first line of the file that contains `name`.
    QString GetEmailAddress(const QString &name);

    // The commands. Each runs under the default error handler.
    void tbAddClick();
    void tbEditClick();
    void tbDeleteClick();
    // Also the double-click on an entry, whether "Use" is enabled or not.
    void tbUseClick();
    void tbCloseClick();

signals:
    // "Use": the chosen entry's address, to be appended to the mail's recipients.
    void addressPicked(const QString &address);

private:
    // The selected row, or -1.
    int selectedRow() const;
    // Fills ListView1 from the entries and selects `row` when there is one.
    void showEntries(int row);
    TfrmEditEntry *entryDialog();

    AddressBookFile book_;
    QAction *tbClose, *tbAdd, *tbEdit, *tbUse, *tbDelete;
    QTreeWidget *ListView1;
    QIcon entryIcon_;
};
