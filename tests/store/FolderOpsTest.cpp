#include "StoreFixture.h"

#include "platform/Error.h"
#include "store/FolderOps.h"

#include <QDirIterator>
#include <QRegularExpression>

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class FolderOps : public StoreFixture {
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        for (const char *folder : {"READ", "SENT"}) {
            writeFile(inbox + "p/___.___", "placeholder");
            ZipFile(zip, inbox + folder + ".hdr", inbox + "p/___.___");
        }
        QDir(inbox + "p").removeRecursively();
    }
    void decodeSample(int n)
    {
        decodeAll({raw(QString("u%1").arg(n), sample(QString("python-inline-%1.eml").arg(n)))});
    }
    // Adds `file` (under its name) with `data` to `archive`.
    void addMember(const QString &archive, const QString &name, const QByteArray &data)
    {
        writeFile(home.file("m/") + name, data);
        ZipFile(zip, inbox + archive, home.file("m/") + name);
        QDir(home.file("m")).removeRecursively();
    }
    // INBOX and READ as a fresh installation has them.
    void startAfresh()
    {
        for (const char *archive : {"INBOX.hdr", "INBOX.fdr", "INBOX.att", "READ.hdr", "READ.fdr", "READ.att"})
            QFile::remove(inbox + archive);
        SetUp();
    }
};

} // namespace

TEST_F(FolderOps, TrashAndMoveLeaveEveryOtherMailWhole)
{
    decodeSample(1);
    EXPECT_EQ(moveMail(zip, inbox, "INBOX", "READ", "list-1@example-test"), "list-1@example-test");
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___"}));
    EXPECT_TRUE(members("INBOX.att").isEmpty());
    const auto first = mailBytes("READ", "list-1@example-test");
    EXPECT_EQ(first.size(), 6);

    // Another mail with the first one's Message-ID and attachment names arrives and is
    // filed next to it: its identifier and members are taken there.
    decodeSample(3);
    decodeSample(2);
    const auto third = mailBytes("INBOX", "list-1@example-test");
    const auto second = mailBytes("INBOX", "list-2@example-test");
    EXPECT_EQ(moveMail(zip, inbox, "inbox", "READ", "list-1@example-test"), "list-1@example-test-2");
    EXPECT_EQ(mailBytes("READ", "list-1@example-test"), first);
    EXPECT_EQ(mailBytes("INBOX", "list-2@example-test"), second);
    const auto moved = mailBytes("READ", "list-1@example-test-2");
    EXPECT_EQ(ParseHeaderRecord(moved["hdr"]).attach,
              "4     part-2 (2).html;image001 (2).png;signature (2).asc;part-5 (2);");
    EXPECT_EQ(moved["att:image001 (2).png"], third["att:image001.png"]);
    EXPECT_EQ(moved["att:part-5 (2)"], third["att:part-5"]);
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "list-2@example-test"}));
    EXPECT_EQ(members("INBOX.att").size(), 4);

    // The first message once more: filing it only takes it out of INBOX.
    decodeSample(1);
    EXPECT_EQ(moveMail(zip, inbox, "INBOX", "READ", "list-1@example-test"), "list-1@example-test");
    EXPECT_EQ(members("READ.hdr").size(), 3);
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "list-2@example-test"}));

    EXPECT_TRUE(deleteMail(zip, inbox, "READ", "list-1@example-test"));
    EXPECT_EQ(mailBytes("READ", "list-1@example-test-2"), moved);
    EXPECT_EQ(members("READ.att").size(), 4);
    EXPECT_EQ(members("READ.hdr"), QStringList({"___.___", "list-1@example-test-2"}));
    EXPECT_FALSE(deleteMail(zip, inbox, "READ", "list-1@example-test"));
    EXPECT_EQ(moveMail(zip, inbox, "INBOX", "READ", "absent"), "");
    EXPECT_TRUE(prompts.texts(platform::PromptKind::Warning).isEmpty());
}

