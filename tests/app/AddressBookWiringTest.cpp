#include "AppTestSupport.h"

#include "app/ControlCentre.h"
#include "app/Front.h"
#include "app/Startup.h"
#include "compose/AddressBook.h"
#include "compose/Editor.h"
#include "platform/ScriptedPrompts.h"

#include <QAbstractItemView>
#include <QDir>
#include <QSignalSpy>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <memory>

using platform::PromptKind;
using platform::RecordedPrompt;

namespace {

class AddressBookWiringTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cc.reset(CreateWindows(splash));
        cc->show();
        book = cc->frmAddressBook;
        prompts.clear();
    }
    QString file() const { return home.appPath + "/quorvel.adk"; }

    apptest::Installation home;
    platform::ScriptedPrompts prompts;
    TfrmFront splash;
    std::unique_ptr<TfrmControlCentre> cc;
    TfrmAddressBook *book = nullptr;
};

TEST_F(AddressBookWiringTest, UseFromTheEditorAddsToItsRecipientsAndLeavesTheRunsLines)
{
    ASSERT_TRUE(testsupport::writeFile(file(), "Ann[ann]ann@example.test\r\nBob[bob]bob@example.test\r\n"));
    ControlCentreState &state = cc->state();
    // A posting run holds the queue in meTemp while the user picks addresses.
    RunScope run(state.Runs, RunState::Post);
    state.meTemp = QStringList{"mail1", "mail2"};

    cc->frmEditor->tbAddress->trigger();
    cc->frmEditor->tbAddress->trigger();
    ASSERT_TRUE(book->isVisible());
    EXPECT_TRUE(book->findChild<QAction *>("tbUse")->isEnabled());
    EXPECT_EQ(book->frmEditEntry, cc->frmEditEntry);

    QSignalSpy picked(book, &TfrmAddressBook::addressPicked);
    auto *list = book->findChild<QTreeWidget *>("ListView1");
    list->setCurrentItem(list->topLevelItem(1));
    book->findChild<QAction *>("tbUse")->trigger();
    list->setCurrentItem(list->topLevelItem(0));
    book->findChild<QAction *>("tbUse")->trigger();
    ASSERT_EQ(picked.size(), 2);
    EXPECT_EQ(picked[0][0].toString(), "bob@example.test");

    // Once the editor's recipient list is there, both rows are in it.
    if (auto *lvTo = cc->frmEditor->findChild<QAbstractItemView *>("lvTo")) {
        const QAbstractItemModel *rows = lvTo->model();
        ASSERT_EQ(rows->rowCount(), 2);
        EXPECT_EQ(rows->index(0, 0).data().toString(), "bob@example.test");
        EXPECT_EQ(rows->index(1, 0).data().toString(), "ann@example.test");
    }
    // Connected to the editor, once however often the address book was opened.
    EXPECT_TRUE(QObject::disconnect(book, &TfrmAddressBook::addressPicked, cc->frmEditor,
                                    &TfrmEditor::AddRecipient));
    EXPECT_FALSE(QObject::disconnect(book, &TfrmAddressBook::addressPicked, cc->frmEditor,
                                     &TfrmEditor::AddRecipient));

    EXPECT_EQ(state.meTemp, (QStringList{"mail1", "mail2"}));
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(AddressBookWiringTest, AnUnreadableFileStopsTheOpeningWithItsMessage)
{
    ASSERT_TRUE(QDir().mkpath(file()));
    cc->frmEditor->tbAddress->trigger();
    EXPECT_FALSE(book->isVisible());
    EXPECT_EQ(prompts.recorded, (QList<RecordedPrompt>{{PromptKind::Error, "Cannot open file " + file()}}));
}

} // namespace
