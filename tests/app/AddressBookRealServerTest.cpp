// Two correspondents picked from the address book into the real editor, the mail
// queued and posted by the control centre's Post through the real Postfix: each of
// them receives it. Skipped without the QUORVEL_TEST_* variables.
#include "AppTestSupport.h"

#include "app/ControlCentre.h"
#include "app/Front.h"
#include "app/Startup.h"
#include "common/Settings.h"
#include "compose/AddressBook.h"
#include "compose/Editor.h"
#include "platform/ScriptedPrompts.h"
#include "support/RealServers.h"

#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <memory>

namespace {

// The mailboxes of the posting tests, under their lock.
const QStringList kPicked = {"carol", "dave"};

TEST(AddressBookRealServers, TwoPickedCorrespondentsEachReceiveTheMail)
{
    testsupport::ServerLock lock;
    testsupport::RequireRealServers(lock, "post-tests");
    if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure())
        return;
    for (const QString &user : kPicked)
        testsupport::clearMailbox(user);

    apptest::Installation home;
    WriteIniString("PERSONAL", "EmailAddress", testsupport::mailAddress("erin"));
    WriteIniString("PERSONAL", "MailServer", testsupport::serverEnv("QUORVEL_TEST_SMTP_HOST"));
    WriteIniString("PERSONAL", "SMTPport", testsupport::serverEnv("QUORVEL_TEST_SMTP_PORT"));
    testsupport::writeFile(home.appPath + "/quorvel.adk",
                           ("Carol Example[carol]" + testsupport::mailAddress("carol") + "\r\n"
                            + "Dave Example[dave]" + testsupport::mailAddress("dave") + "\r\n")
                               .toUtf8());
    platform::ScriptedPrompts prompts;
    TfrmFront splash;
    std::unique_ptr<TfrmControlCentre> cc(CreateWindows(splash));
    TfrmEditor *editor = cc->frmEditor;

    cc->tbComposeClick();
    editor->tbAddress->trigger();
    auto *list = cc->frmAddressBook->findChild<QTreeWidget *>("ListView1");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    for (int row : {0, 1}) {
        list->setCurrentItem(list->topLevelItem(row));
        cc->frmAddressBook->findChild<QAction *>("tbUse")->trigger();
    }
    editor->findChild<QLineEdit *>("edSubject")->setText("Picked from the book");
    QTest::keyClicks(editor->Editor, "Hello both.");
    editor->tbQueue->trigger();
    ASSERT_TRUE(prompts.texts().isEmpty()) << prompts.texts().join('|').toStdString();

    cc->tbPostClick();
    EXPECT_TRUE(prompts.texts().isEmpty()) << prompts.texts().join('|').toStdString();
    for (const QString &user : kPicked) {
        const QStringList files = testsupport::waitForMessages(user, 1);
        ASSERT_EQ(files.size(), 1) << user.toStdString();
        const QByteArray mail = testsupport::readFile(files[0]);
        EXPECT_TRUE(mail.contains("Subject: Picked from the book")) << user.toStdString();
        EXPECT_TRUE(mail.contains(("To: " + testsupport::mailAddress("carol") + ", "
                                   + testsupport::mailAddress("dave"))
                                      .toUtf8()))
            << mail.left(600).constData();
    }
    EXPECT_EQ(testsupport::readFile(home.queueFile()), "");
}

} // namespace
