#include "compose/AddressBook.h"
#include "compose/EditEntry.h"
#include "compose/NewFolder.h"
#include "store/SharedState.h"
#include "support/TempHome.h"

#include <QFileInfo>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

void clickLater(QWidget *dialog, const char *button)
{
    QTimer::singleShot(0, dialog, [dialog, button] {
        if (auto *b = dialog->findChild<QPushButton *>(button))
            b->click();
        for (QAction *a : dialog->findChildren<QAction *>(button))
            a->trigger();
    });
}

} // namespace

TEST(NewFolder, InitSetsCaptionAndLabelForTheMode)
{
    TfrmNewFolder dialog;
    EXPECT_EQ(dialog.windowTitle(), "Create New Folder");
    EXPECT_EQ(dialog.Label1->text(), "New Folder Name:");

    dialog.edFolderName->setText("left over");
    dialog.Init("RENAME", "Work");
    EXPECT_EQ(dialog.windowTitle(), "Rename Folder");
    EXPECT_EQ(dialog.Label1->text(), "Rename Folder Work to:");
    EXPECT_TRUE(dialog.edFolderName->text().isEmpty());

    dialog.Init("ADD");
    EXPECT_EQ(dialog.windowTitle(), "Add New Folder");
    EXPECT_EQ(dialog.Label1->text(), "New Folder Name:");
}

TEST(NewFolder, SaveCutsAtTheFirstDotAndCloseGivesNothing)
{
    TfrmNewFolder dialog;
    dialog.Init("ADD");
    dialog.edFolderName->setText("Friends.old.hdr");
    clickLater(&dialog, "tbSave");
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.FolderName, "Friends");

    dialog.edFolderName->setText("Other");
    clickLater(&dialog, "tbClose");
    dialog.exec();
    EXPECT_TRUE(dialog.FolderName.isEmpty());

    // Enter saves; Escape, after a saved name, gives nothing either.
    QTimer::singleShot(0, &dialog, [&] { QTest::keyClick(dialog.edFolderName, Qt::Key_Return); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.FolderName, "Other");
    QTimer::singleShot(0, &dialog, [&] { QTest::keyClick(dialog.edFolderName, Qt::Key_Escape); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_TRUE(dialog.FolderName.isEmpty());
}

TEST(EditEntry, SavedOnlyAfterSave)
{
    TfrmEditEntry dialog;
    EXPECT_EQ(dialog.windowTitle(), "Edit Entry");
    clickLater(&dialog, "tbSave");
    dialog.exec();
    EXPECT_TRUE(dialog.Saved);

    // Showing again resets the result until "Save".
    clickLater(&dialog, "tbClose");
    dialog.exec();
    EXPECT_FALSE(dialog.Saved);
}

TEST(AddressBook, LoadsItsOwnListAndShowsWellFormedLines)
{
    testsupport::TempHome home;
    ControlCentreState state;
    state.SetAppPath(home.path());
    state.meTemp = QStringList{"queued-mail"};
    TfrmAddressBook book(state);

    // A missing file is created empty.
    book.LoadAddressBook();
    EXPECT_TRUE(QFileInfo::exists(home.path() + "/quorvel.adk"));
    EXPECT_TRUE(state.meAddressBook.isEmpty());

    testsupport::writeFile(home.path() + "/quorvel.adk",
                           "Ann Smith[ann]ann@example.test\r\nno brackets\r\n]bad[order\r\n"
                           "Bob[]bob@example.test, carol@example.test\r\n");
    book.LoadAddressBook();
    book.ShowAddressBook();

    const auto *list = book.findChild<QTreeWidget *>("ListView1");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    const QTreeWidgetItem *ann = list->topLevelItem(0);
    EXPECT_EQ(ann->text(0), "Ann Smith");
    EXPECT_EQ(ann->text(1), "ann");
    EXPECT_EQ(ann->text(2), "ann@example.test");
    EXPECT_EQ(list->topLevelItem(1)->text(2), "bob@example.test, carol@example.test");
    // The posting run's lines are never touched.
    EXPECT_EQ(state.meTemp, QStringList{"queued-mail"});
}
