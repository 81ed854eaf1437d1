#include "compose/MailWriter.h"
#include "PdfPictures.h"

#include "common/ArchiveOps.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/ScriptedPrompts.h"
#include "rtf/Rtf.h"
#include "rtf/RtfTestSupport.h"
#include "store/HeaderRecord.h"
#include "store/QueueFile.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "support/ArchiveContents.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QTextCursor>
#include <QTextDocument>
#include <gtest/gtest.h>

using platform::PromptKind;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const QDateTime kQueuedAt(QDate(1998, 12, 1), QTime(9, 30, 5));
const QString kName = "981201093005-carol@mail-example-test";

class MailWriterTest : public ::testing::Test {
protected:
    MailWriterTest()
    {
        state.SetAppPath(home.path() + "/quorvel");
        QDir().mkpath(state.InboxDir);
        QDir().mkpath(state.OutboxDir);
        state.EmailAddress = "carol@mail.example.test";
        state.KeepCopy = "Yes";
        platform::setClockForTesting([] { return kQueuedAt; });
        QTextCursor cursor(&body);
        cursor.insertText("Hello Dave");
        rtf::insertPicture(cursor, sticker);
    }
    ~MailWriterTest() override { platform::setClockForTesting({}); }

    QString outbox(const QString &file) const { return state.OutboxDir + file; }
    QString queueFile() const { return QueueFilePath(state.OutboxDir); }
    QStringList outboxFiles() const
    {
        return QDir(state.OutboxDir).entryList(QDir::Files, QDir::Name);
    }
    OutgoingMail mail(const QStringList &attachments = {}) const
    {
        return {writer.FreshMailName(), {"dave@example.test", "erin@example.test"}, "Lunch",
                attachments, false};
    }
    // The body of package `packagePath`, read back through the codec.
    QString packagedText(const QString &packagePath, const QString &member)
    {
        QTextDocument doc;
        EXPECT_TRUE(rtf::readRtf(testsupport::memberData(state.ZipArchive1, packagePath, member,
                                                         home.file("scratch")),
                                 doc)
                        .ok);
        return doc.toPlainText();
    }

    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    ControlCentreState state;
    MailWriter writer{state};
    const QByteArray sticker = rtftest::sticker(Qt::red, false, 8);
    QTextDocument body;
};

