#include "compose/Editor.h"
#include "compose/EditorObjects.h"
#include "PdfPictures.h"

#include "common/ArchiveOps.h"
#include "platform/Clock.h"
#include "platform/ScriptedPrompts.h"
#include "rtf/Rtf.h"
#include "rtf/RtfTestSupport.h"
#include "store/QueueFile.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "support/ArchiveContents.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPrinter>
#include <QProcess>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using platform::Answer;
using platform::PromptKind;
using platform::RecordedPrompt;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const QDateTime kNow(QDate(2026, 12, 7), QTime(10, 11, 12));
const QString kName = "261207101112-carol@example-test";

using rtftest::items;
using rtftest::sticker;

class EditorTest : public ::testing::Test {
protected:
    EditorTest()
    {
        state.SetAppPath(home.path() + "/quorvel");
        QDir().mkpath(state.InboxDir);
        QDir().mkpath(state.OutboxDir);
        state.EmailAddress = "carol@example.test";
        state.KeepCopy = "Yes";
        platform::setClockForTesting([] { return kNow; });
        editor = std::make_unique<TfrmEditor>(state);
        compose();
    }
    ~EditorTest() override
    {
        editor.reset();
        platform::setClockForTesting({});
        TEditorObjects::opener() = [](const QString &) { return false; };
    }

    // What the control centre's Compose does.
    void compose()
    {
        editor->SourceFolder = "SENT";
        editor->EditorMode = TfrmEditor::kModeNewMail;
        editor->Editable = true;
        editor->ToggleQueue(true);
        editor->show();
        editor->New1Click();
    }
    template <typename T> T *find(const char *name) const
    {
        T *found = editor->findChild<T *>(name);
        EXPECT_TRUE(found) << name;
        return found;
    }
    QAction *action(const char *name) const { return find<QAction>(name); }
    QListWidget *lvTo() const { return find<QListWidget>("lvTo"); }
    QListWidget *lvAttach() const { return find<QListWidget>("lvAttach"); }
    QLineEdit *edSubject() const { return find<QLineEdit>("edSubject"); }
    QString modifiedPanel() const { return find<QLabel>("StatusPanel2")->text(); }
    void type(const QString &text) { QTest::keyClicks(editor->Editor, text); }
    void doubleClick(QListWidget *list, QPoint at)
    {
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    }
    void copyPicture(const QByteArray &bytes)
    {
        auto *data = new QMimeData;
        data->setData("image/png", bytes);
        QApplication::clipboard()->setMimeData(data);
    }
    QString outbox(const QString &file) const { return state.OutboxDir + file; }

    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    ControlCentreState state;
    std::unique_ptr<TfrmEditor> editor;
};

TEST_F(EditorTest, MailComposedInTheWindowIsQueuedAndTheWindowCleared)
{
    EXPECT_EQ(editor->MailName, kName);
    EXPECT_EQ(modifiedPanel(), "");

    editor->AddRecipient("dave@example.test");
    edSubject()->setText("Pictures");
    type("Hello");
    EXPECT_EQ(modifiedPanel(), "Modified");
    prompts.answerPath(home.file("docs/a.txt"));
    editor->tbAttach->trigger();
    prompts.answerPath(home.file("docs/b.txt"));
    editor->tbAttach->trigger();

    editor->tbQueue->trigger();
    EXPECT_TRUE(prompts.recorded.size() == 2 && prompts.unanswered.isEmpty()) << prompts.texts().join('|').toStdString();
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(LoadQueue(QueueFilePath(state.OutboxDir)),
              QStringList{kName + "=" + home.file("docs/a.txt") + ";" + home.file("docs/b.txt") + ";"});
    EXPECT_TRUE(QFile::exists(outbox(kName + ".m")));
    EXPECT_FALSE(QFile::exists(outbox(kName + ".doc")));
    // Closing cleared the window.
    EXPECT_EQ(lvTo()->count(), 0);
    EXPECT_EQ(lvAttach()->count(), 0);
    EXPECT_TRUE(edSubject()->text().isEmpty());
    EXPECT_TRUE(editor->Editor->toPlainText().isEmpty());

    // Open loads the queued body, read-only exactly when the dialog's box was ticked.
    prompts.clear();
    prompts.answerPath(outbox(kName + ".m"), true);
    action("Open1")->trigger();
    EXPECT_EQ(editor->Editor->toPlainText(), "Hello");
    EXPECT_TRUE(editor->Editor->isReadOnly());
    prompts.answerPath(outbox(kName + ".m"), false);
    action("Open1")->trigger();
    EXPECT_FALSE(editor->Editor->isReadOnly());
    EXPECT_TRUE(prompts.unanswered.isEmpty());
}

