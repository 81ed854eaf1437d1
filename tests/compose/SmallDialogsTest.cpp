#include "compose/AddressBook.h"
#include "compose/EditEntry.h"
#include "compose/NewFolder.h"
#include "platform/WidgetPrompts.h"
#include "store/SharedState.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
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

// The platform's file-open and font dialogs, driven as a user would: the read-only box
// and the font's style and size come back with the choice.
TEST(WidgetPromptsDialogs, ReadOnlyBoxAndWholeFontComeBack)
{
    testsupport::TempHome home;
    const QString file = home.file("mail.m");
    QFile(file).open(QIODevice::WriteOnly);
    platform::WidgetPrompts widgets;

    QTimer::singleShot(0, [file] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        dialog->findChild<QCheckBox *>("readOnly")->setChecked(true);
        dialog->selectFile(file);
        static_cast<QDialog *>(dialog)->accept(); // the dialog's own Open
    });
    const auto opened = widgets.fileOpenChoice("Open", home.path(), "quorvel Files (*.m)", true);
    ASSERT_TRUE(opened);
    EXPECT_EQ(QFileInfo(opened->path), QFileInfo(file));
    EXPECT_TRUE(opened->readOnly);

    QTimer::singleShot(0, [] {
        QWidget *dialog = QApplication::activeModalWidget();
        ASSERT_TRUE(dialog);
        auto *fonts = dialog->findChild<QFontDialog *>();
        QFont f = fonts->currentFont();
        f.setPointSize(17);
        f.setItalic(true);
        f.setUnderline(true);
        fonts->setCurrentFont(f);
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    });
    platform::FontChoice start;
    start.family = QApplication::font().family();
    start.pointSize = 12;
    start.colour = "#0000ff";
    const auto font = widgets.fontChoice(start);
    ASSERT_TRUE(font);
    EXPECT_EQ(font->pointSize, 17);
    EXPECT_TRUE(font->italic && font->underline);
    EXPECT_FALSE(font->strikeOut);
    EXPECT_EQ(font->colour, "#0000ff");
}
