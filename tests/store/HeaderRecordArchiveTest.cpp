#include "store/HeaderRecord.h"

#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "platform/Error.h"
#include "platform/ScriptedPrompts.h"
#include "support/ArchiveContents.h"
#include "support/TempHome.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

class HeaderRecordArchiveTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(inbox)); }

    QStringList members(const QString &archive) { return testsupport::memberNames(archive); }
    QStringList inboxFiles() const
    {
        return QDir(inbox).entryList(QDir::Files, QDir::Name);
    }
    QStringList workFiles() const
    {
        return QDir(inbox + ".quorvel-tmp").entryList(QDir::Files | QDir::Hidden);
    }
    bool write(const QString &folder, const QString &id, const QByteArray &status,
               const QByteArray &subject)
    {
        return WriteHeaderRecord(zip, inbox, folder, id, "20241206", true, status,
                                 "1     " + id.toUtf8() + ".m;", "", subject, "a@x.org;");
    }

    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    TZipArchive zip;
    const QString inbox = home.file("quorvel/inbox/");
};

TEST_F(HeaderRecordArchiveTest, WriteAddsOrReplacesTheRecordAndLeavesNoCopy)
{
    ASSERT_TRUE(write("SENT", "981201093005-a@x-org", "NEW", "First"));
    ASSERT_TRUE(write("SENT", "981201093005-a@x-org", "READ", "Second"));
    EXPECT_EQ(members(inbox + "SENT.hdr"), QStringList({"981201093005-a@x-org"}));
    EXPECT_EQ(inboxFiles(), QStringList({"SENT.hdr"}));
    EXPECT_TRUE(workFiles().isEmpty());

    HeaderRecord r;
    ASSERT_TRUE(ReadHeaderRecord(zip, inbox, "sent", "981201093005-a@x-org", r));
    EXPECT_EQ(r.status, "READ");
    EXPECT_EQ(r.subject, "Second");
    EXPECT_TRUE(r.ownMail());
    EXPECT_EQ(r.attach, "1     981201093005-a@x-org.m;");
    EXPECT_TRUE(workFiles().isEmpty());
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(HeaderRecordArchiveTest, ArchiveIsFoundWithoutRegardToCase)
{
    // setup creates "inbox.hdr"; the program asks for "INBOX".
    ASSERT_TRUE(write("inbox", "first", "NEW", "x"));
    ASSERT_TRUE(write("INBOX", "second", "NEW", "y"));
    EXPECT_EQ(inboxFiles(), QStringList({"inbox.hdr"}));
    EXPECT_EQ(members(inbox + "inbox.hdr"), QStringList({"first", "second"}));
}

TEST_F(HeaderRecordArchiveTest, RecordNamedLikeAStoreFileCannotTouchIt)
{
    ASSERT_TRUE(write("INBOX", "keep", "NEW", "x"));
    const QByteArray before = testsupport::readFile(inbox + "INBOX.hdr");
    // The copy is made in the private working directory, not beside the archive.
    ASSERT_TRUE(write("READ", "INBOX.hdr", "NEW", "y"));
    EXPECT_EQ(testsupport::readFile(inbox + "INBOX.hdr"), before);
    EXPECT_EQ(members(inbox + "READ.hdr"), QStringList({"INBOX.hdr"}));
    HeaderRecord r;
    ASSERT_TRUE(ReadHeaderRecord(zip, inbox, "READ", "INBOX.hdr", r));
    EXPECT_EQ(r.subject, "y");
    EXPECT_EQ(testsupport::readFile(inbox + "INBOX.hdr"), before);
}

TEST_F(HeaderRecordArchiveTest, UnsafeIdentifierStaysInsideTheArchive)
{
    ASSERT_TRUE(write("INBOX", "../../escape", "NEW", "x"));
    EXPECT_EQ(members(inbox + "INBOX.hdr"), QStringList({".._.._escape"}));
    EXPECT_FALSE(QFile::exists(home.file("escape")));
    EXPECT_FALSE(QFile::exists(home.file("quorvel/escape")));
    // An unsafe name is never looked up as a member.
    HeaderRecord r;
    EXPECT_FALSE(ReadHeaderRecord(zip, inbox, "INBOX", "../../escape", r));
}

TEST_F(HeaderRecordArchiveTest, WriteFailuresRaise)
{
    EXPECT_THROW(write("INBOX", "", "NEW", "x"), platform::Error);
    // An inbox path that names a file leaves nowhere to make the copy.
    ASSERT_TRUE(testsupport::writeFile(home.file("afile"), "x"));
    EXPECT_THROW(WriteHeaderRecord(zip, home.file("afile/"), "INBOX", "id", "", false, "NEW",
                                   "0     ", "", "", ""),
                 platform::Error);
    EXPECT_FALSE(QFile::exists(inbox + "INBOX.hdr"));
}

TEST_F(HeaderRecordArchiveTest, ReadingAStaleCopyIsImpossible)
{
    ASSERT_TRUE(write("INBOX", "id", "NEW", "fresh"));
    ASSERT_TRUE(testsupport::writeFile(inbox + ".quorvel-tmp/id", "SUBJECT:stale\r\n"));
    HeaderRecord r;
    ASSERT_TRUE(ReadHeaderRecord(zip, inbox, "INBOX", "id", r));
    EXPECT_EQ(r.subject, "fresh");
}

TEST_F(HeaderRecordArchiveTest, ReadingFromAMissingArchiveOrMember)
{
    HeaderRecord r;
    EXPECT_FALSE(ReadHeaderRecord(zip, inbox, "READ", "id", r));
    EXPECT_EQ(prompts.texts(platform::PromptKind::Information),
              QStringList({"File " + inbox + "READ.hdr is missing"}));
    ASSERT_TRUE(write("READ", "other", "NEW", "x"));
    EXPECT_FALSE(ReadHeaderRecord(zip, inbox, "READ", "id", r));
    EXPECT_TRUE(workFiles().isEmpty());
}

} // namespace