TEST_F(EditorTest, QueueChecksComeFirstAndWriteNothing)
{
    type("text");
    editor->AddRecipient(" ");
    editor->tbQueue->trigger();
    EXPECT_EQ(prompts.recorded, (QList<RecordedPrompt>{{PromptKind::Warning, "Need at least a recipient"}}));

    prompts.clear();
    editor->AddRecipient("dave@example.test");
    prompts.answer(Answer::No);
    editor->tbQueue->trigger();
    ASSERT_EQ(prompts.texts(PromptKind::ConfirmYesNo).size(), 1);
    EXPECT_TRUE(prompts.texts().first().startsWith("You have not enter a subject for this quorvel."));
    EXPECT_TRUE(editor->isVisible());

    // A new mail nobody typed into.
    editor->New1Click();   // asks to save the typed text: Cancel is the unscripted answer
    prompts.clear();
    prompts.answer(Answer::No);
    editor->New1Click();
    editor->AddRecipient("dave@example.test");
    edSubject()->setText("s");
    editor->tbQueue->trigger();
    EXPECT_EQ(prompts.texts(PromptKind::Warning), QStringList{"You have not entered anything in the mail yet!"});
    EXPECT_TRUE(QDir(state.OutboxDir).entryList(QDir::Files).isEmpty());

    // A fetch run is writing the store: queueing waits for it.
    type("x");
    prompts.clear();
    state.Runs.begin(RunState::Fetch);
    editor->tbQueue->trigger();
    EXPECT_EQ(prompts.texts(), QStringList{RunState::kRefusal});
    EXPECT_TRUE(editor->isVisible());
    state.Runs.end();

    // During a posting run, and with a subject left empty on purpose: the line is
    // queued (the run keeps it), the header's second line is empty and the blank
    // recipient row is left out.
    state.Runs.begin(RunState::Post);
    prompts.clear();
    edSubject()->clear();
    prompts.answer(Answer::Yes);
    editor->tbQueue->trigger();
    state.Runs.end();
    EXPECT_TRUE(prompts.unanswered.isEmpty());
    EXPECT_EQ(LoadQueue(QueueFilePath(state.OutboxDir)), QStringList{kName});
    EXPECT_EQ(readFile(outbox(kName + ".hdr")), "SUBJECT\r\n\r\nRECEIPT\r\ndave@example.test\r\n");

    // A reply to a received mail with attachments queues its fresh name alone.
    editor->LoadMail({{"erin@example.test"}, "Re: Hi", {"notes.txt"}, false, "stored"});
    editor->EditorMode = TfrmEditor::kModeFromFolder;
    type("answer");
    editor->tbQueue->trigger();
    EXPECT_EQ(LoadQueue(QueueFilePath(state.OutboxDir)).last(), "261207101113-carol@example-test");
}

