#pragma once
// The address book window: the user's correspondents as name, alias and e-mail
// address, kept in "quorvel.adk" in the installation directory. Opened through the
// control centre's OpenAddressBook.

#include <QAction>
#include <QTreeWidget>
#include <QWidget>

class ControlCentreState;

class TfrmAddressBook : public QWidget {
    Q_OBJECT
public:
    explicit TfrmAddressBook(ControlCentreState &state, QWidget *parent = nullptr);

    // The address book file: AppPath + "/quorvel.adk".
    QString AddressBookPath() const;
    // Reads the file's lines into the address book's own line list, creating the
    // file empty when it does not exist.
    void LoadAddressBook();
    // Rebuilds ListView1 from the line list: name "[" alias "]" e-mail address.
    void ShowAddressBook();

    QAction *tbClose, *tbAdd, *tbEdit, *tbUse, *tbDelete;
    QTreeWidget *ListView1;

private:
    ControlCentreState &state_;
};
