#pragma once
// The small dialog that asks for a folder name (adding and renaming folders) or a
// sticker collection name.

#include <QDialog>
#include <QLabel>
#include <QLineEdit>

class TfrmNewFolder : public QDialog {
    Q_OBJECT
public:
    explicit TfrmNewFolder(QWidget *parent = nullptr);

    // Empties the name box and sets caption and label for `mode`: "ADD" or
    // "RENAME" (which names `currentFolder`).
    void Init(const QString &mode, const QString &currentFolder = {});

    QLabel *Label1;
    QLineEdit *edFolderName;
    // Empty after "Close"; after "Save" the typed name cut before its first ".".
    QString FolderName;

    void tbCloseClick();
    void tbSaveClick();

    // Every way out but "Save" (Escape included) leaves FolderName empty.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
};