TEST_F(EditorTest, ClosingAsksOnlyForAnEditableChangedMail)
{
    editor->AddRecipient("dave@example.test");
    type("keep me");
    prompts.answer(Answer::Cancel);
    editor->close();
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->Editor->toPlainText(), "keep me");
    EXPECT_EQ(prompts.texts(), QStringList{"Save changes to this mail?"});

    prompts.answer(Answer::No);
    action("tbClose")->trigger();
    EXPECT_FALSE(editor->isVisible());
    EXPECT_TRUE(editor->Editor->toPlainText().isEmpty());
    EXPECT_EQ(lvTo()->count(), 0);
    EXPECT_TRUE(QDir(state.OutboxDir).entryList(QDir::Files).isEmpty());

    // Answered Yes, the mail is saved in the outbox without being queued.
    compose();
    type("saved");
    prompts.clear();
    prompts.answer(Answer::Yes);
    editor->close();
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(QDir(state.OutboxDir).entryList(QDir::Files),
              (QStringList{kName + ".hdr", kName + ".m"}));
    // The next mail of the same second gets a name of its own.
    compose();
    EXPECT_EQ(editor->MailName, "261207101113-carol@example-test");

    // A mail opened for viewing never asks.
    editor->LoadMail({{"erin@example.test"}, "Hi", {"notes.txt"}, false, "stored text"});
    editor->EditorMode = TfrmEditor::kModeFromFolder;
    editor->SourceFolder = "INBOX";
    editor->Editable = false;
    editor->ToggleQueue(false);
    EXPECT_EQ(lvTo()->item(0)->text(), "erin@example.test");
    EXPECT_EQ(lvAttach()->item(0)->text(), "notes.txt");
    EXPECT_EQ(edSubject()->text(), "Hi");
    type("typed");
    prompts.clear();
    editor->close();
    EXPECT_FALSE(editor->isVisible());
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(EditorTest, ListRowsAreAddedInPlaceRemovedOnQuestionAndPathsChecked)
{
    doubleClick(lvTo(), {5, 80});
    ASSERT_EQ(lvTo()->count(), 1);
    // The new row is being edited in place.
    auto *inPlace = lvTo()->viewport()->findChild<QLineEdit *>();
    ASSERT_TRUE(inPlace && inPlace->isVisible());
    QTest::keyClicks(inPlace, "dave@example.test");
    QTest::keyClick(inPlace, Qt::Key_Return);
    QCoreApplication::processEvents();   // the row takes the text through a queued call
    EXPECT_EQ(lvTo()->item(0)->text(), "dave@example.test");
    EXPECT_TRUE(prompts.recorded.isEmpty());

    const QPoint row = lvTo()->visualItemRect(lvTo()->item(0)).center();
    prompts.answer(Answer::No);
    doubleClick(lvTo(), row);
    EXPECT_EQ(lvTo()->count(), 1);
    prompts.answer(Answer::Yes);
    doubleClick(lvTo(), row);
    EXPECT_EQ(lvTo()->count(), 0);
    EXPECT_EQ(prompts.texts(), QStringList(2, "Sure to remove dave@example.test?"));

    // A path the queue cannot carry is refused at Attach.
    prompts.clear();
    prompts.answerPath(home.file("a;b.txt"));
    editor->tbAttach->trigger();
    EXPECT_EQ(lvAttach()->count(), 0);
    ASSERT_EQ(prompts.texts(PromptKind::Warning).size(), 1);
    EXPECT_TRUE(prompts.texts(PromptKind::Warning).first().contains(home.file("a;b.txt")));

    // Save Attachment As needs a selected row of a received mail.
    prompts.clear();
    action("SaveAttachmentAs1")->trigger();
    EXPECT_EQ(prompts.texts(), QStringList{"Select an attachment file first."});
}

TEST_F(EditorTest, SavingAnAttachmentAsksBeforeReplacingAFile)
{
    ASSERT_TRUE(writeFile(state.InboxDir + ".in/report.pdf", "attachment"));
    ZipFile(state.ZipArchive1, AttachmentArchivePath(state.InboxDir, "READ"), state.InboxDir + ".in/report.pdf");
    ASSERT_TRUE(writeFile(home.file("old.pdf"), "old"));
    editor->LoadMail({{"erin@example.test"}, "Hi", {"report.pdf"}, false, "text"});
    editor->SourceFolder = "READ";
    lvAttach()->setCurrentRow(0);

    for (Answer answer : {Answer::No, Answer::Yes}) {
        prompts.answerPath(home.file("old.pdf"));
        prompts.answer(answer);
        action("SaveAttachmentAs1")->trigger();
    }
    EXPECT_EQ(prompts.texts(PromptKind::ConfirmYesNoCancel),
              QStringList(2, "OK to overwrite " + home.file("old.pdf")));
    EXPECT_EQ(readFile(home.file("old.pdf")), "attachment");
    EXPECT_TRUE(prompts.unanswered.isEmpty());

    // A folder without its attachment archive: said so, nothing saved.
    editor->SourceFolder = "Work";
    prompts.clear();
    prompts.answerPath(home.file("new.pdf"));
    action("SaveAttachmentAs1")->trigger();
    EXPECT_EQ(prompts.texts(PromptKind::Information),
              QStringList{"File " + AttachmentArchivePath(state.InboxDir, "Work") + " is missing"});
    EXPECT_FALSE(QFile::exists(home.file("new.pdf")));
}

