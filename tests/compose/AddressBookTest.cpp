#include "compose/AddressBook.h"
#include "compose/EditEntry.h"
#include "platform/ScriptedPrompts.h"
#include "store/SharedState.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <optional>

using platform::PromptKind;
using platform::RecordedPrompt;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

class AddressBookWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        state.SetAppPath(home.path());
        state.meTemp = QStringList{"queued-mail"};
        ASSERT_TRUE(writeFile(file(), "Joanne[jo]joanne@example.test\r\nAnn[ann]ann@example.test\r\n"
                                      "[nameless]nobody@example.test\r\n"));
        book.LoadAddressBook();
        book.ShowAddressBook();
        book.show();
    }
    void TearDown() override { EXPECT_EQ(state.meTemp, QStringList{"queued-mail"}); }

    QString file() const { return home.path() + "/quorvel.adk"; }
    QTreeWidget *list() const { return book.findChild<QTreeWidget *>("ListView1"); }
    QAction *command(const char *name) const { return book.findChild<QAction *>(name); }
    QStringList names() const
    {
        QStringList out;
        for (int i = 0; i < list()->topLevelItemCount(); ++i)
            out << list()->topLevelItem(i)->text(0);
        return out;
    }
    void select(int row) { list()->setCurrentItem(list()->topLevelItem(row)); }

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
    platform::ScriptedPrompts prompts;
    ControlCentreState state;
    TfrmAddressBook book{state};
    std::optional<AddressEntry> shown;
};

TEST_F(AddressBookWindowTest, WindowsOfTheDesign)
{
    EXPECT_EQ(book.windowTitle(), "Address Book");
    EXPECT_EQ(book.size(), QSize(435, 291));
    EXPECT_TRUE(book.windowFlags().testFlag(Qt::Tool));
    auto *bar = book.findChild<QToolBar *>();
    QStringList captions;
    for (QAction *a : bar->actions()) {
        captions << a->text();
        EXPECT_EQ(bar->widgetForAction(a)->size(), QSize(50, 50));
        EXPECT_FALSE(a->icon().isNull());
    }
    EXPECT_EQ(captions, (QStringList{"Close", "Add", "Edit", "Use", "Delete"}));
    EXPECT_EQ(list()->header()->sectionSize(0), 120);
    EXPECT_EQ(list()->header()->sectionSize(1), 100);
    EXPECT_EQ(list()->header()->sectionSize(2), 200);
    EXPECT_EQ(names(), (QStringList{"Joanne", "Ann", ""}));
    EXPECT_FALSE(list()->topLevelItem(2)->icon(0).isNull());

    TfrmEditEntry dialog;
    EXPECT_EQ(dialog.size(), QSize(355, 229));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
}

TEST_F(AddressBookWindowTest, AddEditAndDeleteWriteTheFileAfterEach)
{
    // Nothing is selected: Edit and Delete do nothing.
    command("tbEdit")->trigger();
    command("tbDelete")->trigger();

    answerEntry(std::nullopt);
    command("tbAdd")->trigger();
    answerEntry(AddressEntry{" ", "x", "x@example.test"});
    command("tbAdd")->trigger();
    EXPECT_EQ(names().size(), 3);

    answerEntry(AddressEntry{"Bob", "", "bob@example.test\ncarol@example.test"});
    command("tbAdd")->trigger();
    EXPECT_EQ(shown, (AddressEntry{}));
    EXPECT_EQ(list()->topLevelItem(3)->text(2), "bob@example.testcarol@example.test");

    select(1);
    answerEntry(AddressEntry{"Ann Smith", "annie", "ann@example.test"});
    command("tbEdit")->trigger();
    EXPECT_EQ(shown, (AddressEntry{"Ann", "ann", "ann@example.test"}));
    EXPECT_EQ(readFile(file()), "Joanne[jo]joanne@example.test\r\nAnn Smith[annie]ann@example.test\r\n"
                                "[nameless]nobody@example.test\r\nBob[]bob@example.testcarol@example.test\r\n");

    select(0);
    prompts.answer(platform::Answer::No);
    command("tbDelete")->trigger();
    EXPECT_EQ(names().size(), 4);
    select(0);
    prompts.answer(platform::Answer::Yes);
    command("tbDelete")->trigger();
    EXPECT_EQ(prompts.texts(PromptKind::ConfirmYesNo),
              QStringList(2, "Click Yes to delete Joanne or No to cancel it"));
    EXPECT_EQ(names(), (QStringList{"Ann Smith", "", "Bob"}));
    EXPECT_EQ(readFile(file()), "Ann Smith[annie]ann@example.test\r\n[nameless]nobody@example.test\r\n"
                                "Bob[]bob@example.testcarol@example.test\r\n");
    EXPECT_EQ(prompts.recorded.size(), 2);
}

TEST_F(AddressBookWindowTest, UseAndDoubleClickPickTheLookedUpAddressAndTheWindowStays)
{
    QSignalSpy picked(&book, &TfrmAddressBook::addressPicked);
    command("tbUse")->trigger();
    EXPECT_TRUE(picked.isEmpty());

    // "ann" occurs first in Joanne's line.
    select(1);
    command("tbUse")->trigger();
    // An entry without a name looks up nothing.
    select(2);
    command("tbUse")->trigger();

    // Opened from the control centre "Use" is disabled; the double-click still picks.
    book.SetUseEnabled(false);
    const QRect row = list()->visualItemRect(list()->topLevelItem(0));
    // A user's double-click: the first click presses the row, the second is the double.
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, row.center());

    ASSERT_EQ(picked.size(), 3);
    EXPECT_EQ(picked[0][0].toString(), "joanne@example.test");
    EXPECT_EQ(picked[1][0].toString(), "");
    EXPECT_EQ(picked[2][0].toString(), "joanne@example.test");
    EXPECT_TRUE(book.isVisible());

    qobject_cast<QToolButton *>(book.findChild<QToolBar *>()->widgetForAction(command("tbClose")))->click();
    EXPECT_FALSE(book.isVisible());
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(AddressBookWindowTest, AFailedWriteIsReportedAndTheListKeepsTheEntry)
{
    ASSERT_TRUE(QFile::remove(file()));
    ASSERT_TRUE(QDir().mkpath(file()));
    answerEntry(AddressEntry{"Bob", "", "bob@example.test"});
    command("tbAdd")->trigger();
    EXPECT_EQ(prompts.recorded, (QList<RecordedPrompt>{{PromptKind::Error, "Cannot create file " + file()}}));
    EXPECT_EQ(names(), (QStringList{"Joanne", "Ann", "", "Bob"}));

    // The look-up cannot read the file either: nothing is picked.
    QSignalSpy picked(&book, &TfrmAddressBook::addressPicked);
    select(0);
    command("tbUse")->trigger();
    EXPECT_TRUE(picked.isEmpty());
    EXPECT_EQ(prompts.texts(PromptKind::Error).size(), 2);
}

} // namespace
