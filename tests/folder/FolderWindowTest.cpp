// The folder window driven as the user drives it: tabs, column clicks, the commands
// and their prompts, over a real store in a temporary installation.
#include "store/StoreFixture.h"

#include "compose/Editor.h"
#include "compose/NewFolder.h"
#include "folder/Folder.h"
#include "store/FolderOps.h"
#include "store/SharedState.h"

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

using platform::Answer;
using platform::PromptKind;

namespace {

QByteArray dated(const QByteArray &id, const QByteArray &from, const QByteArray &subject,
                 const QByteArray &date)
{
    return "From: " + from + "\r\nSubject: " + subject + "\r\nDate: " + date + "\r\nMessage-ID: <" + id
        + ">\r\n\r\nBody of " + subject + "\r\n";
}

class FolderWindow : public StoreFixture {
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        writeFile(home.file("p/___.___"), "placeholder");
        for (const char *folder : {"READ", "SENT"})
            ZipFile(zip, inbox + folder + ".hdr", home.file("p/___.___"));
        state.SetAppPath(home.file("app"));
        decodeAll({raw("1", dated("a@x", "Carol <carol@x>", "beta", "Mon, 7 Dec 2026")),
                   raw("2", dated("b@x", "alice@x", "Alpha", "Fri, 4 Dec 2026")),
                   raw("3", dated("c@x", "Bob <bob@x>", "=?UTF-8?B?R3LDvMOfZQ==?=", "Sat, 5 Dec 2026"))});
        folder = std::make_unique<TfrmFolder>(state);
        folder->frmEditor = editor.get();
        folder->frmNewFolder = dialog.get();
        folder->show();
        folder->TabSet1Click();
        list = folder->findChild<QTreeWidget *>("ListView1");
        tabs = folder->findChild<QTabBar *>("TabSet1");
    }

    QAction *action(const char *name) { return folder->findChild<QAction *>(name); }
    QStringList column(int c)
    {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out << list->topLevelItem(i)->text(c);
        return out;
    }
    QStringList tabNames()
    {
        QStringList out;
        for (int i = 0; i < tabs->count(); ++i)
            out << tabs->tabText(i);
        return out;
    }
    void clickColumn(int c) { emit list->header()->sectionClicked(c); }
    void select(int row) { list->setCurrentItem(list->topLevelItem(row)); }
    void showTab(const QString &name)
    {
        for (int i = 0; i < tabs->count(); ++i) {
            if (tabs->tabText(i) == name)
                tabs->setCurrentIndex(i);
        }
        ASSERT_EQ(folder->CurrentFolder, name);
    }
    // Answers the name dialog, once it is shown, with `typed` and "Save".
    void typeFolderName(const QString &typed)
    {
        QTimer::singleShot(0, dialog.get(), [this, typed] {
            dialog->findChild<QLineEdit *>("edFolderName")->setText(typed);
            dialog->findChild<QPushButton *>("tbSave")->click();
        });
    }

    ControlCentreState state;
    std::unique_ptr<TfrmEditor> editor = std::make_unique<TfrmEditor>(state);
    std::unique_ptr<TfrmNewFolder> dialog = std::make_unique<TfrmNewFolder>();
    std::unique_ptr<TfrmFolder> folder;
    QTreeWidget *list = nullptr;
    QTabBar *tabs = nullptr;
};

} // namespace

