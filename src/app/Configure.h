#pragma once
// The configuration dialog: every setting of the settings file on two pages,
// filled from the file each time it is shown and written back by "Save".

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QWidget>

class TfrmControlCentre;

class TfrmConfigure : public QWidget {
    Q_OBJECT
public:
    explicit TfrmConfigure(TfrmControlCentre &controlCentre, QWidget *parent = nullptr);

    // Fills the controls from the settings file (missing keys are added).
    void FormShow();
    // "...": the font dialog; a confirmed choice goes into edFont.
    void tbFontClick();
    // "Save": checks the application path, writes every setting, applies the font,
    // reloads the environment and closes.
    void bnSaveClick();
    // "Close": closes without writing.
    void bnCloseClick();

    QTabWidget *PageControl1;
    QWidget *tsConnection;
    QWidget *tsPreference;
    QLineEdit *edName, *edEmailAddress, *edMailServer, *edSMTPport;
    QLineEdit *edPOPServer, *edPOPPort, *edPOPUser, *edPOPpassword;
    QCheckBox *cbKeepCopy;
    QCheckBox *ckKeepMail;
    QLineEdit *edFont;
    QToolButton *tbFont;
    QLineEdit *edAppPath;
    QPushButton *bnClose;
    QPushButton *bnSave;

protected:
    void showEvent(QShowEvent *event) override;

private:
    TfrmControlCentre &controlCentre_;
};