// A store written before names were kept apart: two mails name one member.
TEST_F(FolderOps, AMemberTwoOldMailsShareStaysWithTheOther)
{
    addMember("READ.att", "shared.png", "picture");
    for (const char *id : {"old1", "old2"})
        WriteHeaderRecord(zip, inbox, "READ", id, "Fri", false, "READ", "1     shared.png;", "\r\nX: 1",
                          id, "a@b");
    EXPECT_EQ(moveMail(zip, inbox, "READ", "INBOX", "old1"), "old1");
    EXPECT_EQ(member("INBOX.att", "shared.png"), "picture");
    EXPECT_EQ(member("READ.att", "shared.png"), "picture");
    EXPECT_TRUE(deleteMail(zip, inbox, "READ", "old2"));
    EXPECT_TRUE(members("READ.att").isEmpty());
    EXPECT_TRUE(deleteMail(zip, inbox, "INBOX", "old1"));
    EXPECT_TRUE(members("INBOX.att").isEmpty());
}

TEST_F(FolderOps, FilingASentCopyRenamesItsPackageWhereTheNameIsTaken)
{
    writeFile(home.file("pkg/N1.doc"), "{\\rtf1 sent body}");
    ZipFile(zip, home.file("pkg/N1.m"), home.file("pkg/N1.doc"));
    const QByteArray package = readFile(home.file("pkg/N1.m"));
    addMember("SENT.att", "N1.m", package);
    addMember("READ.att", "N1.m", "another mail's package");
    const QByteArray descriptor = "1     N1.m;/home/u/report.pdf;";
    WriteHeaderRecord(zip, inbox, "SENT", "N1", "20261207", true, "NEW", descriptor, {}, "Hi", "c@d;");
    WriteHeaderRecord(zip, inbox, "READ", "N1", "20261207", true, "NEW", "1     N1.m;", {}, "Hi", "c@d;");

    const QByteArray sent = member("SENT.hdr", "N1");
    EXPECT_EQ(moveMail(zip, inbox, "SENT", "READ", "N1"), "N1-2");
    EXPECT_EQ(member("READ.hdr", "N1-2"), QByteArray(sent).replace("ATTACH:1     N1.m;", "ATTACH:1     N1-2.m;"));
    // SENT copies have no body archive, which the move reports and goes on.
    EXPECT_EQ(prompts.texts(platform::PromptKind::Information).value(0), "File " + inbox + "SENT.fdr is missing");
    const HeaderRecord moved = ParseHeaderRecord(member("READ.hdr", "N1-2"));
    EXPECT_EQ(moved.attach, "1     N1-2.m;/home/u/report.pdf;");
    EXPECT_EQ(moved.subject, "Hi");
    EXPECT_EQ(member("READ.att", "N1.m"), "another mail's package");
    writeFile(home.file("moved.m"), member("READ.att", "N1-2.m"));
    EXPECT_EQ(testsupport::memberData(zip, home.file("moved.m"), "N1-2.doc", home.file("o")),
              "{\\rtf1 sent body}");
    EXPECT_EQ(members("SENT.hdr"), QStringList({"___.___"}));
    EXPECT_TRUE(members("SENT.att").isEmpty());
}

