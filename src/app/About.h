#pragma once
// The about window, shown modally from the Help menu.

#include <QDialog>
#include <QLabel>

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget *parent = nullptr);

    QLabel *lbProduct;
    QLabel *lbMotto;
    QLabel *lbVersion;
    QLabel *imgPicture;
    QLabel *lbBuild;

protected:
    void showEvent(QShowEvent *event) override;
};
