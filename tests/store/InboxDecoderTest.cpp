#include "StoreFixture.h"

#include "store/History.h"

#include <QRandomGenerator>

#include <csignal>
#include <sys/resource.h>

using InboxDecoder = StoreFixture;

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

// The messages come again as raw files or, kept on the server, held in memory.
TEST_F(InboxDecoder, ARunFetchingEverythingAgainStoresNothingTwice)
{
    QStringList first;
    QList<RawMessage> again;
    for (int i = 0; i < 20; ++i) {
        first << raw(QString("a%1").arg(i), message(QByteArray::number(i) + "@x", "S"));
        again << (i % 2 ? RawMessage::file(raw(QString("b%1").arg(i), message(QByteArray::number(i) + "@x", "S")))
                        : RawMessage::inMemory(inbox + QString("Msgb%1.txt").arg(i),
                                               message(QByteArray::number(i) + "@x", "S")));
    }
    decodeAll(first);
    newMail.clear();
    again << RawMessage::file(raw("c", message("19@x", "Other")));
    EXPECT_EQ(DecodeAllMessages({zip, inbox, historyFile, newMail, history}, again), 21);
    EXPECT_EQ(newMail, QStringList({inbox + "Msgc.txt"}));
    EXPECT_EQ(members("INBOX.hdr").size(), 22);
    EXPECT_EQ(member("INBOX.fdr", "19@x-2"), "Body of Other\r\n");
}

// Messages decoded ahead on the decoder's thread are stored as the others are; one
// that does not fit its memory keeps its text and is decoded as it is stored.
TEST_F(InboxDecoder, MessagesDecodedAheadAreStoredLikeTheOthers)
{
    const QByteArray big(100 * 1024, 'b');
    QList<RawMessage> messages = {
        RawMessage::inMemory(inbox + "Msgh1.txt", message("h1@x", "Held", attachmentPart("a.bin", "AAA"))),
        RawMessage::file(raw("f1", message("f1@x", "File"))),
        RawMessage::inMemory(inbox + "Msgh2.txt", message("h2@x", "Big", attachmentPart("big.bin", big))),
    };
    {
        MessagePredecoder ahead(64 * 1024, 9);
        for (const RawMessage &m : std::as_const(messages))
            ahead.post(m);
        ahead.attachTo(messages);
        EXPECT_EQ(ahead.takeDecodedHeld(), QStringList{inbox + "Msgh1.txt"});
    }
    EXPECT_TRUE(messages[0].decoded && messages[0].text.isEmpty());
    EXPECT_TRUE(messages[1].decoded);
    EXPECT_TRUE(!messages[2].decoded && !messages[2].text.isEmpty());

    EXPECT_EQ(DecodeAllMessages({zip, inbox, historyFile, newMail, history}, messages), 3);
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "h1@x", "f1@x", "h2@x"}));
    EXPECT_EQ(member("INBOX.fdr", "h1@x"), "Body of Held\r\n");
    EXPECT_EQ(member("INBOX.fdr", "f1@x"), "Body of File\r\n");
    EXPECT_EQ(member("INBOX.att", "a.bin"), "AAA");
    EXPECT_EQ(member("INBOX.att", "big.bin"), big);
    EXPECT_EQ(ParseHeaderRecord(member("INBOX.hdr", "h1@x")).attach, "1     a.bin;");
    EXPECT_EQ(history.size(), 3);
    EXPECT_FALSE(QFile::exists(inbox + "Msgf1.txt"));
}

// What the decoding thread compresses counts against its memory too: a message
// whose compressed pieces would overdraw it is left to be decoded as it is stored,
// and the next ones still find room.
TEST_F(InboxDecoder, DecodingAheadNeverOverdrawsItsMemory)
{
    QRandomGenerator random(7);
    auto noise = [&random](qsizetype size) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (char &c : bytes)
            c = char('a' + random.bounded(16));
        return bytes;
    };
    const QList<QByteArray> data = {noise(50 * 1024), noise(1024), noise(1024)};
    QList<RawMessage> messages;
    for (int i = 0; i < data.size(); ++i) {
        const QByteArray id = "n" + QByteArray::number(i);
        messages << RawMessage::inMemory(inbox + "Msg" + id + ".txt",
                                         message(id + "@x", "Noise", attachmentPart("a.bin", data[i])));
    }
    {
        MessagePredecoder ahead(64 * 1024, 9);
        // One at a time, so that each starts from what the last one left.
        for (RawMessage &m : messages) {
            QList<RawMessage> one = {m};
            ahead.post(m);
            ahead.attachTo(one);
            m = one[0];
        }
    }
    EXPECT_FALSE(messages[0].decoded);
    EXPECT_TRUE(messages[1].decoded && messages[2].decoded);
}

