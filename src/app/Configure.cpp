#include "app/Configure.h"

#include "app/ControlCentre.h"
#include "common/Settings.h"
#include "platform/Command.h"
#include "platform/Prompts.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

QLineEdit *lineEdit(QWidget *parent, const char *name)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(name);
    return e;
}

QString yesNo(const QCheckBox *box)
{
    return box->isChecked() ? QStringLiteral("Yes") : QStringLiteral("No");
}

} // namespace

TfrmConfigure::TfrmConfigure(TfrmControlCentre &controlCentre, QWidget *parent)
    : QWidget(parent, Qt::Tool), controlCentre_(controlCentre)
{
    setObjectName("frmConfigure");
    setWindowTitle("Configuration");

    auto *outer = new QVBoxLayout(this);
    auto *buttons = new QHBoxLayout;
    bnClose = new QPushButton("Close", this);
    bnClose->setObjectName("bnClose");
    bnSave = new QPushButton("Save", this);
    bnSave->setObjectName("bnSave");
    buttons->addWidget(bnClose);
    buttons->addWidget(bnSave);
    buttons->addStretch(1);
    outer->addLayout(buttons);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    outer->addWidget(PageControl1, 1);

    tsConnection = new QWidget;
    tsConnection->setObjectName("tsConnection");
    auto *connection = new QFormLayout(tsConnection);
    edName = lineEdit(tsConnection, "edName");
    edEmailAddress = lineEdit(tsConnection, "edEmailAddress");
    edMailServer = lineEdit(tsConnection, "edMailServer");
    edSMTPport = lineEdit(tsConnection, "edSMTPport");
    edPOPServer = lineEdit(tsConnection, "edPOPServer");
    edPOPPort = lineEdit(tsConnection, "edPOPPort");
    edPOPUser = lineEdit(tsConnection, "edPOPUser");
    edPOPpassword = lineEdit(tsConnection, "edPOPpassword");
    edPOPpassword->setEchoMode(QLineEdit::Password);
    connection->addRow("Name:", edName);
    connection->addRow("Email Address:", edEmailAddress);
    connection->addRow("Mail Server:", edMailServer);
    connection->addRow("SMTP Port:", edSMTPport);
    connection->addRow("POP Server:", edPOPServer);
    connection->addRow("POP Port:", edPOPPort);
    connection->addRow("POP User:", edPOPUser);
    connection->addRow("Password:", edPOPpassword);
    PageControl1->addTab(tsConnection, "Connection");

    tsPreference = new QWidget;
    tsPreference->setObjectName("tsPreference");
    auto *preference = new QFormLayout(tsPreference);
    cbKeepCopy = new QCheckBox("Keep a copy of sent mail", tsPreference);
    cbKeepCopy->setObjectName("cbKeepCopy");
    ckKeepMail = new QCheckBox("Keep mails in Mail Server", tsPreference);
    ckKeepMail->setObjectName("ckKeepMail");
    preference->addRow(cbKeepCopy);
    preference->addRow(ckKeepMail);
    auto *fontRow = new QHBoxLayout;
    edFont = lineEdit(tsPreference, "edFont");
    edFont->setReadOnly(true);
    tbFont = new QToolButton(tsPreference);
    tbFont->setObjectName("tbFont");
    tbFont->setText("...");
    fontRow->addWidget(edFont, 1);
    fontRow->addWidget(tbFont);
    preference->addRow("Default font:", fontRow);
    edAppPath = lineEdit(tsPreference, "edAppPath");
    preference->addRow("Application Path:", edAppPath);
    PageControl1->addTab(tsPreference, "Preference");
    PageControl1->setCurrentWidget(tsPreference);

    connect(tbFont, &QToolButton::clicked, this, [this] { platform::runCommand([this] { tbFontClick(); }); });
    connect(bnSave, &QPushButton::clicked, this, [this] { platform::runCommand([this] { bnSaveClick(); }); });
    connect(bnClose, &QPushButton::clicked, this, [this] { platform::runCommand([this] { bnCloseClick(); }); });

    resize(360, 320);
}

void TfrmConfigure::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        platform::runCommand([this] { FormShow(); });
    QWidget::showEvent(event);
}

void TfrmConfigure::FormShow()
{
    edName->setText(ReadIniString("PERSONAL", "UserName", ""));
    edEmailAddress->setText(ReadIniString("PERSONAL", "EmailAddress", ""));
    edMailServer->setText(ReadIniString("PERSONAL", "MailServer", ""));
    edSMTPport->setText(ReadIniString("PERSONAL", "SMTPport", "smtp"));
    edPOPServer->setText(ReadIniString("POSTOFFICE", "Host", ""));
    edPOPPort->setText(ReadIniString("POSTOFFICE", "Port", "pop3"));
    edPOPUser->setText(ReadIniString("POSTOFFICE", "UserName", ""));
    edPOPpassword->setText(
        controlCentre_.state().te.DecryptText(ReadIniString("POSTOFFICE", "Password", "")));
    edAppPath->setText(ReadIniString("quorvel", "Application Path", ""));
    cbKeepCopy->setChecked(ReadIniString("PREFERENCE", "KeepCopy", "Yes") == QLatin1String("Yes"));
    ckKeepMail->setChecked(ReadIniString("PREFERENCE", "KeepMailInServer", "Yes") == QLatin1String("Yes"));
    edFont->setText(ReadIniString("PREFERENCE", "DefaultFont", "Arial"));
}

void TfrmConfigure::tbFontClick()
{
    if (const auto face = platform::prompts().font(edFont->text()))
        edFont->setText(*face);
}

void TfrmConfigure::bnSaveClick()
{
    // A run works in the directories and with the settings it started with.
    if (controlCentre_.state().Runs.active()) {
        platform::prompts().information(RunState::kRefusal);
        return;
    }
    const QString appPath = edAppPath->text();
    if (!QFileInfo(appPath).isDir()) {
        platform::prompts().warning("Directory " + appPath + " does not exists");
        return;
    }
    ControlCentreState &state = controlCentre_.state();
    WriteIniString("quorvel", "Application Path", appPath);
    state.SetAppPath(appPath);

    WriteIniString("PERSONAL", "UserName", edName->text());
    WriteIniString("PERSONAL", "EmailAddress", edEmailAddress->text());
    WriteIniString("PERSONAL", "MailServer", edMailServer->text());
    WriteIniString("PERSONAL", "SMTPport", edSMTPport->text());

    WriteIniString("POSTOFFICE", "Host", edPOPServer->text());
    WriteIniString("POSTOFFICE", "Port", edPOPPort->text());
    WriteIniString("POSTOFFICE", "UserName", edPOPUser->text());
    WriteIniString("POSTOFFICE", "Password", state.te.EncryptText(edPOPpassword->text()));

    WriteIniString("PREFERENCE", "DefaultFont", edFont->text());
    if (!edFont->text().isEmpty()) {
        TfrmControlCentre::SetFontFace(&controlCentre_, edFont->text());
        state.DefaultFont = edFont->text();
    }
    WriteIniString("PREFERENCE", "KeepMailInServer", yesNo(ckKeepMail));
    WriteIniString("PREFERENCE", "KeepCopy", yesNo(cbKeepCopy));

    controlCentre_.EnvInit();
    close();
}

void TfrmConfigure::bnCloseClick()
{
    close();
}
