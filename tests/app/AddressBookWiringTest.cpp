#include "AppTestSupport.h"

#include "app/ControlCentre.h"
#include "app/Front.h"
#include "app/Startup.h"
#include "compose/AddressBook.h"
#include "compose/Editor.h"
#include "platform/ScriptedPrompts.h"

#include <QAbstractItemView>
#include <QDir>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <memory>

namespace {

TEST(AddressBookWiring, UseFromTheEditorFillsItsRecipientsAndLeavesTheRunsLines)
{
    apptest::Installation home;
    platform::ScriptedPrompts prompts;
    TfrmFront splash;
    std::unique_ptr<TfrmControlCentre> cc(CreateWindows(splash));
    TfrmAddressBook *book = cc->frmAddressBook;
    const QString file = home.appPath + "/quorvel.adk";

    // A file that cannot be read stops the opening with its message.
    ASSERT_TRUE(QDir().mkpath(file));
    cc->frmEditor->tbAddress->trigger();
    EXPECT_FALSE(book->isVisible());
    EXPECT_EQ(prompts.texts(), QStringList{"Cannot open file " + file});

    ASSERT_TRUE(QDir().rmdir(file));
    testsupport::writeFile(file, "Ann[ann]ann@example.test\r\nBob[bob]bob@example.test\r\n");
    // A posting run holds the queue in meTemp while the user picks addresses.
    RunScope run(cc->state().Runs, RunState::Post);
    cc->state().meTemp = QStringList{"mail1", "mail2"};
    cc->frmEditor->tbAddress->trigger();
    cc->frmEditor->tbAddress->trigger();
    ASSERT_TRUE(book->isVisible());
    EXPECT_EQ(book->frmEditEntry, cc->frmEditEntry);
    auto *list = book->findChild<QTreeWidget *>("ListView1");
    for (int row : {1, 0}) {
        list->setCurrentItem(list->topLevelItem(row));
        book->findChild<QAction *>("tbUse")->trigger();
    }

    // Once the editor's recipient list is there: both rows in it, each once, although
    // the address book was opened twice.
    if (auto *lvTo = cc->frmEditor->findChild<QAbstractItemView *>("lvTo")) {
        ASSERT_EQ(lvTo->model()->rowCount(), 2);
        EXPECT_EQ(lvTo->model()->index(1, 0).data().toString(), "ann@example.test");
    }
    EXPECT_TRUE(QObject::disconnect(book, &TfrmAddressBook::addressPicked, cc->frmEditor,
                                    &TfrmEditor::AddRecipient));
    EXPECT_EQ(cc->state().meTemp, (QStringList{"mail1", "mail2"}));
    EXPECT_EQ(prompts.recorded.size(), 1);
}

} // namespace