// A batch of many mails has its header records compressed on two threads: each
// record still lands under its own mail.
TEST_F(InboxDecoder, ManyMailsInOneBatchKeepTheirOwnRecords)
{
    QStringList files;
    for (int i = 0; i < 150; ++i)
        files << raw(QString("m%1").arg(i), message("m" + QByteArray::number(i) + "@x", "Mail " + QByteArray::number(i)));
    EXPECT_EQ(decodeAll(files), 150);
    const QStringList stored = members("INBOX.hdr");
    ASSERT_EQ(stored.size(), 151);
    for (int i = 0; i < 150; ++i) {
        EXPECT_EQ(stored[i + 1], QString("m%1@x").arg(i));
        EXPECT_EQ(ParseHeaderRecord(member("INBOX.hdr", stored[i + 1])).subject, "Mail " + QByteArray::number(i));
    }
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
    // than the pieces the store keeps in memory (a few MB), so it goes through a file.
    const QByteArray lfBody = "Message-ID: <big@x>\nSubject: big\n\n" + QByteArray("a\n").repeated(5'000'000);
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

namespace {
// What the sample generator put into mail n of python-inline-n.eml.
QByteArray samplePicture(int n)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    for (int i = 0, size = n == 2 ? 20000 : n == 1 ? 300 : 500; i < size; ++i)
        png += char((n * 7 + i) % 256);
    return png;
}
} // namespace

// Three mails as a common client sends them (an alternative part, an inline
// image001.png, signature.asc, an unnamed part), the third reusing the first's
// Message-ID: in one batch or one by one, each keeps its own members.
TEST_F(InboxDecoder, MailsWithTheSameNamesKeepTheirOwnMembers)
{
    for (const bool oneBatch : {true, false}) {
        SCOPED_TRACE(oneBatch ? "one batch" : "separate batches");
        QDir(inbox).removeRecursively();
        SetUp();
        QStringList files;
        for (int n = 1; n <= 3; ++n)
            files << raw(QString("u%1").arg(n), sample(QString("python-inline-%1.eml").arg(n)));
        if (oneBatch)
            EXPECT_EQ(decodeAll(files), 3);
        else
            for (const QString &f : files)
                EXPECT_EQ(decodeAll({f}), 1);

        const QStringList ids = {"list-1@example-test", "list-2@example-test", "list-1@example-test-2"};
        EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___"}) + ids);
        for (int n = 1; n <= 3; ++n) {
            const QString k = n == 1 ? "" : QString(" (%1)").arg(n);
            const auto mail = mailBytes("INBOX", ids[n - 1]);
            EXPECT_EQ(ParseHeaderRecord(mail["hdr"]).attach,
                      QString("4     part-2%1.html;image001%1.png;signature%1.asc;part-5%1;").arg(k).toUtf8());
            EXPECT_EQ(ParseHeaderRecord(mail["hdr"]).subject, "Picture " + QByteArray::number(n));
            EXPECT_TRUE(mail["fdr"].contains("Mail " + QByteArray::number(n) + " in plain"));
            EXPECT_TRUE(mail["att:part-2" + k + ".html"].contains("<p>Mail " + QByteArray::number(n) + " with"));
            EXPECT_EQ(mail["att:image001" + k + ".png"], samplePicture(n));
            EXPECT_TRUE(mail["att:signature" + k + ".asc"].contains("sig " + QByteArray::number(n)));
            EXPECT_EQ(mail["att:part-5" + k], QByteArray(40, char(n)));
        }
        EXPECT_EQ(members("INBOX.att").size(), 12);
    }
}

TEST_F(InboxDecoder, AQuorvelPackageWhoseNameIsTakenIsRenamedWithItsBody)
{
    QDir().mkpath(home.file("pkg"));
    writeFile(home.file("pkg/261207120000-bob@x-test.doc"), "{\\rtf1 body}");
    ZipFile(zip, home.file("pkg/261207120000-bob@x-test.m"), home.file("pkg/261207120000-bob@x-test.doc"));
    const QByteArray package = readFile(home.file("pkg/261207120000-bob@x-test.m"));
    auto own = [&](const QByteArray &id) {
        return "Message-ID: <" + id + ">\r\nContent-Type: multipart/mixed; boundary=\"B\"\r\n\r\n"
               "--B\r\nContent-Type: text/plain\r\n\r\n--=This is a quorvel\r\n\r\n"
            + attachmentPart("261207120000-bob@x-test.m", package) + "--B--\r\n";
    };
    decodeAll({raw("u1", own("a@x")), raw("u2", own("b@x")),
               raw("u3", message("c@x", "Odd name", attachmentPart(" a;b.png", "Z")))});
    // A name that would part the descriptor entry from its member is changed.
    const QStringList odd = DescriptorEntries(ParseHeaderRecord(member("INBOX.hdr", "c@x")).attach);
    ASSERT_EQ(odd.size(), 1);
    EXPECT_EQ(member("INBOX.att", odd[0]), "Z");
    EXPECT_EQ(ParseHeaderRecord(member("INBOX.hdr", "b@x")).attach, "1     261207120000-bob@x-test-2.m;");
    EXPECT_EQ(member("INBOX.att", "261207120000-bob@x-test.m"), package);
    const QString renamed = home.file("renamed.m");
    writeFile(renamed, member("INBOX.att", "261207120000-bob@x-test-2.m"));
    EXPECT_EQ(testsupport::memberNames(renamed), QStringList({"261207120000-bob@x-test-2.doc"}));
    EXPECT_EQ(testsupport::memberData(zip, renamed, "261207120000-bob@x-test-2.doc", home.file("o2")),
              "{\\rtf1 body}");
}
