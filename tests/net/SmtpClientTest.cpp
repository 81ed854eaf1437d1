// The SMTP client against scripted servers: the conversation, the message it
// composes (headers, multipart, base64, dot-stuffing), and every failure of its table.
#include "ScriptedServer.h"

#include "net/Base64.h"
#include "net/SmtpClient.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/socket.h>

using nettest::HiddenWait;
using nettest::ScriptedServer;
using nettest::Step;

namespace {

const QDateTime kNow(QDate(1998, 12, 6), QTime(14, 23, 5), QTimeZone(3600));

struct FixedClock {
    FixedClock()
    {
        platform::setClockForTesting([] { return kNow; });
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    ~FixedClock()
    {
        platform::setClockForTesting({});
        QLocale::setDefault(QLocale::system());
    }
};

struct Smtp {
    FixedClock clock;
    HiddenWait hidden;
    TSmtpClient client;
    QStringList trace;

    explicit Smtp(quint16 port)
    {
        client.SetWait(&hidden.wait);
        client.Host = "127.0.0.1";
        client.Port = QString::number(port);
        client.SignOn = "quorvel.test";
        client.FromName = "me@here.test";
        client.RcptName = {"a@x.test"};
        client.HdrFrom = "Me <me@here.test>";
        client.HdrTo = "a@x.test;";
        client.HdrSubject = "Hello";
        client.OnDisplay = [this](TCustomSmtpClient *, const QString &line) { trace << line; };
        body({"--=This is a quorvel"});
    }

    void body(const QList<QByteArray> &lines)
    {
        client.OnGetData = [lines](TCustomSmtpClient *, int n, QByteArray &line, int maxLen, bool &more) {
            EXPECT_EQ(maxLen, 1023);
            if (n > lines.size()) {
                line = "never sent";
                more = false;
                return;
            }
            line = lines[n - 1];
        };
    }

