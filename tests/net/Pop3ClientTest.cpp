// The POP3 client against scripted servers: the automatic login chain, APOP,
// multi-line replies with their line rules, the parsers, and every local error.
#include "ScriptedServer.h"

#include "net/Md5.h"
#include "net/Pop3Client.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

using nettest::HiddenWait;
using nettest::ScriptedServer;
using nettest::Step;

namespace {

struct Pop3 {
    HiddenWait hidden;
    TPop3Client client;
    QStringList trace;
    QList<QByteArray> lines;
    QStringList events;

    explicit Pop3(quint16 port)
    {
        client.SetWait(&hidden.wait);
        client.Host = "127.0.0.1";
        client.Port = QString::number(port);
        client.UserName = " alice ";
        client.PassWord = "secret";
        client.OnDisplay = [this](TPop3Client *, const QString &line) { trace << line; };
        client.OnMessageBegin = [this](TPop3Client *) { events << "begin"; };
        client.OnMessageEnd = [this](TPop3Client *) { events << "end"; };
        client.OnMessageLine = [this](TPop3Client *c) { lines << c->LastResponse(); };
        client.OnListLine = [this](TPop3Client *c) {
            events << QStringLiteral("list %1 %2").arg(c->MsgNum).arg(c->MsgSize());
        };
        client.OnUidlLine = [this](TPop3Client *c) { events << QStringLiteral("uidl %1 %2").arg(c->MsgNum).arg(c->MsgUidl()); };
    }

    std::string error() const { return client.ErrorMessage().toStdString(); }
    std::string last() const { return client.LastResponse().toStdString(); }
};

// A greeting and a USER/PASS login.
std::vector<Step> loggedIn(std::initializer_list<Step> rest)
{
    std::vector<Step> script;
    for (const char *line : {"S: +OK POP3 ready", "C: USER alice", "S: +OK", "C: PASS secret", "S: +OK logged in"})
        script.emplace_back(line);
    script.insert(script.end(), rest);
    return script;
}

} // namespace

TEST(Pop3ParseTest, NumbersAndUniqueIds)
{
    qint64 a = -1, b = -1;
    EXPECT_TRUE(TPop3Client::ParseNumbers("+OK 2 320", a, b));
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 320);
    EXPECT_TRUE(TPop3Client::ParseNumbers("+OK  7 \t 1234 octets", a, b));
    EXPECT_EQ(a, 7);
    EXPECT_EQ(b, 1234);
    EXPECT_FALSE(TPop3Client::ParseNumbers("+OK 5", a, b));
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 0);
    EXPECT_FALSE(TPop3Client::ParseNumbers("+OK no numbers", a, b));

    int n = -1;
    QString uid;
    EXPECT_TRUE(TPop3Client::ParseUidl("+OK 3 whqtswO00WBw418f9t5JxYwZ trailing", n, uid));
    EXPECT_EQ(n, 3);
    EXPECT_EQ(uid.toStdString(), "whqtswO00WBw418f9t5JxYwZ");
    EXPECT_TRUE(TPop3Client::ParseUidl("17", n, uid));
    EXPECT_EQ(n, 17);
    EXPECT_TRUE(uid.isEmpty());
    EXPECT_FALSE(TPop3Client::ParseUidl("+OK", n, uid));
    EXPECT_EQ(n, 0);
}

TEST(Pop3ClientTest, StatOnAFreshClientLogsInFirst)
{
    ScriptedServer server(loggedIn({"C: STAT", "S: +OK 2 320", "C: QUIT", "S: +OK bye", "<eof>"}));
    Pop3 pop(server.port());
    EXPECT_TRUE(pop.client.Stat()) << pop.error();
    EXPECT_EQ(pop.client.MsgCount(), 2);
    EXPECT_EQ(pop.client.MsgSize(), 320);
    EXPECT_EQ(pop.client.ProtocolState(), pop3Transaction);
    EXPECT_TRUE(pop.client.Timestamp().isEmpty());
    EXPECT_TRUE(pop.client.Quit());
    EXPECT_EQ(pop.client.ProtocolState(), pop3Disconnected);
    EXPECT_TRUE(pop.client.Quit()); // nothing left to end
    EXPECT_EQ(server.verdict(), "");
    EXPECT_EQ(pop.trace.mid(0, 6), QStringList({"Connected with POP3 server", "< +OK POP3 ready", "> USER alice",
                                                "< +OK", "> PASS secret", "< +OK logged in"}));
}

