#include "compose/AddressBook.h"
#include "compose/EditEntry.h"
#include "platform/ScriptedPrompts.h"
#include "store/SharedState.h"
#include "support/TempHome.h"

#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <optional>

using platform::PromptKind;
using testsupport::readFile;

namespace {

class AddressBookWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        state.SetAppPath(home.path());
        ASSERT_TRUE(testsupport::writeFile(file, "Joanne[jo]joanne@example.test\r\nAnn[ann]ann@example.test\r\n"
                                                 "[nameless]nobody@example.test\r\n"));
        book.LoadAddressBook();
        book.ShowAddressBook();
        book.show();
    }
    QAction *command(const char *name) const { return book.findChild<QAction *>(name); }
    void select(int row) { list->setCurrentItem(list->topLevelItem(row)); }

    // Answers the entry dialog the next Add or Edit shows: keeps what it showed in
    // `shown`, then types `typed` and presses "Save", or presses "Close" without one.
    void answerEntry(std::optional<AddressEntry> typed)
    {
        QTimer::singleShot(0, &book, [this, typed] {
            auto *dialog = book.findChild<TfrmEditEntry *>();
            ASSERT_TRUE(dialog && dialog->isVisible() && dialog->isModal());
            auto *name = dialog->findChild<QLineEdit *>("edName");
            auto *alias = dialog->findChild<QLineEdit *>("edAlias");
            auto *email = dialog->findChild<QPlainTextEdit *>("meEmail");
            shown = AddressEntry{name->text(), alias->text(), email->toPlainText()};
            if (typed) {
                name->setText(typed->name);
                alias->setText(typed->alias);
                email->setPlainText(typed->email);
            }
            dialog->findChild<QAction *>(typed ? "tbSave" : "tbClose")->trigger();
        });
    }

    testsupport::TempHome home;
    const QString file = home.path() + "/quorvel.adk";
    platform::ScriptedPrompts prompts;
    ControlCentreState state;
    TfrmAddressBook book{state};
    QTreeWidget *list = book.findChild<QTreeWidget *>("ListView1");
    std::optional<AddressEntry> shown;
};

TEST_F(AddressBookWindowTest, AddEditAndDeleteThroughTheDialogAndTheConfirmation)
{
    EXPECT_EQ(list->header()->sectionSize(2), 200);
    // Nothing is selected: Edit and Delete do nothing.
    command("tbEdit")->trigger();
    command("tbDelete")->trigger();

    answerEntry(std::nullopt);
    command("tbAdd")->trigger();
    answerEntry(AddressEntry{" ", "x", "x@example.test"});
    command("tbAdd")->trigger();
    answerEntry(AddressEntry{"Bob", "", "bob@example.test\ncarol@example.test"});
    command("tbAdd")->trigger();
    EXPECT_EQ(shown, AddressEntry{});

    select(1);
    answerEntry(AddressEntry{"Ann Smith", "annie", "ann@example.test"});
    command("tbEdit")->trigger();
    EXPECT_EQ(shown, (AddressEntry{"Ann", "ann", "ann@example.test"}));

    select(0);
    prompts.answer(platform::Answer::No);
    command("tbDelete")->trigger();
    prompts.answer(platform::Answer::Yes);
    command("tbDelete")->trigger();
    EXPECT_EQ(prompts.texts(), QStringList(2, "Click Yes to delete Joanne or No to cancel it"));
    EXPECT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(readFile(file), "Ann Smith[annie]ann@example.test\r\n[nameless]nobody@example.test\r\n"
                              "Bob[]bob@example.testcarol@example.test\r\n");
}

TEST_F(AddressBookWindowTest, UseAndDoubleClickPickTheLookedUpAddressAndCloseHides)
{
    QSignalSpy picked(&book, &TfrmAddressBook::addressPicked);
    command("tbUse")->trigger();
    select(1);   // "ann" occurs first in Joanne's line
    command("tbUse")->trigger();
    select(2);   // no name, no address
    command("tbUse")->trigger();
    // Opened from the control centre "Use" is disabled; a double-click still picks.
    book.SetUseEnabled(false);
    const QPoint row = list->visualItemRect(list->topLevelItem(0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row);

    ASSERT_EQ(picked.size(), 3);
    EXPECT_EQ(picked[0][0].toString(), "joanne@example.test");
    EXPECT_EQ(picked[1][0].toString(), "");
    EXPECT_EQ(picked[2][0].toString(), "joanne@example.test");
    EXPECT_TRUE(book.isVisible());
    command("tbClose")->trigger();
    EXPECT_FALSE(book.isVisible());
}

TEST_F(AddressBookWindowTest, AFailedWriteIsReportedAndTheListKeepsTheEntry)
{
    ASSERT_TRUE(QFile::remove(file) && QDir().mkpath(file));
    answerEntry(AddressEntry{"Bob", "", "bob@example.test"});
    command("tbAdd")->trigger();
    EXPECT_EQ(prompts.texts(PromptKind::Error), QStringList{"Cannot create file " + file});
    EXPECT_EQ(list->topLevelItem(3)->text(0), "Bob");
}

} // namespace