namespace {

// Every file below the inbox other than the folders' archives and their journals:
// what an operation left behind.
QStringList strayFiles(const QString &inbox)
{
    QStringList out;
    const QRegularExpression own(R"(^\.?\w+\.(hdr|fdr|att)(\.qvjournal)?$)");
    for (QDirIterator it(inbox, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        if (const QString rel = QDir(inbox).relativeFilePath(it.next()); !own.match(rel).hasMatch())
            out << rel;
    }
    return out;
}

} // namespace

TEST_F(FolderOps, ListingAndOpeningReadWhatIsStoredAndLeaveNoFiles)
{
    decodeAll({raw("a", message("one@x", "=?UTF-8?B?R3LDvMOfZQ==?=", attachmentPart("a.txt", "A"))),
               raw("b", message("two@x", "Plain"))});
    EXPECT_TRUE(strayFiles(inbox).isEmpty()) << strayFiles(inbox).join(' ').toStdString();
    const QList<FolderMail> mails = ListFolder(inbox, "inbox");
    ASSERT_EQ(mails.size(), 2);
    EXPECT_EQ(mails[0].mailId, "one@x");
    EXPECT_EQ(DisplayText(mails[0].record.subject), QString::fromUtf8("Grüße"));

    const auto view = ReadMail(zip, inbox, "INBOX", "one@x", OpenMode::View);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->recipients, QStringList({"Bob <bob@example.test>"}));
    EXPECT_EQ(view->subject, QString::fromUtf8("Grüße"));
    EXPECT_EQ(view->attachments, QStringList({"a.txt"}));
    EXPECT_FALSE(view->richText);
    EXPECT_TRUE(view->body.startsWith("Body of")) << view->body.toStdString();
    EXPECT_EQ(ReadMail(zip, inbox, "INBOX", "one@x", OpenMode::Reply)->recipients, QStringList({"bob@example.test"}));
    const auto forward = ReadMail(zip, inbox, "INBOX", "two@x", OpenMode::Forward);
    EXPECT_TRUE(forward->recipients.isEmpty());
    EXPECT_EQ(forward->subject, "FW:Plain");
    EXPECT_FALSE(ReadMail(zip, inbox, "INBOX", "absent", OpenMode::View));
    EXPECT_TRUE(strayFiles(inbox).isEmpty()) << strayFiles(inbox).join(' ').toStdString();

    EXPECT_TRUE(ListFolder(inbox, "NOPE").isEmpty());
    EXPECT_EQ(prompts.texts(platform::PromptKind::Information),
              QStringList({"File " + inbox + "NOPE.hdr is missing"}));
}

TEST_F(FolderOps, AQuorvelMailOpensItsPackageBodyAndHostileNamesReadNothing)
{
    writeFile(home.file("pkg/N1.doc"), "{\\rtf1 sent body}");
    ZipFile(zip, home.file("pkg/N1.m"), home.file("pkg/N1.doc"));
    addMember("SENT.att", "N1.m", readFile(home.file("pkg/N1.m")));
    WriteHeaderRecord(zip, inbox, "SENT", "N1", "20261207", true, "NEW", "1     N1.m;/home/u/r.pdf;", {},
                      "Hi", "c@d;");
    const auto mail = ReadMail(zip, inbox, "SENT", "N1", OpenMode::View);
    ASSERT_TRUE(mail);
    EXPECT_TRUE(mail->richText);
    EXPECT_EQ(mail->body, "{\\rtf1 sent body}");
    EXPECT_EQ(mail->attachments, QStringList({"/home/u/r.pdf"}));
    EXPECT_EQ(mail->recipients, QStringList({"c@d;"}));

    // A package named to climb out of the inbox, and a member named like the store's
    // own archive: neither is written anywhere but the private directory.
    addMember("SENT.att", "INBOX.hdr", readFile(home.file("pkg/N1.m")));
    WriteHeaderRecord(zip, inbox, "SENT", "N2", "20261207", true, "NEW", "1     ../../N1.m;", {}, "x", "y");
    WriteHeaderRecord(zip, inbox, "SENT", "N3", "20261207", true, "NEW", "1     INBOX.hdr;", {}, "x", "y");
    const QByteArray inboxArchive = readFile(inbox + "INBOX.hdr");
    EXPECT_TRUE(ReadMail(zip, inbox, "SENT", "N2", OpenMode::View)->body.isEmpty());
    EXPECT_TRUE(ReadMail(zip, inbox, "SENT", "N3", OpenMode::View)->body.isEmpty());
    EXPECT_EQ(readFile(inbox + "INBOX.hdr"), inboxArchive);
    EXPECT_FALSE(QFile::exists(home.file("app/N1.m")));
    EXPECT_TRUE(strayFiles(inbox).isEmpty()) << strayFiles(inbox).join(' ').toStdString();
}

