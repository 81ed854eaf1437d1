// The clients against real Postfix and Dovecot on loopback, started by the test run
// (scripts/mailservers/start exports QUORVEL_TEST_*). Without those variables the
// tests are skipped; with them, servers that do not answer are a failure.
//
// ctest runs these tests in parallel processes that share the servers and the
// mailboxes alice and bob, so each takes a lock file in the servers' directory.
#include "ScriptedServer.h"

#include "net/Pop3Client.h"
#include "net/SmtpClient.h"
#include "support/RealServers.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using nettest::HiddenWait;

namespace {

QString env(const char *name) { return qEnvironmentVariable(name); }

class RealServers : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::RequireRealServers(lock_, "net-tests");
    }

    // Puts a message straight into the user's Maildir, as a delivery would.
    static void deliver(const QString &user, const QByteArray &message)
    {
        ASSERT_TRUE(testsupport::deliverToMaildir(user, message));
    }

    static bool waitForMessages(const QString &user, int count)
    {
        return testsupport::waitForMessages(user, count).size() >= count;
    }

    void setUpPop3(TPop3Client &client, const QString &user, const QString &password)
    {
        client.SetWait(&hidden_.wait);
        client.Host = env("QUORVEL_TEST_POP3_HOST");
        client.Port = env("QUORVEL_TEST_POP3_PORT");
        client.UserName = user;
        client.PassWord = password;
    }

    HiddenWait hidden_{1000};

private:
    testsupport::ServerLock lock_;
};

// The decoded content of the base64 part whose filename parameter is `name`.
QByteArray attachment(const QList<QByteArray> &lines, const QByteArray &boundary, const QByteArray &name)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i] != "--" + boundary)
            continue;
        qsizetype j = i + 1;
        bool named = false;
        for (; j < lines.size() && !lines[j].isEmpty(); ++j)
            named = named || lines[j].contains("filename=\"" + name + "\"");
        if (!named)
            continue;
        QByteArray encoded;
        for (++j; j < lines.size() && !lines[j].isEmpty() && !lines[j].startsWith("--"); ++j)
            encoded += lines[j];
        return QByteArray::fromBase64(encoded);
    }
    return "(no part named " + name + ")";
}

} // namespace

