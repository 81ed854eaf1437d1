#include "AppTestSupport.h"

#include "app/About.h"
#include "app/Configure.h"
#include "app/ControlCentre.h"
#include "app/Front.h"
#include "app/Startup.h"
#include "compose/AddressBook.h"
#include "compose/Editor.h"
#include "folder/Folder.h"
#include "platform/Error.h"
#include "platform/ScriptedPrompts.h"
#include "transfer/GetMail.h"
#include "transfer/SendMail.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QThread>
#include <QToolButton>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using platform::PromptKind;
using platform::RecordedPrompt;

namespace {

class FakeSendMail : public TfrmSendMail {
public:
    using TfrmSendMail::TfrmSendMail;
    std::function<void(ControlCentreState &)> run;
    int runs = 0;
    void bnSendClick() override
    {
        ++runs;
        if (run)
            run(state_);
    }
};

class FakeGetMail : public TfrmGetMail {
public:
    using TfrmGetMail::TfrmGetMail;
    int fetched = 0;
    void GetAllButtonClick() override
    {
        for (int i = 0; i < fetched; ++i)
            state_.NewMailList << "mail" + QString::number(i);
    }
};

class ControlCentreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cc.reset(CreateWindows(splash));
        cc->show();
        prompts.clear();
    }

    ControlCentreState &state() { return cc->state(); }
    QWidget *button(QAction *a) { return cc->ToolBar1->widgetForAction(a); }
    int bottom() { return cc->frameGeometry().top() + cc->frameGeometry().height(); }

    apptest::Installation home;
    platform::ScriptedPrompts prompts;
    TfrmFront splash;
    std::unique_ptr<TfrmControlCentre> cc;
};

QStringList menuTexts(QMenu *menu)
{
    QStringList texts;
    for (QAction *a : menu->actions())
        texts << (a->isSeparator() ? QString("-") : a->text());
    return texts;
}

} // namespace