TEST_F(FolderOps, StatusChangesKeepTheRestOfTheRecord)
{
    decodeSample(1);
    const QByteArray before = member("INBOX.hdr", "list-1@example-test");
    ASSERT_TRUE(before.contains("STATUS:NEW\r\n"));
    EXPECT_TRUE(SetMailStatus(zip, inbox, "INBOX", "list-1@example-test", ' '));
    EXPECT_EQ(member("INBOX.hdr", "list-1@example-test"),
              QByteArray(before).replace("STATUS:NEW\r\n", "STATUS:READ\r\n"));
    EXPECT_TRUE(SetMailStatus(zip, inbox, "INBOX", "list-1@example-test", 'x'));
    EXPECT_TRUE(SetMailStatus(zip, inbox, "INBOX", "list-1@example-test", 'F'));
    EXPECT_EQ(member("INBOX.hdr", "list-1@example-test"),
              QByteArray(before).replace("STATUS:NEW\r\n", "STATUS:FORWARD\r\n"));
    EXPECT_FALSE(SetMailStatus(zip, inbox, "INBOX", "absent", ' '));
    EXPECT_TRUE(strayFiles(inbox).isEmpty());
}

// Runs `command` in a child process that kills itself when the move or trash reaches
// `step`: no destructor runs, nothing is synced. True when the child died so.
static bool killedAt(const char *step, const std::function<void()> &command)
{
    const pid_t child = fork();
    if (child == 0) {
        setMoveStepHookForTesting([step](const char *reached) {
            if (qstrcmp(reached, step) == 0)
                ::raise(SIGKILL);
        });
        command();
        ::_exit(0);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFSIGNALED(status)
        && WTERMSIG(status) == SIGKILL;
}

// A move killed at each of its steps leaves the mail whole in one folder at least,
// and moving it again leaves it once, whole, in the target.
TEST_F(FolderOps, AMoveKilledAtAnyStepLosesNothing)
{
    const QString id = "list-1@example-test";
    for (const char *at : {"attachments-added", "body-added", "record-added", "record-removed", "body-removed"}) {
        SCOPED_TRACE(at);
        startAfresh();
        decodeSample(1);
        syncArchives();
        const auto whole = mailBytes("INBOX", id);
        ASSERT_TRUE(killedAt(at, [&] { moveMail(zip, inbox, "INBOX", "READ", id); }));

        const bool inSource = members("INBOX.hdr").contains(id);
        EXPECT_TRUE(inSource || members("READ.hdr").contains(id));
        if (members("READ.hdr").contains(id)) {
            EXPECT_EQ(mailBytes("READ", id), whole);
        }
        if (inSource) {
            EXPECT_EQ(mailBytes("INBOX", id), whole);
            EXPECT_EQ(moveMail(zip, inbox, "INBOX", "READ", id), id);
        }
        // The next trash in INBOX finishes a removal that the kill cut short.
        EXPECT_FALSE(deleteMail(zip, inbox, "INBOX", "absent"));
        EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___"}));
        EXPECT_EQ(members("INBOX.fdr"), QStringList());
        EXPECT_EQ(members("INBOX.att"), QStringList());
        EXPECT_EQ(members("READ.hdr"), QStringList({"___.___", id}));
        EXPECT_EQ(mailBytes("READ", id), whole);
        EXPECT_EQ(members("READ.att").size(), 4);
    }
}

TEST_F(FolderOps, ATrashKilledAfterTheRecordLeavesNoMemberBehindAtTheNextMove)
{
    const QString id = "list-1@example-test";
    for (const char *at : {"record-removed", "body-removed"}) {
        SCOPED_TRACE(at);
        startAfresh();
        decodeSample(1);
        decodeSample(2);
        syncArchives();
        const QStringList attachments = DescriptorEntries(ParseHeaderRecord(member("INBOX.hdr", id)).attach);
        ASSERT_EQ(attachments.size(), 4);
        ASSERT_TRUE(killedAt(at, [&] { deleteMail(zip, inbox, "INBOX", id); }));
        EXPECT_FALSE(members("INBOX.hdr").contains(id));

        // A record written since names one of the left members: that one stays.
        const QByteArray keeper = FormatHeaderRecord("Mon", false, "NEW",
                                                     FormatAttachmentDescriptor(1, {attachments[1]}), {}, "s", "f");
        addMember("INBOX.hdr", "keeper", keeper);
        const auto second = mailBytes("INBOX", "list-2@example-test");
        EXPECT_FALSE(moveMail(zip, inbox, "INBOX", "READ", "list-2@example-test").isEmpty());
        EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "keeper"}));
        EXPECT_EQ(members("INBOX.fdr"), QStringList());
        EXPECT_EQ(members("INBOX.att"), QStringList({attachments[1]}));
        EXPECT_EQ(mailBytes("READ", "list-2@example-test"), second);
        EXPECT_TRUE(strayFiles(inbox).isEmpty()) << strayFiles(inbox).join(' ').toStdString();
    }
}

