#pragma once
// The dialog in which one address book entry is typed or changed.

#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>

class TfrmEditEntry : public QDialog {
    Q_OBJECT
public:
    explicit TfrmEditEntry(QWidget *parent = nullptr);

    QLineEdit *edName;
    QLineEdit *edAlias;
    QPlainTextEdit *meEmail;

    // True after "Save"; false after "Close", the close box, and whenever the
    // dialog is shown until "Save" is pressed.
    bool Saved = false;

protected:
    void showEvent(QShowEvent *event) override;
};