TEST_F(MailWriterTest, QueueLeavesHeaderAndPackageTheLineAndTheSentCopy)
{
    const QStringList files{home.file("docs/a.txt"), home.file("docs/b b.jpg")};
    writer.Queue(mail(files), true, body);

    EXPECT_EQ(readFile(queueFile()), (kName + "=" + files[0] + ";" + files[1] + ";\r\n").toUtf8());
    EXPECT_EQ(outboxFiles(), (QStringList{kName + ".hdr", kName + ".m", "quorvel.que"}));
    EXPECT_EQ(readFile(outbox(kName + ".hdr")),
              "SUBJECT\r\nLunch\r\nRECEIPT\r\ndave@example.test\r\nerin@example.test\r\n");
    EXPECT_EQ(testsupport::memberNames(outbox(kName + ".m")), QStringList{kName + ".doc"});
    EXPECT_EQ(packagedText(outbox(kName + ".m"), kName + ".doc"), "Hello Dave\uFFFC");

    HeaderRecord record;
    ASSERT_TRUE(ReadHeaderRecord(state.ZipArchive1, state.InboxDir, "SENT", kName, record));
    EXPECT_EQ(record.mailType, "quorvel");
    EXPECT_EQ(record.status, "NEW");
    EXPECT_EQ(record.date, "19981201");
    EXPECT_EQ(record.from, "dave@example.test;erin@example.test;");
    EXPECT_EQ(record.subject, "Lunch");
    EXPECT_EQ(record.attach, ("1     " + kName + ".m;" + files[0] + ";" + files[1] + ";").toUtf8());
    EXPECT_EQ(testsupport::memberNames(AttachmentArchivePath(state.InboxDir, "SENT")),
              QStringList{kName + ".m"});
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(MailWriterTest, OtherMailKeepsTheDocumentAndKeepCopyDecidesTheSentArchives)
{
    OutgoingMail other = mail();
    other.otherMail = true;
    other.subject.clear();
    writer.Queue(other, true, body);
    EXPECT_EQ(outboxFiles(), (QStringList{kName + ".doc", kName + ".hdr", "quorvel.que"}));
    EXPECT_TRUE(readFile(outbox(kName + ".hdr")).startsWith("SUBJECT\r\n\r\nRECEIPT\r\n"));
    // The SENT copy still keeps the package.
    EXPECT_EQ(testsupport::memberNames(AttachmentArchivePath(state.InboxDir, "SENT")),
              QStringList{kName + ".m"});

    // Any KeepCopy other than "Yes" leaves the SENT archives alone.
    state.KeepCopy = "yes";
    const QByteArray sentHeaders = readFile(HeaderArchivePath(state.InboxDir, "SENT"));
    writer.Queue(mail(), true, body);
    EXPECT_EQ(readFile(HeaderArchivePath(state.InboxDir, "SENT")), sentHeaders);
    EXPECT_EQ(testsupport::memberNames(AttachmentArchivePath(state.InboxDir, "SENT")).size(), 1);
}

TEST_F(MailWriterTest, DocumentForOtherMailProgramsOpensInLibreOfficeWithItsPicture)
{
    const QString soffice = QStandardPaths::findExecutable("soffice");
    if (soffice.isEmpty() || QStandardPaths::findExecutable("pdfimages").isEmpty())
        GTEST_SKIP() << "LibreOffice and pdfimages are needed; scripts/install-deps installs them";
    OutgoingMail other = mail();
    other.otherMail = true;
    writer.Queue(other, true, body);
    QProcess convert;
    convert.start(soffice, {"-env:UserInstallation=" + QUrl::fromLocalFile(home.file("profile")).toString(),
                            "--headless", "--norestore", "--convert-to", "pdf", "--outdir", home.file("pdf"),
                            outbox(kName + ".doc")});
    ASSERT_TRUE(convert.waitForFinished(120000));
    EXPECT_EQ(pdfPictureSizes(home.file("pdf/" + kName + ".pdf")), QStringList{"8x8"});
}

TEST_F(MailWriterTest, MailsNamedInOneSecondNeverShareFiles)
{
    // An address with two dots in its domain: no "." is left in the name.
    EXPECT_EQ(writer.FreshMailName(), kName);
    writer.Queue(mail(), true, body);
    // The same second again: the next free second.
    const QString second = writer.FreshMailName();
    EXPECT_EQ(second, "981201093006-carol@mail-example-test");
    writer.Queue(mail(), true, body);
    EXPECT_EQ(LoadQueue(queueFile()), (QStringList{kName, second}));
    // Queued again under its own name (opened from its package): still one line.
    writer.Queue({kName, {"dave@example.test"}, "again", {"/tmp/x.txt"}, false}, true, body);
    EXPECT_EQ(LoadQueue(queueFile()), (QStringList{kName + "=/tmp/x.txt;", second}));
    EXPECT_EQ(packagedText(outbox(kName + ".m"), kName + ".doc"), "Hello Dave\uFFFC");

    // A queue line alone (its files posted or lost) also holds its name, and a saved
    // mail that was never queued holds it by its files.
    QFile::remove(outbox(kName + ".hdr"));
    QFile::remove(outbox(kName + ".m"));
    EXPECT_TRUE(writer.NameInUse(kName));
    SaveQueue(queueFile(), {});
    EXPECT_FALSE(writer.NameInUse(kName));
    EXPECT_TRUE(writer.NameInUse(second));
}

TEST_F(MailWriterTest, FailuresStopBeforeTheQueueLine)
{
    // A path the queue line cannot carry is refused before anything is written.
    for (const QString &bad : {home.file("a;b.txt"), home.file("x=y/c.txt")}) {
        try {
            writer.Queue(mail({home.file("fine.txt"), bad}), true, body);
            ADD_FAILURE() << "queued " << bad.toStdString();
        } catch (const platform::Error &e) {
            EXPECT_EQ(e.message(), MailWriter::AttachmentPathProblem(bad));
            EXPECT_TRUE(e.message().contains(bad));
        }
        EXPECT_TRUE(outboxFiles().isEmpty());
    }
    EXPECT_TRUE(MailWriter::AttachmentPathProblem(home.file("plain file.txt")).isEmpty());

    // An outbox that cannot be written: the error names the file, no line is queued.
    SaveQueue(queueFile(), {"earlier"});
    QDir(state.OutboxDir).mkdir(kName + ".doc");   // the body file cannot be created
    EXPECT_THROW(writer.Queue({kName, {"dave@example.test"}, "s", {}, false}, true, body),
                 platform::Error);
    EXPECT_EQ(LoadQueue(queueFile()), QStringList{"earlier"});
    EXPECT_TRUE(QFile::exists(outbox(kName + ".hdr")));
    EXPECT_FALSE(QFile::exists(outbox(kName + ".m")));
}

TEST_F(MailWriterTest, OpenedPackageGivesBackTextPictureAndEmbeddedFile)
{
    QTextCursor cursor(&body);
    cursor.movePosition(QTextCursor::End);
    ASSERT_TRUE(rtf::insertFile(cursor, "plan.ods", "application/octet-stream", "sheet bytes"));
    writer.Queue(mail(), true, body);
    // A document of the same name waiting in the outbox is neither read nor deleted.
    ASSERT_TRUE(writeFile(outbox(kName + ".doc"), "{\\rtf1 queued}"));

    QTextDocument opened;
    EXPECT_EQ(writer.PerformFileOpen(outbox(kName + ".m"), opened), kName);
    EXPECT_EQ(readFile(outbox(kName + ".doc")), "{\\rtf1 queued}");
    EXPECT_EQ(opened.toPlainText(), "Hello Dave\uFFFC\uFFFC");
    const auto items = rtftest::items(opened);
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].bytes, sticker);
    EXPECT_EQ(items[1].name, "plan.ods");
    EXPECT_EQ(items[1].bytes, "sheet bytes");
    EXPECT_TRUE(QDir(state.OutboxDir + ".quorvel-tmp").entryList(QDir::Files).isEmpty());

    // A package without its body member, and a body that is not RTF: an error, and the
    // document keeps what it had.
    const QString stranger = home.file("other/stranger.m");
    ASSERT_TRUE(writeFile(home.file("other/x.doc"), "not rtf at all"));
    ZipFile(state.ZipArchive1, stranger, home.file("other/x.doc"));
    EXPECT_THROW(writer.PerformFileOpen(stranger, opened), platform::Error);
    ASSERT_TRUE(writeFile(home.file("other/x.doc"), "not rtf at all"));
    ZipFile(state.ZipArchive1, home.file("other/x.m"), home.file("other/x.doc"));
    EXPECT_THROW(writer.PerformFileOpen(home.file("other/x.m"), opened), platform::Error);
    EXPECT_EQ(opened.toPlainText(), "Hello Dave\uFFFC\uFFFC");
}

TEST_F(MailWriterTest, AttachmentMissingFromItsFolderIsAnError)
{
    ASSERT_TRUE(writeFile(home.file("in/report.pdf"), "attachment"));
    ZipFile(state.ZipArchive1, AttachmentArchivePath(state.InboxDir, "READ"), home.file("in/report.pdf"));
    EXPECT_THROW(writer.SaveAttachment("READ", "gone.pdf", home.file("saved/gone.pdf")), platform::Error);
    EXPECT_FALSE(QFile::exists(home.file("saved/gone.pdf")));
}

} // namespace
