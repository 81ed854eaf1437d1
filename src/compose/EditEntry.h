#pragma once
// The dialog in which one address book entry is typed or changed.

#include "store/AddressBookFile.h"

#include <QDialog>
#include <optional>

class QLineEdit;
class QPlainTextEdit;

class TfrmEditEntry : public QDialog {
    Q_OBJECT
public:
    explicit TfrmEditEntry(QWidget *parent = nullptr);

    // Shows the dialog modally with its boxes filled from `entry`; the boxes' text
    // when "Save" was pressed, nothing otherwise.
    std::optional<AddressEntry> Ask(const AddressEntry &entry);

    // True after "Save"; false after "Close", the close box, and whenever the
    // dialog is shown or activated until "Save" is pressed.
    bool Saved = false;

protected:
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;

private:
    QLineEdit *edName;
    QLineEdit *edAlias;
    QPlainTextEdit *meEmail;
};