TEST_F(FolderOps, FoldersAreAddedRenamedAndDeletedByTheirTypedNames)
{
    EXPECT_EQ(FolderNameFromInput("archive.old"), "archive");
    EXPECT_EQ(FolderNameFromInput("../up"), "");
    EXPECT_EQ(FolderNameFromInput("-a/b"), "_a_b");

    EXPECT_TRUE(AddFolder(zip, inbox, "archive"));
    EXPECT_EQ(members("archive.hdr"), QStringList({"___.___"}));
    EXPECT_FALSE(AddFolder(zip, inbox, "Archive"));
    EXPECT_FALSE(AddFolder(zip, inbox, "inbox"));
    EXPECT_EQ(prompts.texts(platform::PromptKind::Warning),
              QStringList({inbox + "archive.hdr is an existing folder!", "inbox is a default folder!"}));
    prompts.clear();

    // A folder with mail: renaming takes its three archives along.
    decodeSample(1);
    moveMail(zip, inbox, "INBOX", "archive", "list-1@example-test");
    const auto mail = mailBytes("archive", "list-1@example-test");
    EXPECT_TRUE(AddFolder(zip, inbox, "empty"));
    EXPECT_FALSE(RenameFolder(inbox, "archive", "EMPTY"));
    EXPECT_TRUE(RenameFolder(inbox, "archive", "kept"));
    EXPECT_EQ(mailBytes("kept", "list-1@example-test"), mail);
    EXPECT_TRUE(DeleteFolder(inbox, "kept"));
    EXPECT_EQ(ListFolders(inbox), QStringList({"empty", "INBOX", "READ", "SENT"}));
    EXPECT_EQ(prompts.texts(platform::PromptKind::Warning), QStringList({inbox + "empty.hdr is an existing folder!"}));
    EXPECT_TRUE(strayFiles(inbox).isEmpty()) << strayFiles(inbox).join(' ').toStdString();
}

// The listing reads the header archive in one pass; damaged data is an error, not a
// record of garbage, and a file that is no archive lists nothing.
TEST_F(FolderOps, ADamagedHeaderArchiveIsAnErrorAndTextListsNothing)
{
    for (const char *id : {"r1", "r2", "r3"})
        WriteHeaderRecord(zip, inbox, "READ", id, "Fri", false, "NEW", "0     ", "\r\nX: 1", id, "a@b");
    syncArchives();
    ASSERT_EQ(ListFolder(inbox, "READ").size(), 3);
    QByteArray bytes = readFile(inbox + "READ.hdr");
    // Local headers that do not match what a one-pass read expects (a data descriptor
    // announced) are read member by member, with the same result.
    QByteArray announced = bytes;
    announced[6] = char(announced[6] | 0x08);
    writeFile(inbox + "READ.hdr", announced);
    const QList<FolderMail> slow = ListFolder(inbox, "READ");
    ASSERT_EQ(slow.size(), 3);
    EXPECT_EQ(slow[2].mailId, "r3");
    EXPECT_EQ(slow[2].record.subject, "r3");
    const qsizetype next = bytes.indexOf("PK\x03\x04", bytes.indexOf("r2"));
    ASSERT_GT(next, 0);
    bytes[next - 1] = char(bytes[next - 1] ^ 0x5a);
    writeFile(inbox + "READ.hdr", bytes);
    EXPECT_THROW(ListFolder(inbox, "READ"), platform::Error);

    writeFile(inbox + "READ.hdr", "not an archive");
    EXPECT_TRUE(ListFolder(inbox, "READ").isEmpty());
}