TEST_F(FolderWindow, ListsAndSortsAsTheColumnsAreClicked)
{
    EXPECT_EQ(tabNames(), QStringList({"INBOX", "READ", "SENT"}));
    EXPECT_EQ(folder->windowTitle(), "Folders");
    EXPECT_EQ(folder->MailIds(), QStringList({"a@x", "b@x", "c@x"}));

    clickColumn(2);
    EXPECT_EQ(column(2), QStringList({"Alpha", "beta", QString::fromUtf8("Grüße")}));
    clickColumn(2);
    EXPECT_EQ(folder->MailIds(), QStringList({"c@x", "a@x", "b@x"}));
    // From's own flag was still false: ascending.
    clickColumn(1);
    EXPECT_EQ(column(1), QStringList({"alice@x", "Bob <bob@x>", "Carol <carol@x>"}));
    // Dates are text: Mon after Fri.
    clickColumn(3);
    EXPECT_EQ(column(3).value(2).left(3), "Sat");

    // The icon column: mails never opened first.
    SetMailStatus(zip, inbox, "INBOX", "b@x", ' ');
    folder->TabSet1Click();
    clickColumn(0);
    EXPECT_EQ(folder->MailIds(), QStringList({"a@x", "c@x", "b@x"}));

    showTab("SENT");
    EXPECT_EQ(list->headerItem()->text(1), "To");
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(FolderWindow, ViewAfterSortingOpensThatRowsMailAndFilesItToRead)
{
    clickColumn(2);   // Alpha, beta, Grüße
    select(1);
    action("tbView")->trigger();
    EXPECT_TRUE(editor->isVisible());
    EXPECT_TRUE(editor->Editor->toPlainText().startsWith("Body of beta"));
    EXPECT_EQ(editor->SourceFolder, "READ");
    EXPECT_FALSE(editor->tbQueue->isEnabled());
    EXPECT_EQ(folder->MailIds(), QStringList({"b@x", "c@x"}));
    EXPECT_EQ(ParseHeaderRecord(member("READ.hdr", "a@x")).status, "READ");

    // In READ it stays, and Reply marks it.
    showTab("READ");
    ASSERT_EQ(folder->MailIds(), QStringList({"a@x"}));
    select(0);
    action("tbReply")->trigger();
    EXPECT_TRUE(editor->tbQueue->isEnabled());
    EXPECT_EQ(folder->MailIds(), QStringList({"a@x"}));
    EXPECT_EQ(ParseHeaderRecord(member("READ.hdr", "a@x")).status, "REPLIED");
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(FolderWindow, TrashAndFileAskFirstAndRunsRefuseThem)
{
    select(0);
    prompts.answer(Answer::No);
    action("tbTrash")->trigger();
    EXPECT_EQ(folder->MailIds().size(), 3);
    prompts.answer(Answer::Yes);
    action("tbTrash")->trigger();
    EXPECT_EQ(folder->MailIds(), QStringList({"b@x", "c@x"}));

    auto *cb = folder->findChild<QComboBox *>("cbFolder");
    select(1);
    emit cb->activated(cb->findText("INBOX"));   // the folder shown: nothing
    prompts.answer(Answer::Yes);
    emit cb->activated(cb->findText("READ"));
    EXPECT_EQ(folder->MailIds(), QStringList({"b@x"}));
    EXPECT_EQ(prompts.texts(PromptKind::ConfirmYesNo),
              QStringList({"Click Yes to proceed deletion", "Click Yes to proceed deletion",
                           "Click Yes to move selected mail to folder [READ]"}));

    prompts.clear();
    RunScope run(state.Runs, RunState::Fetch);
    select(0);
    for (const char *command : {"tbView", "tbTrash", "tbAdd", "tbDelete"})
        action(command)->trigger();
    emit cb->activated(cb->findText("SENT"));
    EXPECT_EQ(prompts.texts(PromptKind::Information), QStringList(5, RunState::kRefusal));
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "b@x"}));
    EXPECT_FALSE(editor->isVisible());
}

TEST_F(FolderWindow, FoldersAreAddedRenamedAndDeletedThroughTheNameDialog)
{
    typeFolderName("archive.old");
    action("tbAdd")->trigger();
    showTab("archive");
    typeFolderName("kept");
    action("tbRename")->trigger();
    EXPECT_EQ(dialog->findChild<QLabel *>("Label1")->text(), "Rename Folder archive to:");
    EXPECT_EQ(tabNames(), QStringList({"INBOX", "kept", "READ", "SENT"}));

    // Default folders are refused before the dialog shows.
    showTab("READ");
    action("tbRename")->trigger();
    action("tbDelete")->trigger();
    showTab("kept");
    prompts.answer(Answer::No);
    action("tbDelete")->trigger();
    prompts.answer(Answer::Yes);
    action("tbDelete")->trigger();
    EXPECT_EQ(tabNames(), QStringList({"INBOX", "READ", "SENT"}));
    EXPECT_EQ(prompts.texts(), QStringList({"INBOX is the default folder, renaming is not permitted",
                                            "INBOX is the default folder, deletion is not permitted",
                                            "Click Yes to delete folder [KEPT] now!",
                                            "Click Yes to delete folder [KEPT] now!"}));
}
