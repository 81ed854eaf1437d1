#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "platform/Clock.h"
#include "platform/ScriptedPrompts.h"
#include "store/HeaderRecord.h"
#include "store/History.h"
#include "store/InboxDecoder.h"
#include "store/StorePaths.h"
#include "support/ArchiveContents.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

class InboxDecoder : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::setClockForTesting([] { return QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)); });
        inbox = home.file("app/inbox/");
        QDir().mkpath(inbox);
        writeFile(inbox + "placeholder/___.___", "placeholder");
        ZipFile(zip, inbox + "INBOX.hdr", inbox + "placeholder/___.___");
        QDir(inbox + "placeholder").removeRecursively();
        historyFile = home.file("app/quorvel.hst");
    }
    void TearDown() override { platform::setClockForTesting({}); }

    QString raw(const QString &uid, const QByteArray &content)
    {
        const QString path = inbox + "Msg" + uid + ".txt";
        writeFile(path, content);
        return path;
    }

    QStringList members(const QString &folderArchive)
    {
        return testsupport::memberNames(inbox + folderArchive);
    }

    QByteArray member(const QString &folderArchive, const QString &name)
    {
        return testsupport::memberData(zip, inbox + folderArchive, name, home.file("out"));
    }

    int decodeAll(const QStringList &files)
    {
        return DecodeAllMessages({zip, inbox, historyFile, newMail, history}, files);
    }

    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    TZipArchive zip;
    QString inbox, historyFile;
    QStringList newMail, history;
};

QByteArray message(const QByteArray &id, const QByteArray &subject, const QByteArray &extraPart = {})
{
    QByteArray m = "From: Bob <bob@example.test>\r\nSubject: " + subject
        + "\r\nMessage-ID: <" + id + ">\r\nContent-Type: multipart/mixed; boundary=\"B\"\r\n\r\n"
          "--B\r\nContent-Type: text/plain\r\n\r\nBody of " + subject + "\r\n";
    m += extraPart;
    m += "--B--\r\n";
    return m;
}

QByteArray attachmentPart(const QByteArray &name, const QByteArray &data)
{
    return "--B\r\nContent-Type: application/octet-stream; name=\"" + name
        + "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + data.toBase64() + "\r\n";
}

} // namespace

TEST_F(InboxDecoder, StoresABatchAndOnlyThenDeletesTheRawFiles)
{
    const QStringList files = {
        raw("u1", message("one@x", "First", attachmentPart("a.bin", "AAA"))),
        raw("u2", message("two@x", "Second")),
        raw("u3", message("three@x", "Third", attachmentPart("INBOX.hdr", "hostile"))),
    };
    EXPECT_EQ(decodeAll(files), 3);
    EXPECT_EQ(newMail, files);
    EXPECT_EQ(history, QStringList({"20261207 u1.txt", "20261207 u2.txt", "20261207 u3.txt"}));
    EXPECT_EQ(LoadHistory(historyFile), history);
    for (const QString &f : files)
        EXPECT_FALSE(QFile::exists(f)) << f.toStdString();

    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "one@x", "two@x", "three@x"}));
    EXPECT_EQ(members("INBOX.fdr"), QStringList({"one@x", "two@x", "three@x"}));
    EXPECT_EQ(members("INBOX.att"), QStringList({"a.bin", "INBOX.hdr"}));
    EXPECT_EQ(member("INBOX.fdr", "two@x"), "Body of Second\r\n");
    EXPECT_EQ(member("INBOX.att", "a.bin"), "AAA");

    const HeaderRecord rec = ParseHeaderRecord(member("INBOX.hdr", "three@x"));
    EXPECT_EQ(rec.status, "NEW");
    EXPECT_EQ(rec.subject, "Third");
    EXPECT_EQ(rec.from, "Bob <bob@example.test>");
    EXPECT_EQ(rec.attach, "1     INBOX.hdr;");

    // The attachment named like the header archive touched nothing of the store, and
    // no working copies are left.
    EXPECT_EQ(QDir(inbox).entryList(QDir::Files), QStringList({"INBOX.att", "INBOX.fdr", "INBOX.hdr"}));
    EXPECT_TRUE(QDir(inbox + ".quorvel-tmp").entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(InboxDecoder, TakenIdentifierGetsADistinctOneUnlessItIsTheSameMessage)
{
    decodeAll({raw("u1", message("same@x", "Old"))});
    // A different message reusing the Message-ID, in a later run and twice in one batch;
    // then the first message once more (a run cut short before QUIT fetches it again).
    decodeAll({raw("u2", message("same@x", "New"))});
    newMail.clear();
    const QString again = raw("u4", message("same@x", "Old"));
    EXPECT_EQ(decodeAll({raw("u3", message("same@x", "Third")), again,
                         raw("u5", message("same@x", "Third"))}), 3);
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "same@x", "same@x-2", "same@x-3"}));
    EXPECT_EQ(member("INBOX.fdr", "same@x"), "Body of Old\r\n");
    EXPECT_EQ(member("INBOX.fdr", "same@x-2"), "Body of New\r\n");
    EXPECT_EQ(member("INBOX.fdr", "same@x-3"), "Body of Third\r\n");
    // The copies already stored are neither new mail nor left behind.
    EXPECT_EQ(newMail, QStringList({inbox + "Msgu3.txt"}));
    EXPECT_FALSE(QFile::exists(again));
    EXPECT_EQ(history.size(), 5);
    EXPECT_EQ(DecodeMessage(zip, inbox, raw("u6", message("same@x", "New"))), "same@x-2");
}

