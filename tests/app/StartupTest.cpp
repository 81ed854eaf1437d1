#include "AppTestSupport.h"

#include "app/About.h"
#include "app/Configure.h"
#include "app/ControlCentre.h"
#include "app/Front.h"
#include "app/Startup.h"
#include "compose/AddressBook.h"
#include "compose/EditEntry.h"
#include "compose/Editor.h"
#include "compose/NewFolder.h"
#include "folder/Folder.h"
#include "platform/ScriptedPrompts.h"
#include "transfer/GetMail.h"
#include "transfer/Popup.h"
#include "transfer/SendMail.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <memory>

using apptest::Installation;
using apptest::IniEntry;
using platform::PromptKind;

namespace {

// The windows that exist, by object name, in creation order.
QStringList existingWindows()
{
    QStringList names;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName().startsWith("frm") && w->objectName() != "frmFront")
            names << w->objectName();
    }
    return names;
}

} // namespace

TEST(Startup, SplashReportsTenStepsWhileTheWindowsAreCreatedInOrder)
{
    Installation home;
    platform::ScriptedPrompts prompts;
    TfrmFront splash;
    QStringList shown;
    QList<QStringList> windowsAtStep;
    QObject::connect(&splash, &TfrmFront::infoDisplayed, [&](const QString &text) {
        shown << text;
        windowsAtStep << existingWindows();
    });

    std::unique_ptr<TfrmControlCentre> cc(CreateWindows(splash));

    EXPECT_EQ(shown, (QStringList{"  Loading control centre...", "  Loading editor...",
                                  "  Loading send mail module...", "  Loading configuration...",
                                  "  Loading get mail module...", "  Loading addressbook...",
                                  "  Loading addition form 1...", "  Loading folder...",
                                  "  Loading addition form 2...", "  Loading addition form 3..."}));
    EXPECT_EQ(splash.Counter, 10);
    EXPECT_EQ(splash.pBar->value(), 10);
    EXPECT_EQ(splash.pBar->maximum(), 10);
    EXPECT_TRUE(prompts.recorded.isEmpty());

    // Before each message the windows of the earlier rows exist, and no others.
    const QStringList order{"frmControlCentre", "frmAbout", "frmEditor", "frmSendMail",
                            "frmConfigure", "frmGetMail", "frmAddressBook", "frmEditEntry",
                            "frmFolder", "frmNewFolder", "frmPopup"};
    const int createdBefore[] = {0, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(windowsAtStep.size(), 10);
    for (int step = 0; step < 10; ++step) {
        QStringList expected = order.mid(0, createdBefore[step]);
        QStringList actual = windowsAtStep[step];
        expected.sort();
        actual.sort();
        EXPECT_EQ(actual, expected) << "before step " << step + 1;
    }

    EXPECT_EQ(cc->windowTitle(), "quorvel");
    EXPECT_EQ(cc->frmAbout->windowTitle(), "About quorvel");
    EXPECT_EQ(cc->frmEditor->windowTitle(), "quorvel");
    EXPECT_EQ(cc->frmSendMail->windowTitle(), "Send Mail");
    EXPECT_EQ(cc->frmConfigure->windowTitle(), "Configuration");
    EXPECT_EQ(cc->frmGetMail->windowTitle(), "Retrieving Mails...");
    EXPECT_EQ(cc->frmAddressBook->windowTitle(), "Address Book");
    EXPECT_EQ(cc->frmEditEntry->windowTitle(), "Edit Entry");
    EXPECT_EQ(cc->frmFolder->windowTitle(), "Folder");
    EXPECT_EQ(cc->frmNewFolder->windowTitle(), "Create New Folder");
    EXPECT_EQ(cc->frmPopup->windowTitle(), "Progress");
    EXPECT_EQ(cc->frmSendMail->frmPopup, cc->frmPopup);
    EXPECT_FALSE(cc->TerminationRequested);
    // Nothing is shown until the event loop runs.
    EXPECT_FALSE(cc->isVisible());
}

TEST(Startup, FirstStartWritesEveryEnvironmentKeyWithItsDefault)
{
    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    const QString appPath = home.dataDir() + "/quorvel";
    apptest::makeTree(appPath, true);
    testsupport::writeFile(home.configDir() + "/quorvel.ini", "");

    TfrmControlCentre cc;

    EXPECT_TRUE(prompts.recorded.isEmpty());
    const QList<IniEntry> expected{
        {"quorvel", "Application Path", appPath},
        {"PERSONAL", "UserName", ""},
        {"PERSONAL", "EmailAddress", ""},
        {"PERSONAL", "MailServer", ""},
        {"PERSONAL", "SMTPport", "smtp"},
        {"PREFERENCE", "KeepCopy", "Yes"},
        {"PREFERENCE", "DefaultFont", "Arial"},
        {"PREFERENCE", "KeepMailInServer", "Yes"},
    };
    EXPECT_EQ(apptest::iniEntries(home.configDir() + "/quorvel.ini"), expected);

    const ControlCentreState &s = cc.state();
    EXPECT_EQ(s.AppPath, appPath);
    EXPECT_EQ(s.InboxDir, appPath + "/inbox/");
    EXPECT_EQ(s.OutboxDir, appPath + "/outbox/");
    EXPECT_EQ(s.SMTPport, "smtp");
    EXPECT_TRUE(s.KeepCopyOn());
    EXPECT_TRUE(s.KeepMailInServerOn());
    EXPECT_EQ(s.DefaultFont, "Arial");
    EXPECT_EQ(cc.font().family(), "Arial");
    // The history file is created by the trim at creation.
    EXPECT_TRUE(QFileInfo::exists(appPath + "/quorvel.hst"));
}

TEST(Startup, MissingInboxArchiveWarnsAndEndsTheProgram)
{
    Installation home(false);
    platform::ScriptedPrompts prompts;
    TfrmFront splash;
    std::unique_ptr<TfrmControlCentre> cc(CreateWindows(splash));

    EXPECT_EQ(prompts.recorded,
              (QList<platform::RecordedPrompt>{
                  {PromptKind::Warning,
                   "This copy of quorvel was not installed properly\rPlease re-install it."}}));
    EXPECT_TRUE(cc->TerminationRequested);
    // The remaining windows are still created.
    EXPECT_EQ(splash.Counter, 10);
    EXPECT_NE(cc->frmPopup, nullptr);
    // No history is written into a tree that is no installation.
    EXPECT_FALSE(QFileInfo::exists(home.appPath + "/quorvel.hst"));
}

TEST(Startup, InboxArchiveIsFoundWhateverItsLetterCase)
{
    Installation home(false);
    testsupport::writeFile(home.inboxDir() + "inbox.hdr", "placeholder archive");
    platform::ScriptedPrompts prompts;
    TfrmControlCentre cc;
    EXPECT_TRUE(prompts.recorded.isEmpty());
    EXPECT_FALSE(cc.TerminationRequested);
}

TEST(Startup, HistoryIsLoadedWholeAtCreation)
{
    // However long, the history keeps every unique-id: one dropped for a message
    // still on the server would fetch that message again.
    Installation home;
    platform::ScriptedPrompts prompts;
    QByteArray history;
    for (int i = 1; i <= 130; ++i)
        history += "20240101 uid" + QByteArray::number(i) + ".txt\r\n";
    history += "20240102 UID7.txt\r\n";
    testsupport::writeFile(home.appPath + "/quorvel.hst", history);

    TfrmControlCentre cc;

    const QStringList &list = cc.state().HistoryList;
    ASSERT_EQ(list.size(), 130);
    EXPECT_EQ(list.first(), "20240101 uid1.txt");
    EXPECT_EQ(list.last(), "20240101 uid130.txt");
    EXPECT_TRUE(testsupport::readFile(home.appPath + "/quorvel.hst").endsWith("20240101 uid130.txt\r\n"));
}

TEST(Startup, SettingsThatCannotBeCompletedEndTheProgram)
{
    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    // A configuration directory below a plain file cannot be created, even by root.
    testsupport::writeFile(home.file("plain"), "x");
    qputenv("XDG_CONFIG_HOME", home.file("plain/config").toUtf8());

    TfrmControlCentre cc;

    ASSERT_EQ(prompts.recorded.size(), 1);
    EXPECT_EQ(prompts.recorded[0].kind, PromptKind::Error);
    EXPECT_TRUE(prompts.recorded[0].text.startsWith("Unable to write to "));
    EXPECT_TRUE(cc.TerminationRequested);
}

TEST(Startup, AnUnreadableHistoryIsReportedAndTheProgramGoesOn)
{
    Installation home;
    platform::ScriptedPrompts prompts;
    QDir().mkpath(home.appPath + "/quorvel.hst");

    TfrmControlCentre cc;

    ASSERT_EQ(prompts.recorded.size(), 1);
    EXPECT_EQ(prompts.recorded[0].kind, PromptKind::Error);
    EXPECT_FALSE(cc.TerminationRequested);
    EXPECT_TRUE(cc.state().HistoryList.isEmpty());
}