TEST_F(RealServers, AMessageWithTwoAttachmentsIsPostedAndFetchedBack)
{
    const QString alice = env("QUORVEL_TEST_USER");
    testsupport::clearMailbox(alice);

    QTemporaryDir dir;
    QByteArray binary(300001, '\0');
    QRandomGenerator random(42);
    for (char &c : binary)
        c = char(random.bounded(256));
    QByteArray text;
    for (int i = 0; i < 40; ++i)
        text += "notes line " + QByteArray::number(i) + "\r\n";
    const QString binPath = dir.filePath("picture.bin"), textPath = dir.filePath("notes.txt");
    for (const auto &[path, content] : {std::pair{binPath, binary}, std::pair{textPath, text}}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    TSmtpClient smtp;
    smtp.SetWait(&hidden_.wait);
    smtp.Host = env("QUORVEL_TEST_SMTP_HOST");
    smtp.Port = env("QUORVEL_TEST_SMTP_PORT");
    smtp.FromName = env("QUORVEL_TEST_ADDRESS2");
    smtp.RcptName = {env("QUORVEL_TEST_ADDRESS")};
    smtp.HdrFrom = "Bob Builder <" + env("QUORVEL_TEST_ADDRESS2") + ">";
    smtp.HdrTo = env("QUORVEL_TEST_ADDRESS") + ";";
    smtp.HdrSubject = QStringLiteral("Grüße from the network test");
    smtp.EmailFiles = {binPath, textPath};
    const QList<QByteArray> body{"--=This is a quorvel", ".", "..two dots", "plain line"};
    smtp.OnGetData = [&](TCustomSmtpClient *, int n, QByteArray &line, int, bool &more) {
        if (n > body.size())
            more = false;
        else
            line = body[n - 1];
    };
    ASSERT_TRUE(smtp.Connect()) << smtp.ErrorMessage().toStdString();
    EXPECT_TRUE(smtp.SendMail()) << smtp.ErrorMessage().toStdString();
    smtp.Quit();
    ASSERT_EQ(smtp.ErrorMessage().toStdString(), "");
    ASSERT_TRUE(waitForMessages(alice, 1));

    TPop3Client pop;
    setUpPop3(pop, alice, env("QUORVEL_TEST_PASSWORD"));
    QList<QByteArray> lines;
    pop.OnMessageLine = [&](TPop3Client *c) { lines << c->LastResponse(); };
    ASSERT_TRUE(pop.Stat()) << pop.ErrorMessage().toStdString() << pop.LastResponse().toStdString();
    ASSERT_EQ(pop.MsgCount(), 1);
    pop.MsgNum = 1;
    ASSERT_TRUE(pop.Uidl());
    EXPECT_FALSE(pop.MsgUidl().isEmpty());
    ASSERT_TRUE(pop.Retr()) << pop.ErrorMessage().toStdString();
    EXPECT_TRUE(pop.Quit());

    EXPECT_TRUE(lines.contains("Subject: =?UTF-8?B?R3LDvMOfZSBmcm9tIHRoZSBuZXR3b3JrIHRlc3Q=?="));
    EXPECT_TRUE(lines.contains("To: " + env("QUORVEL_TEST_ADDRESS").toUtf8()));
    const auto hasField = [&](const QByteArray &prefix) {
        return std::any_of(lines.begin(), lines.end(), [&](const QByteArray &l) { return l.startsWith(prefix); });
    };
    EXPECT_TRUE(hasField("Message-ID: <"));
    EXPECT_TRUE(hasField("Date: "));
    const qsizetype marker = lines.indexOf("--=This is a quorvel");
    ASSERT_GE(marker, 0);
    EXPECT_EQ(lines.mid(marker, 4), body);
    const QByteArray boundary = smtp.Boundary().toLatin1();
    EXPECT_EQ(attachment(lines, boundary, "picture.bin"), binary);
    EXPECT_EQ(attachment(lines, boundary, "notes.txt"), text);
}

TEST_F(RealServers, ApopUniqueIdsAndDeletion)
{
    const QString alice = env("QUORVEL_TEST_USER");
    testsupport::clearMailbox(alice);
    for (int i = 1; i <= 3; ++i)
        deliver(alice, "From: x@example.test\r\nSubject: number " + QByteArray::number(i) +
                           "\r\nMessage-ID: <" + QByteArray::number(i) + "@quorvel.test>\r\n\r\nbody " +
                           QByteArray::number(i) + "\r\n");

    QStringList before;
    {
        TPop3Client pop;
        setUpPop3(pop, alice, env("QUORVEL_TEST_PASSWORD"));
        ASSERT_TRUE(pop.Connect()) << pop.ErrorMessage().toStdString();
        EXPECT_FALSE(pop.Timestamp().isEmpty());
        ASSERT_TRUE(pop.Apop()) << pop.LastResponse().toStdString();
        EXPECT_EQ(pop.ProtocolState(), pop3Transaction);
        ASSERT_TRUE(pop.Stat());
        EXPECT_EQ(pop.MsgCount(), 3);
        pop.OnUidlLine = [&](TPop3Client *c) { before << c->MsgUidl(); };
        ASSERT_TRUE(pop.Uidl());
        pop.MsgNum = 2;
        EXPECT_TRUE(pop.Delete()) << pop.LastResponse().toStdString();
        EXPECT_TRUE(pop.Quit());
    }
    ASSERT_EQ(before.size(), 3);

    TPop3Client pop;
    setUpPop3(pop, alice, env("QUORVEL_TEST_PASSWORD"));
    QStringList after;
    QList<QByteArray> lines;
    pop.OnUidlLine = [&](TPop3Client *c) { after << c->MsgUidl(); };
    pop.OnMessageLine = [&](TPop3Client *c) { lines << c->LastResponse(); };
    ASSERT_TRUE(pop.Stat());
    EXPECT_EQ(pop.MsgCount(), 2);
    ASSERT_TRUE(pop.Uidl());
    EXPECT_EQ(after, QStringList({before[0], before[2]}));
    pop.MsgNum = 2;
    pop.MsgLines = 0;
    ASSERT_TRUE(pop.Top());
    EXPECT_TRUE(lines.contains("Subject: number 3"));
    EXPECT_FALSE(lines.contains("body 3"));
    EXPECT_TRUE(pop.Quit());
}

TEST_F(RealServers, AWrongPasswordFailsCleanly)
{
    const QString bob = env("QUORVEL_TEST_USER2");
    TPop3Client pop;
    setUpPop3(pop, bob, "not-the-password");
    EXPECT_FALSE(pop.Stat());
    EXPECT_EQ(pop.ProtocolState(), pop3WaitingPass);
    EXPECT_TRUE(pop.LastResponse().startsWith("-ERR")) << pop.LastResponse().toStdString();
    EXPECT_EQ(pop.ErrorMessage().toStdString(), "");
    pop.Quit();

    TPop3Client apop;
    setUpPop3(apop, bob, "not-the-password");
    EXPECT_FALSE(apop.Apop());
    EXPECT_EQ(apop.ProtocolState(), pop3WaitingUser);
    EXPECT_TRUE(apop.LastResponse().startsWith("-ERR")) << apop.LastResponse().toStdString();
    apop.Quit();

    // The right password still works afterwards.
    TPop3Client good;
    setUpPop3(good, bob, env("QUORVEL_TEST_PASSWORD2"));
    EXPECT_TRUE(good.Stat()) << good.LastResponse().toStdString();
    good.Quit();
}

TEST_F(RealServers, AnUnknownRecipientIsRefused)
{
    TSmtpClient smtp;
    smtp.SetWait(&hidden_.wait);
    smtp.Host = env("QUORVEL_TEST_SMTP_HOST");
    smtp.Port = env("QUORVEL_TEST_SMTP_PORT");
    smtp.FromName = env("QUORVEL_TEST_ADDRESS2");
    smtp.RcptName = {"nobody@" + env("QUORVEL_TEST_DOMAIN"), env("QUORVEL_TEST_ADDRESS")};
    ASSERT_TRUE(smtp.Connect()) << smtp.ErrorMessage().toStdString();
    EXPECT_FALSE(smtp.SendMail());
    EXPECT_TRUE(smtp.ErrorMessage().startsWith("550")) << smtp.ErrorMessage().toStdString();
    smtp.Quit();
}