TEST_F(EditorTest, CommandsAndFormattingFollowTheBody)
{
    // Cut and Copy follow the selection, Paste the clipboard, all off while viewing.
    QApplication::clipboard()->clear();
    EXPECT_FALSE(editor->tbCut->isEnabled());
    EXPECT_FALSE(editor->tbPaste->isEnabled());
    type("plain words");
    editor->Editor->selectAll();
    EXPECT_TRUE(editor->tbCut->isEnabled());
    EXPECT_TRUE(editor->tbCopy->isEnabled());
    QApplication::clipboard()->setText("clip");
    EXPECT_TRUE(editor->tbPaste->isEnabled());
    EXPECT_TRUE(action("PasteSpecial1")->isEnabled());

    // Formatting applies to the selection and the toggles follow the cursor.
    find<QToolButton>("tbItalic")->click();
    auto *colours = find<QComboBox>("cbColor");
    const int red = colours->findText("Red");
    colours->setCurrentIndex(red);
    emit colours->activated(red);
    find<QSpinBox>("fontsize")->setValue(14);
    QTextCursor at(editor->Editor->document());
    at.setPosition(3);
    EXPECT_TRUE(at.charFormat().fontItalic());
    EXPECT_EQ(at.charFormat().foreground().color(), QColor(Qt::red));
    EXPECT_EQ(at.charFormat().fontPointSize(), 14);
    EXPECT_FALSE(at.charFormat().fontUnderline());
    at.movePosition(QTextCursor::End);
    at.insertText(" upright", QTextCharFormat());
    at.movePosition(QTextCursor::End);
    editor->Editor->setTextCursor(at);
    EXPECT_FALSE(find<QToolButton>("tbItalic")->isChecked());
    at.setPosition(2);
    editor->Editor->setTextCursor(at);
    EXPECT_TRUE(find<QToolButton>("tbItalic")->isChecked());
    EXPECT_EQ(colours->currentText(), "Red");

    // The Font dialog sets face, size, style, effects and colour of the selection.
    platform::FontChoice chosen;
    chosen.family = "Liberation Serif";
    chosen.pointSize = 31;
    chosen.bold = true;
    chosen.strikeOut = true;
    chosen.colour = "#008000";
    prompts.answerFont(chosen);
    editor->Editor->selectAll();
    editor->tbFont->trigger();
    EXPECT_EQ(prompts.texts(PromptKind::Font), QStringList{"Arial"});
    at.setPosition(4);
    const QTextCharFormat fonted = at.charFormat();
    EXPECT_EQ(fonted.fontFamilies().toStringList(), QStringList{"Liberation Serif"});
    EXPECT_EQ(fonted.fontPointSize(), 31);
    EXPECT_TRUE(fonted.fontWeight() >= QFont::Bold && fonted.fontStrikeOut());
    EXPECT_FALSE(fonted.fontItalic());
    EXPECT_EQ(fonted.foreground().color(), QColor(0, 0x80, 0));

    // A mail only viewed pastes nothing, whatever the clipboard holds.
    editor->ToggleQueue(false);
    QApplication::clipboard()->setText("more");
    EXPECT_FALSE(editor->tbPaste->isEnabled());
}