TEST(Pop3ClientTest, AWrongPasswordAndCommandsOutOfTurn)
{
    ScriptedServer server{
        "S: +OK POP3 ready", "C: USER alice", "S: +OK", "C: PASS secret", "S: -ERR [AUTH] Authentication failed.",
        "C: QUIT", "S: +OK",
        "<accept>",
        "S: +OK POP3 ready", "C: USER alice", "S: +OK", "C: PASS secret", "S: +OK",
        "C: DELE 9", "S: -ERR no such message",
        "C: QUIT", "S: +OK",
    };
    Pop3 pop(server.port());
    EXPECT_FALSE(pop.client.Stat());
    EXPECT_EQ(pop.client.ProtocolState(), pop3WaitingPass);
    EXPECT_EQ(pop.last(), "-ERR [AUTH] Authentication failed.");
    EXPECT_EQ(pop.error(), "");
    EXPECT_FALSE(pop.client.User());
    EXPECT_EQ(pop.error(), "-ERR USER command invalid now");
    EXPECT_FALSE(pop.client.Apop());
    EXPECT_EQ(pop.error(), "-ERR APOP command invalid now");
    pop.client.Quit();

    EXPECT_TRUE(pop.client.Pass()) << pop.error();
    EXPECT_EQ(pop.error(), ""); // cleared by the new connection
    EXPECT_FALSE(pop.client.User());
    EXPECT_EQ(pop.error(), "-ERR USER command invalid now");
    EXPECT_FALSE(pop.client.Rpop());
    EXPECT_EQ(pop.error(), "-ERR RPOP command invalid now");
    pop.client.MsgNum = 9;
    EXPECT_FALSE(pop.client.Delete());
    EXPECT_EQ(pop.last(), "-ERR no such message");
    EXPECT_TRUE(pop.client.Quit());
    EXPECT_EQ(server.verdict(), "");
}

TEST(Pop3ClientTest, ApopWithTheGreetingsTimestamp)
{
    const QByteArray stamp = "<1896.697170952@dbc.mtview.ca.us>";
    const QByteArray apop = "C: APOP alice " + net::Md5::hexDigest(stamp + " pass word ");
    const QByteArray greeting = "S: +OK POP3 server ready " + stamp + " more";
    ScriptedServer server{
        "S: +OK no timestamp <here",
        "C: QUIT",
        "S: +OK",
        "<accept>",
        greeting.constData(),
        apop.constData(),
        "S: +OK maildrop has 1 message",
        "C: NOOP",
        "S: +OK",
        "C: QUIT",
        "S: +OK",
    };
    Pop3 pop(server.port());
    pop.client.PassWord = " pass word "; // not trimmed for the digest
    EXPECT_FALSE(pop.client.Apop());
    EXPECT_EQ(pop.error(), "-ERR Server do not support APOP (no timestamp)");
    EXPECT_EQ(pop.client.ProtocolState(), pop3WaitingUser);
    pop.client.Quit();

    EXPECT_TRUE(pop.client.Connect());
    EXPECT_TRUE(pop.client.Connect()); // already connected: the timestamp stays
    EXPECT_EQ(pop.client.Timestamp(), stamp);
    EXPECT_TRUE(pop.client.Apop()) << pop.error();
    EXPECT_EQ(pop.client.ProtocolState(), pop3Transaction);
    EXPECT_TRUE(pop.client.Noop());
    pop.client.Quit();
    EXPECT_EQ(server.verdict(), "");
}

TEST(Pop3ClientTest, RetrievedLinesFollowTheLineRules)
{
    const QByteArray a254(254, 'a'), b254(254, 'b'), c600(600, 'c');
    ScriptedServer server(loggedIn({
        "C: RETR 1",
        "S: +OK 1000 octets",
        "S: Subject: hi",
        "S: ",
        "S: ..",
        "S: ..leading dot",
        Step::raw(a254 + ".\r\n"),
        Step::raw(b254 + "..x\r\n"),
        Step::raw(c600 + "\r\n"),
        Step::raw(QByteArray("nul\0inside\r\n", 12)),
        "S: .",
        "C: QUIT",
        "S: +OK",
    }));
    Pop3 pop(server.port());
    pop.client.MsgNum = 1;
    EXPECT_TRUE(pop.client.Retr()) << pop.error();
    EXPECT_EQ(pop.client.LastResponse(), "");
    EXPECT_EQ(pop.events, QStringList({"begin", "end"}));
    const QList<QByteArray> expected{"Subject: hi", "", ".", ".leading dot", a254, ".", b254, "..x",
                                     c600.left(254), c600.left(254), c600.left(92), QByteArray("nul\0inside", 10)};
    EXPECT_EQ(pop.lines, expected);
    pop.client.Quit();
    EXPECT_EQ(server.verdict(), "");
}

