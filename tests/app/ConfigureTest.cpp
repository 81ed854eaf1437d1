#include "AppTestSupport.h"

#include "app/Configure.h"
#include "app/ControlCentre.h"
#include "common/Settings.h"
#include "platform/ScriptedPrompts.h"

#include <QDir>
#include <gtest/gtest.h>
#include <memory>

using apptest::IniEntry;
using platform::PromptKind;
using platform::RecordedPrompt;

namespace {

class ConfigureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cc = std::make_unique<TfrmControlCentre>();
        dialog = new TfrmConfigure(*cc, cc.get());
        cc->frmConfigure = dialog;
        prompts.clear();
    }

    QString setting(const QString &section, const QString &key)
    {
        for (const auto &[s, k, v] : apptest::iniEntries(home.settingsFile())) {
            if (s == section && k == key)
                return v;
        }
        return "<missing>";
    }

    apptest::Installation home;
    platform::ScriptedPrompts prompts;
    std::unique_ptr<TfrmControlCentre> cc;
    TfrmConfigure *dialog = nullptr;
};

} // namespace

TEST_F(ConfigureTest, ShowFillsTheControlsAndAddsMissingKeys)
{
    // No [POSTOFFICE] section yet.
    WriteIniString("PREFERENCE", "KeepCopy", "yes");
    WriteIniString("PREFERENCE", "KeepMailInServer", "Yes");
    WriteIniString("PREFERENCE", "DefaultFont", "Liberation Serif");

    dialog->show();

    EXPECT_EQ(dialog->PageControl1->currentWidget(), dialog->tsPreference);
    EXPECT_EQ(dialog->PageControl1->tabText(0), "Connection");
    EXPECT_EQ(dialog->PageControl1->tabText(1), "Preference");
    EXPECT_EQ(dialog->edName->text(), "Ann Smith");
    EXPECT_EQ(dialog->edEmailAddress->text(), "ann@example.test");
    EXPECT_EQ(dialog->edMailServer->text(), "smtp.example.test");
    EXPECT_EQ(dialog->edSMTPport->text(), "smtp");
    EXPECT_EQ(dialog->edPOPPort->text(), "pop3");
    EXPECT_EQ(dialog->edAppPath->text(), home.appPath);
    EXPECT_EQ(dialog->edFont->text(), "Liberation Serif");
    EXPECT_TRUE(dialog->edFont->isReadOnly());
    EXPECT_EQ(dialog->edPOPpassword->echoMode(), QLineEdit::Password);
    // "yes" in lower case is off.
    EXPECT_FALSE(dialog->cbKeepCopy->isChecked());
    EXPECT_TRUE(dialog->ckKeepMail->isChecked());

    QList<IniEntry> postOffice;
    for (const IniEntry &e : apptest::iniEntries(home.settingsFile())) {
        if (std::get<0>(e) == "POSTOFFICE")
            postOffice << e;
    }
    EXPECT_EQ(postOffice, (QList<IniEntry>{{"POSTOFFICE", "Host", ""},
                                          {"POSTOFFICE", "Port", "pop3"},
                                          {"POSTOFFICE", "UserName", ""},
                                          {"POSTOFFICE", "Password", ""}}));
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(ConfigureTest, SaveWritesEverySettingAndReloadsTheEnvironment)
{
    WriteIniString("PREFERENCE", "KeepCopy", "yes");
    dialog->show();
    const QString newPath = home.file("elsewhere");
    apptest::makeTree(newPath, true);

    dialog->edName->setText("Bob Jones");
    dialog->edEmailAddress->setText("bob@example.test");
    dialog->edMailServer->setText("mail.example.test");
    dialog->edSMTPport->setText("2525");
    dialog->edPOPServer->setText("pop.example.test");
    dialog->edPOPPort->setText("1110");
    dialog->edPOPUser->setText("bob");
    dialog->edPOPpassword->setText("s3cret");
    dialog->edAppPath->setText(newPath);
    dialog->ckKeepMail->setChecked(false);
    dialog->edFont->setText("Liberation Mono");
    dialog->bnSave->click();

    EXPECT_TRUE(prompts.recorded.isEmpty());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(setting("quorvel", "Application Path"), newPath);
    EXPECT_EQ(setting("PERSONAL", "UserName"), "Bob Jones");
    EXPECT_EQ(setting("PERSONAL", "SMTPport"), "2525");
    EXPECT_EQ(setting("POSTOFFICE", "Host"), "pop.example.test");
    EXPECT_EQ(setting("POSTOFFICE", "Port"), "1110");
    EXPECT_EQ(setting("POSTOFFICE", "UserName"), "bob");
    // Stored only scrambled: 2 + 2n hexadecimal digits.
    const QString stored = setting("POSTOFFICE", "Password");
    EXPECT_EQ(stored.size(), 2 + 2 * 6);
    EXPECT_EQ(cc->state().te.DecryptText(stored), "s3cret");
    EXPECT_EQ(setting("PREFERENCE", "KeepMailInServer"), "No");
    // Shown unchecked for "yes", so saved as "No".
    EXPECT_EQ(setting("PREFERENCE", "KeepCopy"), "No");
    EXPECT_EQ(setting("PREFERENCE", "DefaultFont"), "Liberation Mono");

    // EnvInit ran on the new values.
    const ControlCentreState &s = cc->state();
    EXPECT_EQ(s.AppPath, newPath);
    EXPECT_EQ(s.InboxDir, newPath + "/inbox/");
    EXPECT_EQ(s.EmailAddress, "bob@example.test");
    EXPECT_EQ(s.MailServer, "mail.example.test");
    EXPECT_FALSE(s.KeepCopyOn());
    EXPECT_FALSE(s.KeepMailInServerOn());
    EXPECT_EQ(s.DefaultFont, "Liberation Mono");
    EXPECT_EQ(cc->font().family(), "Liberation Mono");
    EXPECT_FALSE(cc->TerminationRequested);

    // The next showing reads the password back.
    dialog->show();
    EXPECT_EQ(dialog->edPOPpassword->text(), "s3cret");
}

TEST_F(ConfigureTest, SavingTheSamePasswordTwiceStoresTwoScrambledTexts)
{
    QStringList stored;
    for (int i = 0; i < 2; ++i) {
        dialog->show();
        dialog->edPOPpassword->setText("same");
        dialog->bnSave->click();
        stored << setting("POSTOFFICE", "Password");
    }
    // The starting value is random; two equal texts are possible, rarely.
    if (stored[0] == stored[1]) {
        dialog->show();
        dialog->bnSave->click();
        stored[1] = setting("POSTOFFICE", "Password");
    }
    EXPECT_NE(stored[0], stored[1]);
    EXPECT_EQ(cc->state().te.DecryptText(stored[0]), "same");
    EXPECT_EQ(cc->state().te.DecryptText(stored[1]), "same");
}

TEST_F(ConfigureTest, AnEmptyFontIsSavedButLeavesTheWindowFontAlone)
{
    dialog->show();
    const QString before = cc->font().family();
    dialog->edFont->clear();
    dialog->bnSave->click();

    EXPECT_EQ(setting("PREFERENCE", "DefaultFont"), "");
    EXPECT_EQ(cc->font().family(), before);
    // The key is present, so EnvInit reads the empty value, not "Arial".
    EXPECT_EQ(cc->state().DefaultFont, "");
}

TEST_F(ConfigureTest, AMissingDirectoryIsRefusedAndNothingIsWritten)
{
    dialog->show();
    const QByteArray before = testsupport::readFile(home.settingsFile());
    const QString missing = home.file("no/such/dir");
    dialog->edAppPath->setText(missing);
    dialog->edName->setText("Changed");
    dialog->bnSave->click();

    EXPECT_EQ(prompts.recorded,
              (QList<RecordedPrompt>{{PromptKind::Warning, "Directory " + missing + " does not exists"}}));
    EXPECT_EQ(testsupport::readFile(home.settingsFile()), before);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(cc->state().AppPath, home.appPath);
}

TEST_F(ConfigureTest, CloseWritesNothingAndAbandonsTheEdits)
{
    dialog->show();
    const QByteArray before = testsupport::readFile(home.settingsFile());
    dialog->edName->setText("Changed");
    dialog->bnClose->click();

    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(testsupport::readFile(home.settingsFile()), before);
    dialog->show();
    EXPECT_EQ(dialog->edName->text(), "Ann Smith");
}

TEST_F(ConfigureTest, FontButtonRunsTheFontDialog)
{
    dialog->show();
    prompts.answerFont("Liberation Serif");
    dialog->tbFont->click();
    EXPECT_EQ(dialog->edFont->text(), "Liberation Serif");

    prompts.answerCancel();
    dialog->tbFont->click();
    EXPECT_EQ(dialog->edFont->text(), "Liberation Serif");
    EXPECT_EQ(prompts.texts(PromptKind::Font).size(), 2);
    EXPECT_TRUE(prompts.unanswered.isEmpty());
}

TEST_F(ConfigureTest, SavingAPathWithoutAnInstallationEndsTheProgram)
{
    dialog->show();
    const QString bare = home.file("bare");
    QDir().mkpath(bare);
    bool signalled = false;
    QObject::connect(cc.get(), &TfrmControlCentre::terminationRequested, [&] { signalled = true; });

    dialog->edAppPath->setText(bare);
    dialog->bnSave->click();

    EXPECT_EQ(prompts.recorded,
              (QList<RecordedPrompt>{{PromptKind::Warning,
                                      "This copy of quorvel was not installed properly\rPlease re-install it."}}));
    EXPECT_TRUE(signalled);
    EXPECT_TRUE(cc->TerminationRequested);
    EXPECT_EQ(setting("quorvel", "Application Path"), bare);
}
