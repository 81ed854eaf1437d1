// A mail composed in the real editor window travels through the real Postfix and
// Dovecot (started by the test run, scripts/mailservers/start) and opens again from
// the fetched package with the same body, a sticker from the strip included. Skipped without the QUORVEL_TEST_*
// variables; a server that does not answer is a failure.
#include "common/ArchiveOps.h"
#include "common/Settings.h"
#include "common/ZipWriter.h"
#include "compose/Editor.h"
#include "platform/Paths.h"
#include "platform/ScriptedPrompts.h"
#include "rtf/Rtf.h"
#include "rtf/RtfTestSupport.h"
#include "store/HeaderRecord.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "support/ArchiveContents.h"
#include "support/RealServers.h"
#include "support/TempHome.h"
#include "transfer/GetMail.h"
#include "transfer/SendMail.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

// The mailbox of the fetch tests, under their lock.
const QString kUser = "erin";

TEST(EditorRealServers, AComposedMailIsPostedFetchedAndOpensWithItsBody)
{
    testsupport::ServerLock lock;
    testsupport::RequireRealServers(lock, "fetch-tests");
    if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure())
        return;
    testsupport::clearMailbox(kUser);
    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    ControlCentreState state;
    state.SetAppPath(home.path() + "/quorvel");
    QDir().mkpath(state.InboxDir);
    QDir().mkpath(state.OutboxDir);
    const QString seed = platform::workDir(state.InboxDir) + kPlaceholderMember;
    ASSERT_TRUE(writeFile(seed, "placeholder"));
    ZipFile(state.ZipArchive1, state.InboxHeaderArchive(), seed);
    WriteIniString("POSTOFFICE", "Host", qEnvironmentVariable("QUORVEL_TEST_POP3_HOST"));
    WriteIniString("POSTOFFICE", "Port", qEnvironmentVariable("QUORVEL_TEST_POP3_PORT"));
    WriteIniString("POSTOFFICE", "UserName", kUser);
    WriteIniString("POSTOFFICE", "Password", state.te.EncryptText(kUser + "-secret"));
    state.UserName = "Erin Example";
    state.EmailAddress = testsupport::mailAddress(kUser);
    state.MailServer = qEnvironmentVariable("QUORVEL_TEST_SMTP_HOST");
    state.SMTPport = qEnvironmentVariable("QUORVEL_TEST_SMTP_PORT");
    state.KeepCopy = "Yes";
    state.KeepMailInServer = "No";

    // The strip shows a collection that ships with quorvel when the build drew them,
    // else one made here of a single BMP sticker.
    const QString collection = CollectionArchivePath(StickerDir(state.AppPath), "faces");
    QDir().mkpath(StickerDir(state.AppPath));
#ifdef QUORVEL_STICKER_BUILD_DIR
    ASSERT_TRUE(QFile::copy(QStringLiteral(QUORVEL_STICKER_BUILD_DIR "/faces.zip"), collection));
#else
    QByteArray made;
    QBuffer bmpBuffer(&made);
    bmpBuffer.open(QIODevice::WriteOnly);
    QImage::fromData(rtftest::sticker(Qt::darkGreen, false)).save(&bmpBuffer, "BMP");
    zipwrite::addMembers(collection, {zipwrite::MemberSource::bytes("smile.bmp", made)}, 9);
#endif
    const QString firstSticker = testsupport::memberNames(collection).value(0);
    const QByteArray bmp = testsupport::memberData(state.ZipArchive1, collection, firstSticker,
                                                   home.file("first-sticker"));
    ASSERT_FALSE(bmp.isEmpty());

    // Composed in the window: typing, a bold word, a pasted picture, an embedded
    // file, a sticker from the strip, two attachments.
    TfrmEditor editor(state);
    editor.SourceFolder = "SENT";
    editor.Editable = true;
    editor.ToggleQueue(true);
    editor.show();
    editor.New1Click();
    const QString name = editor.MailName;
    editor.AddRecipient(state.EmailAddress);
    editor.findChild<QLineEdit *>("edSubject")->setText("From the editor");
    QTest::keyClicks(editor.Editor, "See ");
    auto *bold = editor.findChild<QToolButton *>("tbBold");
    bold->click();
    QTest::keyClicks(editor.Editor, "this");
    bold->click();
    const QByteArray picture = rtftest::sticker(Qt::magenta, true);
    auto *data = new QMimeData;
    data->setData("image/png", picture);
    QApplication::clipboard()->setMimeData(data);
    editor.tbPaste->trigger();
    ASSERT_TRUE(writeFile(home.file("docs/plan.ods"), "sheet bytes"));
    data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(home.file("docs/plan.ods"))});
    QApplication::clipboard()->setMimeData(data);
    editor.tbPaste->trigger();
    QTest::mousePress(editor.findChild<QWidget *>("Sticker1"), Qt::RightButton);
    for (const char *file : {"docs/a.txt", "docs/b.txt"}) {
        ASSERT_TRUE(writeFile(home.file(file), file));
        prompts.answerPath(home.file(file));
        editor.tbAttach->trigger();
    }
    // What the body is after one pass through the codec (pixel sizes become points).
    QTextDocument sent;
    rtf::readRtf(rtf::writeRtf(*editor.Editor->document()), sent);
    ASSERT_EQ(rtftest::items(sent).size(), 3);
    const QByteArray sticker = rtftest::items(sent)[2].bytes;
    EXPECT_TRUE(sticker.startsWith("\x89PNG"));
    EXPECT_EQ(QImage::fromData(sticker).convertToFormat(QImage::Format_ARGB32),
              QImage::fromData(bmp).convertToFormat(QImage::Format_ARGB32));
    editor.tbQueue->trigger();
    ASSERT_FALSE(editor.isVisible());
    ASSERT_TRUE(prompts.unanswered.isEmpty()) << prompts.unanswered.join('|').toStdString();

    TfrmSendMail send(state);
    send.bnSendClick();
    send.RemoveSentMailFromQueue();
    ASSERT_EQ(testsupport::waitForMessages(kUser, 1).size(), 1);
    TfrmGetMail get(state);
    state.NewMailList.clear();
    get.GetAllButtonClick();
    ASSERT_EQ(state.NewMailList.size(), 1) << prompts.texts().join('|').toStdString();

    const QString fetched = home.file("fetched/");
    QDir().mkpath(fetched);
    ExtractFile(state.ZipArchive1, AttachmentArchivePath(state.InboxDir, "INBOX"), name + ".m", fetched);
    EXPECT_EQ(testsupport::memberNames(AttachmentArchivePath(state.InboxDir, "INBOX")),
              (QStringList{name + ".m", "a.txt", "b.txt"}));

    editor.New1Click();
    editor.PerformFileOpen(fetched + name + ".m");
    EXPECT_EQ(rtftest::describe(*editor.Editor->document()), rtftest::describe(sent));
    EXPECT_EQ(rtftest::items(sent)[0].bytes, picture);
    EXPECT_EQ(rtftest::items(*editor.Editor->document())[2].bytes, sticker);
}

} // namespace