// Lines that arrived whole may come in blocks; what a reader makes of them is the
// same as from the line events, whatever the lines hold.
TEST(Pop3ClientTest, LinesInBlocksReadAsTheLineEvents)
{
    const QByteArray a254(254, 'a'), c300(300, 'c');
    const std::vector<Step> message = {
        "S: +OK",       "S: Subject: hi", "S: ",           "S: ..",          "S: ..leading dot",
        Step::raw("bare line end\n"),    Step::raw("stray\rcarriage\r\r\n"), Step::raw(a254 + ".\r\n"),
        Step::raw(c300 + "\r\n"),        "S: after the long ones",           "S: .",
    };
    std::vector<Step> script = loggedIn({"C: RETR 1"});
    for (int round = 0; round < 2; ++round) {
        script.insert(script.end(), message.begin(), message.end());
        script.emplace_back(round == 0 ? "C: RETR 1" : "C: QUIT");
    }
    script.emplace_back("S: +OK");
    ScriptedServer server(script);
    Pop3 pop(server.port());
    // The text as the fetch run's spool joins it: a cut piece is followed by the rest
    // of its line, every other line by CR LF.
    QByteArray text;
    int blockLines = 0;
    bool cut = false;
    pop.client.Socket()->OnLineTooLong = [&, own = pop.client.Socket()->OnLineTooLong](TCustomAsyncSocket *s) {
        own(s);
        cut = true;
    };
    pop.client.OnMessageLine = [&](TPop3Client *c) {
        text += c->LastResponse();
        if (!std::exchange(cut, false))
            text += "\r\n";
    };
    pop.client.MsgNum = 1;
    ASSERT_TRUE(pop.client.Retr()) << pop.error();
    const QByteArray byLine = std::exchange(text, {});
    pop.client.OnMessageBlock = [&](TPop3Client *, QByteArrayView block, int lines) {
        text += block;
        blockLines += lines;
    };
    ASSERT_TRUE(pop.client.Retr()) << pop.error();
    EXPECT_EQ(text, byLine);
    EXPECT_EQ(byLine, "Subject: hi\r\n\r\n.\r\n.leading dot\r\nbare line end\r\nstraycarriage\r\n" + a254
                          + ".\r\n" + c300 + "\r\nafter the long ones\r\n");
    EXPECT_GT(blockLines, 0);
    EXPECT_EQ(pop.client.LastResponse(), "");
    pop.client.Quit();
    EXPECT_EQ(server.verdict(), "");
}

TEST(Pop3ClientTest, ListingsUniqueIdsAndTop)
{
    ScriptedServer server(loggedIn({
        "C: LIST",
        "S: +OK 2 messages",
        "S: 1 120",
        "S: 2 3400",
        "S: .",
        "C: LIST 2",
        "S: +OK 2 3400",
        "C: UIDL",
        "S: +OK",
        "S: 1 uid-one",
        "S: 2 uid-two",
        "S: .",
        "C: UIDL 3",
        "S: +OK 3 uid-three",
        "C: TOP 3 10",
        "S: +OK",
        "S: Subject: top",
        "S: .",
        "C: LAST",
        "S: +OK 1",
        "C: RSET",
        "S: +OK",
        "C: QUIT",
        "S: +OK",
    }));
    Pop3 pop(server.port());
    EXPECT_TRUE(pop.client.List()) << pop.error();
    pop.client.MsgNum = 2;
    EXPECT_TRUE(pop.client.List());
    EXPECT_EQ(pop.client.MsgNum, 2);
    EXPECT_EQ(pop.client.MsgSize(), 3400);
    pop.client.MsgNum = 0;
    EXPECT_TRUE(pop.client.Uidl());
    EXPECT_EQ(pop.events, QStringList({"list 1 120", "list 2 3400", "uidl 1 uid-one", "uidl 2 uid-two"}));
    pop.client.MsgNum = 3;
    EXPECT_TRUE(pop.client.Uidl());
    EXPECT_EQ(pop.client.MsgNum, 3);
    EXPECT_EQ(pop.client.MsgUidl().toStdString(), "uid-three");
    pop.client.MsgLines = -1;
    EXPECT_FALSE(pop.client.Top()); // nothing sent
    pop.client.MsgLines = 10;
    EXPECT_TRUE(pop.client.Top());
    EXPECT_EQ(pop.lines, QList<QByteArray>{"Subject: top"});
    EXPECT_TRUE(pop.client.Last());
    EXPECT_EQ(pop.last(), "+OK 1");
    EXPECT_TRUE(pop.client.Rset());
    pop.client.Quit();
    EXPECT_EQ(server.verdict(), "");
}