TEST_F(ControlCentreTest, StripWithSevenButtonsAndTheMenu)
{
    EXPECT_EQ(cc->windowTitle(), "quorvel");
    EXPECT_EQ(cc->pos(), QPoint(5, 5));
    EXPECT_EQ(cc->minimumSize(), cc->maximumSize());
    EXPECT_FALSE(cc->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(cc->windowFlags() & Qt::WindowMinimizeButtonHint);

    const QList<QAction *> buttons{cc->tbCompose, cc->tbPost,    cc->tbFetch, cc->tbFolder,
                                   cc->tbAddress, cc->tbSetting, cc->tbHelp};
    EXPECT_EQ(cc->ToolBar1->actions(), buttons);
    const QStringList captions{"Compose", "Post", "Fetch", "Folder", "Address", "Setting", "Help"};
    int left = -1;
    for (int i = 0; i < buttons.size(); ++i) {
        auto *b = qobject_cast<QToolButton *>(button(buttons[i]));
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->text(), captions[i]);
        EXPECT_EQ(b->size(), QSize(57, 53));
        EXPECT_EQ(b->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        EXPECT_FALSE(b->icon().isNull()) << captions[i].toStdString();
        EXPECT_GT(b->x(), left);
        left = b->x();
    }
    // The menu and the whole toolbar are visible, nothing below them.
    EXPECT_EQ(cc->height(), cc->menuBar()->height() + cc->ToolBar1->height());
    EXPECT_GE(cc->width(), button(cc->tbHelp)->geometry().right());

    QStringList titles;
    for (QAction *a : cc->menuBar()->actions())
        titles << a->text();
    EXPECT_EQ(titles, (QStringList{"File", "Email", "Folder", "Tools", "Help"}));
    const QList<QAction *> top = cc->menuBar()->actions();
    EXPECT_EQ(menuTexts(top[0]->menu()), QStringList{"Exit"});
    EXPECT_EQ(menuTexts(top[1]->menu()), (QStringList{"New Mail", "-", "Post Mail", "Fetch Mail"}));
    EXPECT_EQ(top[2]->menu(), nullptr);
    EXPECT_EQ(menuTexts(top[3]->menu()), (QStringList{"Address Book", "Configuration"}));
    EXPECT_EQ(menuTexts(top[4]->menu()), (QStringList{"Contents", "-", "About quorvel"}));
}

TEST_F(ControlCentreTest, PostGuardsInOrder)
{
    auto *send = new FakeSendMail(state(), cc.get());
    cc->frmSendMail = send;
    testsupport::writeFile(home.queueFile(), "mail1\r\n");

    state().EmailAddress.clear();
    state().MailServer.clear();
    cc->PostMail1->trigger();
    EXPECT_EQ(prompts.recorded, (QList<RecordedPrompt>{{PromptKind::Warning, "You must setup your email address"}}));

    prompts.clear();
    state().EmailAddress = "ann@example.test";
    cc->tbPost->trigger();
    EXPECT_EQ(prompts.recorded, (QList<RecordedPrompt>{{PromptKind::Warning, "You must setup your mail server"}}));

    prompts.clear();
    state().MailServer = "smtp.example.test";
    state().PostingBusy = true;
    cc->tbPost->trigger();
    EXPECT_EQ(prompts.recorded, (QList<RecordedPrompt>{{PromptKind::Information, "No mail in queue"}}));
    EXPECT_TRUE(state().PostingBusy);

    prompts.clear();
    state().PostingBusy = false;
    QFile::remove(home.queueFile());
    cc->tbPost->trigger();
    EXPECT_EQ(prompts.recorded, (QList<RecordedPrompt>{{PromptKind::Information, "No mail in queue"}}));
    EXPECT_EQ(send->runs, 0);
}

TEST_F(ControlCentreTest, PostHandsTheQueueToTheRunAndDropsTheMarkedLines)
{
    auto *send = new FakeSendMail(state(), cc.get());
    cc->frmSendMail = send;
    testsupport::writeFile(home.queueFile(), "mail1\r\nmail2=/tmp/SENT.txt;\r\nmail3\r\n");
    testsupport::writeFile(home.appPath + "/quorvel.adk", "Bob[bob]bob@example.test\r\n");

    QStringList seen;
    send->run = [&](ControlCentreState &s) {
        EXPECT_TRUE(s.PostingBusy);
        seen = s.meTemp;
        s.meTemp[0] = "SENT" + s.meTemp[0];
        s.meTemp[2] = "FAIL" + s.meTemp[2];
        // The run keeps the event loop turning: a second Post and the address book
        // can arrive in the middle of it.
        cc->tbPost->trigger();
        cc->tbAddress->trigger();
    };
    cc->tbPost->trigger();

    EXPECT_EQ(send->runs, 1);
    EXPECT_EQ(seen, (QStringList{"mail1", "mail2=/tmp/SENT.txt;", "mail3"}));
    EXPECT_EQ(prompts.recorded, (QList<RecordedPrompt>{{PromptKind::Information, "No mail in queue"}}));
    EXPECT_EQ(testsupport::readFile(home.queueFile()), "mail2=/tmp/SENT.txt;\r\n");
    EXPECT_EQ(cc->frmAddressBook->findChild<QTreeWidget *>("ListView1")->topLevelItemCount(), 1);
    EXPECT_FALSE(state().PostingBusy);
}

TEST_F(ControlCentreTest, FetchReportsTheNewMails)
{
    auto *get = new FakeGetMail(state(), cc.get());
    cc->frmGetMail = get;
    state().NewMailList << "left over";

    get->fetched = 3;
    cc->FetchMail1->trigger();
    EXPECT_EQ(prompts.recorded, (QList<RecordedPrompt>{{PromptKind::Information, "You have 3 new mail(s)"}}));
    EXPECT_EQ(state().NewMailList.size(), 3);

    prompts.clear();
    get->fetched = 0;
    cc->tbFetch->trigger();
    EXPECT_TRUE(prompts.recorded.isEmpty());
    EXPECT_TRUE(state().NewMailList.isEmpty());
    EXPECT_EQ(get->pos(), QPoint(cc->frameGeometry().left() + button(cc->tbFetch)->x(), bottom()));
}

TEST_F(ControlCentreTest, ComposeOpensAClearedEditorBelowItsButton)
{
    TfrmEditor *editor = cc->frmEditor;
    editor->EditorMode = TfrmEditor::kModeFromSent;
    editor->SourceFolder = "INBOX";
    editor->Editable = false;
    editor->ToggleQueue(false);
    editor->Editor->setPlainText("old text");
    state().DefaultFont = "Liberation Serif";

    cc->NewMail1->trigger();

    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->EditorMode, TfrmEditor::kModeNewMail);
    EXPECT_EQ(editor->SourceFolder, "SENT");
    EXPECT_TRUE(editor->Editable);
    EXPECT_TRUE(editor->tbQueue->isEnabled());
    EXPECT_TRUE(editor->tbFont->isEnabled());
    EXPECT_TRUE(editor->Editor->toPlainText().isEmpty());
    EXPECT_EQ(editor->font().family(), "Liberation Serif");
    EXPECT_EQ(editor->pos(), QPoint(cc->frameGeometry().left() + button(cc->tbCompose)->x(), bottom()));
    EXPECT_EQ(editor->width(), 535);

    ASSERT_FALSE(state().cbFont.isEmpty());
    EXPECT_EQ(editor->cbFont->count(), state().cbFont.size());
    EXPECT_EQ(editor->cbFont->itemText(0), state().cbFont.first());
    // The font list is filled only the first time.
    cc->tbCompose->trigger();
    EXPECT_EQ(editor->cbFont->count(), state().cbFont.size());
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(ControlCentreTest, WindowsArePlacedByTheTable)
{
    const QRect outer = cc->frameGeometry();

    cc->Folder1->trigger();
    EXPECT_TRUE(cc->frmFolder->isVisible());
    EXPECT_EQ(cc->frmFolder->pos(), QPoint(outer.left(), outer.top() + 20));
    EXPECT_EQ(cc->frmFolder->width(), 618);

    cc->AddressBook1->trigger();
    EXPECT_TRUE(cc->frmAddressBook->isVisible());
    EXPECT_FALSE(cc->frmAddressBook->findChild<QAction *>("tbUse")->isEnabled());
    // The address book's left is the button's offset alone.
    EXPECT_EQ(cc->frmAddressBook->pos(), QPoint(button(cc->tbAddress)->x(), bottom()));
    // Opened from the editor, "Use" is enabled.
    cc->frmEditor->tbAddress->trigger();
    EXPECT_TRUE(cc->frmAddressBook->findChild<QAction *>("tbUse")->isEnabled());

    state().DefaultFont = "Liberation Mono";
    cc->Configuration1->trigger();
    EXPECT_TRUE(cc->frmConfigure->isVisible());
    EXPECT_EQ(cc->frmConfigure->pos(), QPoint(outer.left() + button(cc->tbSetting)->x(), bottom()));
    EXPECT_EQ(cc->frmConfigure->font().family(), "Liberation Mono");
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(ControlCentreTest, AboutIsModalAndExitEndsTheProgram)
{
    apptest::closeNextModal();
    cc->About1->trigger();
    EXPECT_FALSE(cc->frmAbout->isVisible());
    EXPECT_EQ(cc->frmAbout->lbBuild->text(), "Build:0008");

    bool closed = false;
    QObject::connect(cc.get(), &TfrmControlCentre::closed, [&] { closed = true; });
    cc->Exit1->trigger();
    EXPECT_TRUE(closed);
    EXPECT_FALSE(cc->isVisible());
}

// Help with the desktop's associations in a private XDG tree.
class ControlCentreHelpTest : public ControlCentreTest {
protected:
    void SetUp() override
    {
        ControlCentreTest::SetUp();
        oldDataDirs_ = qgetenv("XDG_DATA_DIRS");
        oldConfigDirs_ = qgetenv("XDG_CONFIG_DIRS");
        qputenv("XDG_DATA_DIRS", (system_.path() + "/share").toUtf8());
        qputenv("XDG_CONFIG_DIRS", (system_.path() + "/xdg").toUtf8());
    }
    void TearDown() override
    {
        qputenv("XDG_DATA_DIRS", oldDataDirs_);
        qputenv("XDG_CONFIG_DIRS", oldConfigDirs_);
    }
    void associate(const QString &exec)
    {
        testsupport::writeFile(home.dataDir() + "/mime/globs2", "50:application/x-chm-help:*.chm\n");
        testsupport::writeFile(home.configDir() + "/mimeapps.list",
                               "[Default Applications]\napplication/x-chm-help=helpviewer.desktop\n");
        testsupport::writeFile(home.dataDir() + "/applications/helpviewer.desktop",
                               ("[Desktop Entry]\nType=Application\nExec=" + exec + "\n").toUtf8());
    }

    QTemporaryDir system_;
    QByteArray oldDataDirs_, oldConfigDirs_;
};

TEST_F(ControlCentreHelpTest, WithoutAnAssociationNothingHappens)
{
    cc->Contents1->trigger();
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(ControlCentreHelpTest, AViewerThatCannotStartIsReported)
{
    associate(home.file("no-such-viewer") + " \"%f\"");
    cc->tbHelp->trigger();
    EXPECT_EQ(prompts.recorded,
              (QList<RecordedPrompt>{{PromptKind::Error, "Couldn't launch default browser"}}));
}

TEST_F(ControlCentreHelpTest, TheViewerGetsTheHelpFile)
{
    const QString out = home.file("viewer-args");
    const QString viewer = home.file("viewer.sh");
    testsupport::writeFile(viewer, ("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + out + ".part'\nmv '" + out
                                    + ".part' '" + out + "'\n")
                                       .toUtf8());
    QFile::setPermissions(viewer, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    associate(viewer + " %f");

    cc->tbHelp->trigger();

    EXPECT_TRUE(prompts.recorded.isEmpty());
    QDeadlineTimer deadline(10000);
    while (!QFileInfo::exists(out) && !deadline.hasExpired())
        QThread::msleep(20);
    EXPECT_EQ(testsupport::readFile(out), (home.appPath + "/help/quorvel.chm\n").toUtf8());
}
