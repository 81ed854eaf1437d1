#include "StoreFixture.h"

#include "store/FolderOps.h"

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