TEST(Pop3ClientTest, TheConnectionDropsInTheMiddleOfRetr)
{
    ScriptedServer server(loggedIn({"C: RETR 1", "S: +OK", "S: first line", Step::raw("second li"), "<close>"}));
    Pop3 pop(server.port());
    pop.client.MsgNum = 1;
    EXPECT_FALSE(pop.client.Retr());
    EXPECT_EQ(pop.events, QStringList({"begin", "end"}));
    EXPECT_EQ(pop.lines, QList<QByteArray>{"first line"});
    EXPECT_EQ(pop.error(), "-ERR Disconneced unexpectedly");
    EXPECT_EQ(pop.client.ProtocolState(), pop3Disconnected);
    EXPECT_EQ(server.verdict(), "");
}

TEST(Pop3ClientTest, QuittingTheProgramDuringRetrAbortsTheConnection)
{
    ScriptedServer server(loggedIn({"C: RETR 1", "S: +OK", "S: line one", Step::raw("half a li"), "<silence>"}));
    Pop3 pop(server.port());
    pop.client.MsgNum = 1;
    pop.client.OnMessageLine = [&](TPop3Client *c) {
        pop.lines << c->LastResponse();
        if (pop.lines.size() == 1)
            QTimer::singleShot(200, [] { QCoreApplication::quit(); });
        if (pop.lines.size() > 10)
            c->Socket()->Close(); // a line handed out again and again: end it rather than hang
    };
    bool retrieved = true, deleted = true;
    nettest::runAsCommand([&] {
        retrieved = pop.client.Retr();
        deleted = pop.client.Delete();
    });
    EXPECT_FALSE(retrieved);
    EXPECT_FALSE(deleted);
    EXPECT_EQ(pop.error(), "-ERR Connection aborted");
    EXPECT_EQ(pop.lines, QList<QByteArray>{"line one"});
    EXPECT_EQ(pop.events, QStringList({"begin", "end"}));
    EXPECT_EQ(pop.client.ProtocolState(), pop3Disconnected);
    EXPECT_EQ(server.verdict(), "");
    EXPECT_EQ(server.clientLines(), QList<QByteArray>({"USER alice", "PASS secret", "RETR 1"}));
}

TEST(Pop3ClientTest, ALineThatDoesNotComeEndsTheListingAtTheTimeout)
{
    ScriptedServer server(loggedIn({"C: UIDL", "S: +OK", "S: 1 one", "<silence>"}));
    Pop3 pop(server.port());
    pop.client.TimeOut = 5;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(pop.client.Uidl());
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(pop.error(), "-ERR Receive Timeout");
    EXPECT_EQ(pop.events, QStringList({"uidl 1 one"}));
    EXPECT_EQ(pop.client.ProtocolState(), pop3Transaction);
}

TEST(Pop3ClientTest, LocalFailures)
{
    {
        TPop3Client client;
        client.Host = "127.0.0.1";
        EXPECT_FALSE(client.Stat());
        EXPECT_EQ(client.ErrorMessage().toStdString(), "-ERR No wait object");
    }
    Pop3 pop(ScriptedServer::deadPort());
    pop.client.Host.clear();
    EXPECT_FALSE(pop.client.Connect());
    EXPECT_EQ(pop.error(), "-ERR No host specified");
    EXPECT_EQ(pop.trace.last().toStdString(), "-ERR No host specified");
    pop.client.Host = "no-such-host.invalid";
    EXPECT_FALSE(pop.client.Stat());
    EXPECT_EQ(pop.error(), "-ERR SetAddr: Cannot convert host address 'no-such-host.invalid'");
    pop.client.Host = "127.0.0.1";
    pop.client.TimeOut = 100;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(pop.client.Retr());
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(pop.error(), "-ERR Can't connect to host '127.0.0.1'");
    EXPECT_EQ(pop.client.ProtocolState(), pop3Disconnected);
}