    std::string error() const { return client.ErrorMessage().toStdString(); }
};

QList<QByteArray> lines(std::initializer_list<const char *> items)
{
    QList<QByteArray> out;
    for (const char *item : items)
        out.append(item);
    return out;
}


// The conversation up to the server's invitation to send the message.
std::vector<Step> untilData(std::initializer_list<Step> rest, std::initializer_list<Step> before = {})
{
    std::vector<Step> script(before);
    for (const char *line : {"S: 220 mail.test", "C: HELO quorvel.test", "S: 250 hi", "C: MAIL FROM:<me@here.test>",
                             "S: 250 ok", "C: RCPT TO:<a@x.test>", "S: 250 ok", "C: DATA", "S: 354 go"})
        script.emplace_back(line);
    script.insert(script.end(), rest);
    return script;
}

} // namespace

TEST(SmtpClientTest, AMessageWithTwoAttachments)
{
    QTemporaryDir dir;
    QByteArray hundred(100, '\0');
    for (int i = 0; i < 100; ++i)
        hundred[i] = char(i * 7);
    const QString full = dir.filePath("hundred.bin"), empty = dir.filePath("empty.dat");
    {
        QFile f(full);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(hundred);
        QFile e(empty);
        ASSERT_TRUE(e.open(QIODevice::WriteOnly));
    }

    ScriptedServer server{
        "S: 220 mail.test ESMTP",
        "C: HELO quorvel.test",
        "S: 250 mail.test",
        "C: MAIL FROM:<me@here.test>",
        "S: 250 ok",
        "C: RCPT TO:<a@x.test>",
        "S: 250 ok",
        "C: RCPT TO:<b@y.test>",
        "S: 251 not local, will forward",
        "C: DATA",
        "S: 354 end with .",
        "<data>",
        "S: 250 queued as 1",
        "C: QUIT",
        "S: 221 bye",
        "<eof>",
    };
    Smtp smtp(server.port());
    smtp.client.RcptName = {"a@x.test", " b@y.test "};
    smtp.client.HdrTo = "a@x.test;b@y.test;";
    smtp.client.HdrFrom = QStringLiteral("Jörg Müller <me@here.test>");
    smtp.client.HdrSubject = QStringLiteral("Grüße");
    smtp.client.EmailFiles = {full, empty};

    ASSERT_TRUE(smtp.client.Connect()) << smtp.error();
    EXPECT_TRUE(smtp.client.SendMail()) << smtp.error();
    EXPECT_EQ(smtp.client.Boundary().toStdString(), "= Multipart Boundary Dec06981423");
    smtp.client.Quit();
    EXPECT_EQ(smtp.error(), "");
    EXPECT_EQ(smtp.client.LastResponse().toStdString(), "221 bye");
    ASSERT_EQ(server.verdict(), "");

    const QByteArray boundary = "= Multipart Boundary Dec06981423";
    const QByteArray b64 = net::base64Encode(hundred);
    QList<QByteArray> expected = lines({
        "From: =?UTF-8?B?SsO2cmcgTcO8bGxlcg==?= <me@here.test>",
        "To: a@x.test, b@y.test",
        "Subject: =?UTF-8?B?R3LDvMOfZQ==?=",
        "Date: Sun, 06 Dec 1998 14:23:05 +0100",
        "MESSAGE-ID",
        "Mime-Version: 1.0",
        "Content-Type: multipart/mixed;",
    });
    expected << "\tboundary=\"" + boundary + "\"" << "" << "This is a multipart MIME message." << ""
             << "--" + boundary << "Content-Type: text/plain; charset=\"iso-8859-1\""
             << "Content-Transfer-Encoding: 7bit" << "" << "--=This is a quorvel";
    for (const char *name : {"hundred.bin", "empty.dat"}) {
        expected << "" << "--" + boundary << "Content-Type: application/octet-stream;"
                 << QByteArray("\tname=\"") + name + "\"" << "Content-Transfer-Encoding: base64"
                 << "Content-Disposition: attachment;" << QByteArray("\tfilename=\"") + name + "\"" << "";
        if (QByteArray(name) == "hundred.bin")
            expected << b64.mid(0, 60) << b64.mid(60, 60) << b64.mid(120);
        else
            expected << "";
    }
    expected << "" << "--" + boundary + "--";

    QList<QByteArray> data = server.dataBlock();
    ASSERT_EQ(data.size(), expected.size());
    EXPECT_TRUE(data[4].startsWith("Message-ID: <19981206142305000.") && data[4].endsWith(">")) << data[4].data();
    data[4] = "MESSAGE-ID";
    EXPECT_EQ(data, expected);
    EXPECT_EQ(b64.mid(120).size(), 16);
    EXPECT_TRUE(b64.endsWith("=="));

    // Every line sent and received is traced, in order.
    EXPECT_EQ(smtp.trace.mid(0, 4),
              QStringList({"Connected with SMTP server", "< 220 mail.test ESMTP", "> HELO quorvel.test", "< 250 mail.test"}));
    EXPECT_TRUE(smtp.trace.contains("< 251 not local, will forward"));
    EXPECT_EQ(smtp.trace.last().toStdString(), "< 221 bye");
}

TEST(SmtpClientTest, PlainMessageContinuedGreetingAndDotStuffing)
{
    const QByteArray helo = "C: HELO " + LocalMachineName().toUtf8();
    ScriptedServer server{
        "S: 220-mail.test first line",
        "S: 220-second line",
        "S: 220 ready",
        helo.constData(),
        "S: 250 hi",
        "C: MAIL FROM:<me@here.test>",
        "S: 250 ok",
        "C: RCPT TO:<a@x.test>",
        "S: 250 ok",
        "C: DATA",
        "S: 354 go",
        "<data>",
        "S: 250 done",
        "C: QUIT",
        "S: 221 bye",
        "<eof>",
    };
    Smtp smtp(server.port());
    smtp.client.SignOn.clear();
    smtp.body({".", ".hidden", "no dot", "", "one\r\ntwo\n.three"});
    ASSERT_TRUE(smtp.client.Connect()) << smtp.error();
    EXPECT_EQ(smtp.client.LastResponse().toStdString(), "250 hi");
    EXPECT_TRUE(smtp.client.Connect()); // already connected: no traffic
    EXPECT_TRUE(smtp.client.SendMail()) << smtp.error();
    smtp.client.Quit();
    ASSERT_EQ(server.verdict(), "");

    const QList<QByteArray> data = server.dataBlock();
    ASSERT_GE(data.size(), 8);
    EXPECT_EQ(data[2], "Subject: Hello");
    EXPECT_EQ(data[6], "Content-Type: text/plain; charset=\"iso-8859-1\"");
    EXPECT_EQ(data.mid(7), lines({"", "..", "..hidden", "no dot", "", "one", "two", "..three"}));
    EXPECT_FALSE(smtp.trace.join('\n').contains("never sent"));
}

TEST(SmtpClientTest, ARefusedRecipientStopsBeforeData)
{
    ScriptedServer server{
        "S: 220 mail.test",
        "C: HELO quorvel.test",
        "S: 250 hi",
        "C: MAIL FROM:<me@here.test>",
        "S: 250 ok",
        "C: RCPT TO:<nobody@x.test>",
        "S: 550 5.1.1 no such user",
        "C: QUIT",
        "S: 221 bye",
        "<eof>",
    };
    Smtp smtp(server.port());
    smtp.client.RcptName = {"nobody@x.test", "a@x.test"};
    EXPECT_FALSE(smtp.client.SendMail()); // connects by itself
    EXPECT_EQ(smtp.error(), "550 5.1.1 no such user");
    smtp.client.Quit();
    EXPECT_EQ(smtp.error(), "550 5.1.1 no such user"); // the first error stays
    EXPECT_EQ(server.verdict(), "");
}

TEST(SmtpClientTest, RejectedGreetingHeloMailAndMessage)
{
    ScriptedServer server{untilData({"<data>", "S: 552 too big", "C: QUIT", "S: 221 bye"},
                                    {"S: 554 go away", "<eof>", "<accept>",                          //
                                     "S: 220 mail.test", "C: HELO quorvel.test", "S: 501 bad name", //
                                     "<eof>", "<accept>"})};
    Smtp smtp(server.port());
    EXPECT_FALSE(smtp.client.Connect());
    EXPECT_EQ(smtp.error(), "554 go away");
    EXPECT_EQ(smtp.client.Socket()->State(), wsClosed);
    EXPECT_FALSE(smtp.client.Connect());
    EXPECT_EQ(smtp.error(), "501 bad name");
    ASSERT_TRUE(smtp.client.Connect());
    EXPECT_EQ(smtp.error(), ""); // cleared by the new connection
    EXPECT_FALSE(smtp.client.SendMail());
    EXPECT_EQ(smtp.error(), "552 too big");
    smtp.client.Quit();
    EXPECT_EQ(server.verdict(), "");
}

TEST(SmtpClientTest, LocalFailures)
{
    {
        TSmtpClient client;
        client.Host = "127.0.0.1";
        EXPECT_FALSE(client.Connect());
        EXPECT_EQ(client.ErrorMessage().toStdString(), "No wait object");
        EXPECT_FALSE(client.SendMail());
    }
    Smtp smtp(ScriptedServer::deadPort());
    smtp.client.Host.clear();
    EXPECT_FALSE(smtp.client.Connect());
    EXPECT_EQ(smtp.error(), "No host specified");
    EXPECT_EQ(smtp.trace.last().toStdString(), "No host specified");

    smtp.client.Host = "no-such-host.invalid";
    EXPECT_FALSE(smtp.client.Connect());
    EXPECT_EQ(smtp.error(), "SetAddr: Cannot convert host address 'no-such-host.invalid'");

    smtp.client.Host = "127.0.0.1";
    QElapsedTimer clock;
    clock.start();
    smtp.client.TimeOut = 100;
    EXPECT_FALSE(smtp.client.Connect());
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(smtp.error(), "Can't connect to host '127.0.0.1'");
    EXPECT_EQ(smtp.client.Socket()->State(), wsClosed);
    smtp.client.Quit(); // nothing to do
}

TEST(SmtpClientTest, AServerThatNeverAnswers)
{
    ScriptedServer server{untilData({"<data>", "<silence>"}, {"<silence>", "<accept>"})};
    Smtp smtp(server.port());
    smtp.client.TimeOut = 5;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(smtp.client.Connect());
    EXPECT_EQ(smtp.error(), "554 receive timeout");
    EXPECT_EQ(smtp.client.Socket()->State(), wsClosed);
    EXPECT_LT(clock.elapsed(), 3000);

    // The reply to "." is awaited 600 counts: short counts keep the test quick.
    smtp.hidden.wait.setInterval(10);
    ASSERT_TRUE(smtp.client.Connect()) << smtp.error();
    EXPECT_FALSE(smtp.client.SendMail());
    EXPECT_EQ(smtp.error(), "554 receive timeout");
    // Once timed out, every later reply of the connection reads as a timeout.
    smtp.client.Quit();
    EXPECT_EQ(smtp.client.LastResponse().toStdString(), "554 receive timeout");
    EXPECT_EQ(server.verdict(), "");
}

TEST(SmtpClientTest, TheServerDropsTheConnectionDuringData)
{
    ScriptedServer server{untilData({"<close>"})};
    Smtp smtp(server.port());
    QList<QByteArray> many;
    for (int i = 0; i < 2000; ++i)
        many << "line of the body";
    smtp.body(many);
    EXPECT_FALSE(smtp.client.SendMail());
    EXPECT_EQ(smtp.error(), "554 not connected");
    EXPECT_EQ(smtp.client.Socket()->State(), wsClosed);
    EXPECT_EQ(server.verdict(), "");
}

TEST(SmtpClientTest, AnAttachmentThatCannotBeReadAbandonsTheMessage)
{
    ScriptedServer server{untilData({"<silence>"})};
    Smtp smtp(server.port());
    smtp.client.EmailFiles = {"/nonexistent/dir/file.bin"};
    EXPECT_FALSE(smtp.client.SendMail());
    EXPECT_EQ(smtp.error(), "Unable to open attachment /nonexistent/dir/file.bin");
    EXPECT_EQ(smtp.client.Socket()->State(), wsClosed);
    EXPECT_EQ(server.verdict(), "");
    // The message was never ended, so the server discards it.
    EXPECT_FALSE(server.clientLines().contains("."));
}

TEST(SmtpClientTest, AGreetingThatNeverEnds)
{
    ScriptedServer server{Step::flood("220-and more\r\n", 200 << 20)};
    Smtp smtp(server.port());
    smtp.client.TimeOut = 5;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(smtp.client.Connect());
    EXPECT_EQ(smtp.error(), "554 receive timeout");
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(smtp.client.Socket()->State(), wsClosed);
    EXPECT_EQ(server.verdict(), "");
}

TEST(SmtpClientTest, TheBoundaryFollowsTheLocaleButStaysAscii)
{
    const QDateTime when(QDate(1998, 12, 6), QTime(9, 3), QTimeZone(0));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    EXPECT_EQ(TSmtpClient::MakeBoundary(when).toStdString(), "= Multipart Boundary Dec06980903");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(TSmtpClient::MakeBoundary(when).toStdString(), "= Multipart Boundary Dez.06980903");
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    EXPECT_EQ(TSmtpClient::MakeBoundary(when).toStdString(), "= Multipart Boundary Dec06980903");
    QLocale::setDefault(QLocale::system());
}

TEST(SmtpClientTest, SlowServersGetALargeMessageThroughABoundedQueueOrNotAtAll)
{
    // 72 KB of attachment, about 100 KB of base64 lines: more than the send window and
    // the small socket buffers of a throttled server hold together. Waits count 15
    // ticks of 50 ms.
    QTemporaryDir dir;
    QByteArray content(72 * 1024, '\0');
    for (qsizetype i = 0; i < content.size(); ++i)
        content[i] = char((i * 7919) >> 3);
    QFile file(dir.filePath("large.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    auto post = [&](Smtp &smtp) {
        smtp.hidden.wait.setInterval(50);
        smtp.client.TimeOut = 15;
        smtp.client.EmailFiles = {file.fileName()};
        const int small = 4096;
        return smtp.client.Connect() &&
               ::setsockopt(smtp.client.Socket()->Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small) == 0 &&
               smtp.client.SendMail();
    };

    // Read at 32 KB/s, about 3 s in all, while a reply or a stalled send may take
    // 0.75 s; then the reply to the final "." comes a second late.
    ScriptedServer server{untilData({Step::slowData(32 * 1024), "<pause 1000>", "S: 250 queued", "C: QUIT", "S: 221 bye"})};
    Smtp smtp(server.port());
    qint64 peak = 0;
    smtp.client.OnDisplay = [&](TCustomSmtpClient *c, const QString &) { peak = std::max(peak, c->Socket()->Queued()); };
    QStringList counts;
    smtp.hidden.wait.OnWaitStart = [&](TCustomWait *w) { counts << w->Caption(); };
    EXPECT_TRUE(post(smtp)) << smtp.error();
    EXPECT_EQ(counts.last().toStdString(), "600");
    smtp.client.Quit();
    ASSERT_EQ(server.verdict(), "");
    EXPECT_GE(peak, TCustomSmtpClient::kSendWindow / 2) << "the server never held the client back";
    EXPECT_LE(peak, TCustomSmtpClient::kSendWindow + 2 * TCustomSmtpClient::kMaxLineLength);
    const QByteArray b64 = net::base64Encode(content);
    QList<QByteArray> expected;
    for (qsizetype i = 0; i < b64.size(); i += 60)
        expected << b64.mid(i, 60);
    const QList<QByteArray> data = server.dataBlock();
    EXPECT_NE(std::search(data.begin(), data.end(), expected.begin(), expected.end()), data.end());

    // A server that stops taking the message gets it unfinished.
    ScriptedServer stalled{untilData({Step::slowData(100)})};
    Smtp stuck(stalled.port());
    EXPECT_FALSE(post(stuck));
    EXPECT_EQ(stuck.error(), "554 send timeout");
    EXPECT_EQ(stuck.client.Socket()->State(), wsClosed);
    EXPECT_NE(stalled.verdict().find("the client closed the connection"), std::string::npos);
    EXPECT_FALSE(stalled.clientLines().contains("."));
}

TEST(SmtpClientTest, LongReplyLinesAreJoinedAndTheConversationStaysInStep)
{
    const QByteArray continued = "250-" + QByteArray(300, 'x');
    const QByteArray exact = "250 " + QByteArray(250, 'y'); // cut at 254, then an empty piece
    ScriptedServer server{"S: 220 mail.test", "C: HELO quorvel.test", Step::raw(continued + "\r\n"), "S: 250 hi",
                          "C: MAIL FROM:<me@here.test>", Step::raw(exact + "\r\n"), "C: RCPT TO:<a@x.test>",
                          "S: 250 ok", "C: DATA", "S: 354 go", "<data>", "S: 250 done", "C: QUIT", "S: 221 bye"};
    Smtp smtp(server.port());
    ASSERT_TRUE(smtp.client.Connect()) << smtp.error();
    EXPECT_EQ(smtp.client.LastResponse().toStdString(), "250 hi");
    EXPECT_TRUE(smtp.trace.contains("< " + QString::fromLatin1(continued)));
    EXPECT_TRUE(smtp.client.SendMail()) << smtp.error();
    EXPECT_TRUE(smtp.trace.contains("< " + QString::fromLatin1(exact)));
    smtp.client.Quit();
    EXPECT_EQ(server.verdict(), "");
}

TEST(SmtpClientTest, QuittingTheProgramDuringTheFinalWaitAbortsTheConnection)
{
    ScriptedServer server{untilData({"<data>", "<silence>"})};
    Smtp smtp(server.port());
    smtp.client.OnDisplay = [&](TCustomSmtpClient *, const QString &line) {
        if (line == "> .")
            QTimer::singleShot(200, [] { QCoreApplication::exit(0); });
    };
    bool sent = true;
    nettest::runAsCommand([&] {
        sent = smtp.client.SendMail();
        smtp.client.Quit();
    });
    EXPECT_FALSE(sent);
    EXPECT_EQ(smtp.error(), "554 connection aborted");
    EXPECT_EQ(smtp.client.Socket()->State(), wsClosed);
    EXPECT_EQ(server.verdict(), "");
    EXPECT_EQ(server.clientLines().last(), "."); // nothing after it, not even QUIT
}