TEST_F(EditorTest, PastedHtmlBringsOnlyItsOwnPictures)
{
    ASSERT_TRUE(writeFile(home.file("secret.png"), sticker(Qt::black, false)));
    const QByteArray inlinePicture = sticker(Qt::yellow, true, 5);
    auto *data = new QMimeData;
    data->setHtml("<p>a<img src=\"data:image/png;base64," + inlinePicture.toBase64() + "\">b<img src=\""
                  + QUrl::fromLocalFile(home.file("secret.png")).toString()
                  + "\"><img src=\"http://example.invalid/x.png\">c</p>");
    QApplication::clipboard()->setMimeData(data);
    editor->tbPaste->trigger();
    EXPECT_EQ(editor->Editor->toPlainText(), "a\uFFFCbc");
    ASSERT_EQ(items(*editor->Editor->document()).size(), 1);
    EXPECT_EQ(items(*editor->Editor->document())[0].bytes, inlinePicture);

    // Pasted special without objects, the picture stays out.
    TEditorObjects objects(*editor->Editor, [this] { return home.file("work"); }, nullptr);
    editor->Editor->clear();
    EXPECT_TRUE(objects.pasteSpecial(data, TEditorObjects::RichTextWithoutObjects, false));
    EXPECT_EQ(editor->Editor->toPlainText(), "abc");

    // A file copied in a file manager is embedded with its bytes.
    auto *files = new QMimeData;
    files->setUrls({QUrl::fromLocalFile(home.file("secret.png"))});
    QApplication::clipboard()->setMimeData(files);
    editor->tbPaste->trigger();
    EXPECT_EQ(items(*editor->Editor->document()).at(0).bytes, readFile(home.file("secret.png")));
}

TEST_F(EditorTest, AnOpenedObjectComesBackChangedWhenTheMailIsSaved)
{
    ASSERT_TRUE(writeFile(home.file("plan.txt"), "version 1"));
    TEditorObjects objects(*editor->Editor, [this] { return home.file("work"); }, nullptr);
    ASSERT_TRUE(objects.insertFromFile(home.file("plan.txt"), false, true));
    QAction item("&Object", nullptr);
    objects.fillObjectMenu(&item);
    EXPECT_TRUE(item.isEnabled());
    EXPECT_EQ(item.text(), "&Object " + TEditorObjects::typeName(items(*editor->Editor->document())[0]));
    ASSERT_TRUE(item.menu());
    EXPECT_EQ(item.menu()->actions().size(), 2);

    QString openedPath;
    TEditorObjects::opener() = [&](const QString &path) {
        openedPath = path;
        return true;
    };
    ASSERT_TRUE(objects.openSelected());
    EXPECT_EQ(readFile(openedPath), "version 1");
    ASSERT_TRUE(writeFile(openedPath, "version 2, saved by its application"));
    objects.takeBackOpened();
    const auto back = items(*editor->Editor->document());
    ASSERT_EQ(back.size(), 1);
    EXPECT_EQ(back[0].name, "plan.txt");
    EXPECT_EQ(back[0].bytes, "version 2, saved by its application");

    // A new object from a template is opened for editing at once.
    ASSERT_TRUE(writeFile(home.file("Templates/Letter.odt"), "template bytes"));
    ASSERT_TRUE(TEditorObjects::templates().contains(home.file("Templates/Letter.odt")));
    ASSERT_TRUE(objects.insertNew(home.file("Templates/Letter.odt")));
    EXPECT_EQ(QFileInfo(openedPath).fileName(), "Letter.odt");
    EXPECT_EQ(readFile(openedPath), "template bytes");

    objects.forgetOpened();
    EXPECT_FALSE(QFile::exists(openedPath));

    // Without an object under the cursor the item is disabled.
    editor->Editor->moveCursor(QTextCursor::Start);
    objects.fillObjectMenu(&item);
    EXPECT_FALSE(item.isEnabled());
    EXPECT_FALSE(item.menu());
}

TEST_F(EditorTest, PrintedBodyHasItsTextAndPictures)
{
    if (QStandardPaths::findExecutable("pdftotext").isEmpty() || QStandardPaths::findExecutable("pdfimages").isEmpty())
        GTEST_SKIP() << "pdftotext and pdfimages (poppler-utils) are needed";
    type("Printed words");
    copyPicture(sticker(Qt::blue, false, 40));
    editor->tbPaste->trigger();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(home.file("out.pdf"));
    editor->PrintBody(printer);
    EXPECT_EQ(printer.docName(), "quorvel");

    QProcess text;
    text.start("pdftotext", {home.file("out.pdf"), "-"});
    ASSERT_TRUE(text.waitForFinished());
    EXPECT_TRUE(text.readAllStandardOutput().contains("Printed words"));
    EXPECT_EQ(pdfPictureSizes(home.file("out.pdf")), QStringList{"40x40"});
}

} // namespace