TEST(Pop3ClientTest, GreetingsThatFail)
{
    ScriptedServer server{"S: -ERR too busy", "<eof>", "<accept>", "<silence>"};
    Pop3 pop(server.port());
    EXPECT_FALSE(pop.client.Connect());
    EXPECT_EQ(pop.error(), "-ERR too busy");
    EXPECT_EQ(pop.client.Socket()->State(), wsClosed);

    // A server that accepts and then says nothing.
    pop.client.TimeOut = 5;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(pop.client.Connect());
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(pop.error(), "-ERR Receive Timeout");
    EXPECT_EQ(pop.client.ProtocolState(), pop3Disconnected);
    EXPECT_EQ(server.verdict(), "");
}

TEST(Pop3ClientTest, AFloodWithoutLineEndsStaysBounded)
{
    ScriptedServer server{"S: +OK ready", "C: USER alice", Step::flood(QByteArray("garbage\0", 8), 64 << 20)};
    Pop3 pop(server.port());
    pop.client.TimeOut = 5;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(pop.client.Stat());
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(pop.client.LastResponse().size(), net::LineClient::kMaxReplyLength);
    EXPECT_LE(pop.client.Socket()->Buffered(),
              TCustomAsyncSocket::kReceiveHighWater + TCustomAsyncSocket::kReceiveBlock);
    pop.client.Quit();
    EXPECT_EQ(pop.client.ProtocolState(), pop3Disconnected);
    EXPECT_EQ(server.verdict(), "");
}

TEST(Pop3ClientTest, LongStatusLinesKeepTheConversationInStep)
{
    const QByteArray stat = "+OK 2 320 " + QByteArray(390, 's');
    const QByteArray uidl = "+OK 1 uid-one " + QByteArray(386, 'u');
    ScriptedServer server(loggedIn({"C: STAT", Step::raw(stat + "\r\n"), "C: UIDL 1", Step::raw(uidl + "\r\n"),
                                    "C: NOOP", "S: +OK", "C: QUIT", "S: +OK"}));
    Pop3 pop(server.port());
    EXPECT_TRUE(pop.client.Stat()) << pop.error();
    EXPECT_EQ(pop.client.LastResponse(), stat);
    EXPECT_EQ(pop.client.MsgCount(), 2);
    pop.client.MsgNum = 1;
    EXPECT_TRUE(pop.client.Uidl());
    EXPECT_EQ(pop.client.MsgUidl().toStdString(), "uid-one");
    EXPECT_TRUE(pop.client.Noop());
    EXPECT_EQ(pop.last(), "+OK");
    pop.client.Quit();
    EXPECT_EQ(server.verdict(), "");
}

// The capability list; commands sent ahead of their replies once logged in, all
// of them before the server answers.
TEST(Pop3ClientTest, CapabilitiesAndPipelinedCommands)
{
    ScriptedServer server(loggedIn({"C: CAPA", "S: +OK", "S: TOP", "S: pipelining", "S: .", "C: UIDL 1", "C: NOOP",
                                    "S: +OK 1 one", "S: +OK", "C: QUIT", "S: +OK"}));
    Pop3 pop(server.port());
    EXPECT_FALSE(pop.client.Send({"UIDL 1"})); // not logged in: nothing sent
    EXPECT_TRUE(pop.client.Capa()) << pop.error();
    EXPECT_TRUE(pop.client.HasCapability("PIPELINING"));
    EXPECT_FALSE(pop.client.HasCapability("PIPE"));
    EXPECT_TRUE(pop.client.Send({"UIDL 1", "NOOP"}));
    EXPECT_TRUE(pop.client.ReadUidl());
    EXPECT_EQ(pop.client.MsgUidl().toStdString(), "one");
    EXPECT_TRUE(pop.client.ReadReply());
    pop.client.Quit();
    EXPECT_EQ(server.verdict(), "");
}