TEST_F(InboxDecoder, LeftoverRawFilesAndStagingAreRecovered)
{
    // A run killed after fetching left raw files and half-staged copies behind.
    raw("old1", message("old1@x", "Old one"));
    raw("old2", message("old2@x", "Old two"));
    writeFile(inbox + ".quorvel-tmp/decode/0/files/junk", "half written");
    writeFile(inbox + "Other.txt", "not a raw message");
    const QStringList pending = PendingRawMessages(inbox);
    ASSERT_EQ(pending.size(), 2);
    EXPECT_EQ(decodeAll(pending), 2);
    EXPECT_EQ(members("INBOX.fdr"), QStringList({"old1@x", "old2@x"}));
    EXPECT_FALSE(QFile::exists(inbox + ".quorvel-tmp/decode"));
    EXPECT_TRUE(QFile::exists(inbox + "Other.txt"));
    EXPECT_TRUE(PendingRawMessages(inbox).isEmpty());
}

TEST_F(InboxDecoder, MessageWithoutMessageIdIsNamedByItsUniqueId)
{
    decodeAll({raw("AbC-17", "From: x@y\r\nSubject: no id\r\n\r\ntext\r\n")});
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "AbC-17"}));
    EXPECT_EQ(member("INBOX.fdr", "AbC-17"), "text\r\n");
    EXPECT_EQ(UniqueIdOfRawFile("/x/MsgAbC-17.txt"), "AbC-17");
}

namespace {
// Limits the size of files this process may write, for the failure paths.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }

private:
    rlimit old_;
};
} // namespace

TEST_F(InboxDecoder, OneBadMessageNeverBlocksTheOthers)
{
    // The decoder writes CR LF where the raw file has bare LF, so this body grows
    // past the limit when decoded while its raw text still fits. It is far larger
    // than the pieces the store keeps in memory, so it goes through a file.
    QByteArray lfBody = "Message-ID: <big@x>\nSubject: big\n\n";
    for (int i = 0; i < 30000; ++i)
        lfBody += "a\n";
    const QString good1 = raw("g1", message("g1@x", "Good one"));
    const QString bad = raw("bad", lfBody);
    const QString good2 = raw("g2", message("g2@x", "Good two"));
    {
        FileSizeLimit limit(lfBody.size() + 1000);
        EXPECT_EQ(decodeAll({good1, bad, good2}), 3);
    }
    EXPECT_EQ(prompts.texts(platform::PromptKind::Warning).size(), 1);
    EXPECT_TRUE(prompts.texts().value(0).contains("MsgBad.txt", Qt::CaseInsensitive));
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "g1@x", "bad", "g2@x"}));
    EXPECT_EQ(member("INBOX.fdr", "bad"), lfBody);
    EXPECT_EQ(ParseHeaderRecord(member("INBOX.hdr", "bad")).subject, "Message bad as it arrived");
    EXPECT_EQ(newMail.size(), 3);

    // A raw file that cannot even be read stays where it is for the next run.
    QDir().mkpath(inbox + "Msgdir.txt");
    prompts.clear();
    EXPECT_EQ(decodeAll({inbox + "Msgdir.txt", raw("g3", message("g3@x", "Good three"))}), 1);
    EXPECT_EQ(prompts.texts(platform::PromptKind::Warning).size(), 1);
    EXPECT_TRUE(prompts.texts().value(0).contains("tried again at the next fetch"));
    EXPECT_TRUE(QFileInfo(inbox + "Msgdir.txt").isDir());
    EXPECT_FALSE(history.contains("20261207 dir.txt"));
}

TEST_F(InboxDecoder, SingleMessageIntoTheInbox)
{
    const QString path = raw("s1", message("single@x", "Alone", attachmentPart("n.txt", "x")));
    EXPECT_EQ(DecodeMessage(zip, inbox, path), "single@x");
    EXPECT_TRUE(QFile::exists(path));   // the caller decides when the raw file goes
    EXPECT_EQ(members("INBOX.att"), QStringList({"n.txt"}));
}
