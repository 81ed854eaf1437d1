// The socket against scripted loopback servers: settings, connecting, the line
// reader's rules, sending through the chunk queue, and what happens when peers
// misbehave.
#include "ScriptedServer.h"

#include "net/AsyncSocket.h"

#include <QElapsedTimer>
#include <QTest>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <gtest/gtest.h>

using nettest::HiddenWait;
using nettest::ScriptedServer;
using nettest::Step;

namespace {

struct Client {
    HiddenWait hidden;
    TAsyncSocket socket;
    int closedEvents = 0;
    int tooLong = 0;
    QList<TSocketState> states;

    Client()
    {
        socket.SetWaitCtrl(&hidden.wait);
        socket.OnSessionClosed = [this](TCustomAsyncSocket *, quint16) { ++closedEvents; };
        socket.OnLineTooLong = [this](TCustomAsyncSocket *) { ++tooLong; };
        socket.OnChangeState = [this](TCustomAsyncSocket *, TSocketState, TSocketState s) { states.append(s); };
    }

    bool open(quint16 port, int timeout = 30)
    {
        socket.SetProto("tcp");
        socket.SetPort(QString::number(port));
        socket.SetAddr("127.0.0.1");
        socket.Connect();
        return socket.Wait(timeout, wsConnected);
    }

    QByteArray line(int timeout = 30)
    {
        QByteArray text;
        socket.ReadLine(timeout, text);
        return text;
    }
};

std::string text(const QString &s) { return s.toStdString(); }

} // namespace

TEST(TBufferTest, AppendsUpToCapacityAndResetsWhenDrained)
{
    TBuffer buffer;
    const QByteArray data(2000, 'a');
    EXPECT_EQ(buffer.Append(data.constData(), 1000), 1000);
    EXPECT_EQ(buffer.Append(data.constData(), 1000), 514);
    EXPECT_EQ(buffer.Append(data.constData(), 10), 0);
    int count = -1;
    EXPECT_NE(buffer.Front(count), nullptr);
    EXPECT_EQ(count, 1514);
    EXPECT_EQ(buffer.Consume(14), 14);
    buffer.Front(count);
    EXPECT_EQ(count, 1500);
    EXPECT_EQ(buffer.ReadPos(), 14);
    EXPECT_EQ(buffer.Consume(5000), 1500);
    EXPECT_EQ(buffer.ReadPos(), 0);
    EXPECT_EQ(buffer.WritePos(), 0);
    EXPECT_EQ(buffer.Front(count), nullptr);
    EXPECT_EQ(count, 0);
}

TEST(SocketErrorTest, ErrnoValuesMapOntoTheClassicCodes)
{
    EXPECT_EQ(net::socketErrorCode(EAGAIN), 10035);
    EXPECT_EQ(net::socketErrorCode(ENOTSOCK), 10038);
    EXPECT_EQ(net::socketErrorCode(ECONNRESET), 10054);
    EXPECT_EQ(net::socketErrorCode(EPIPE), 10054);
    EXPECT_EQ(net::socketErrorCode(ENOTCONN), 10057);
    EXPECT_EQ(net::socketErrorCode(ECONNREFUSED), 10061);
    EXPECT_EQ(text(SocketErrorText(10061)), "Connection refused");
    EXPECT_EQ(text(SocketErrorText(11004)), "No Data");
    EXPECT_EQ(text(SocketErrorText(12345)), "Not a WinSock error");
    EXPECT_FALSE(LocalMachineName().isEmpty());
}

TEST(AsyncSocketSettings, PortsFromServiceNamesOrDigits)
{
    TAsyncSocket socket;
    socket.SetPort("smtp");
    EXPECT_EQ(socket.PortNumber(), 25);
    socket.SetPort("pop3");
    EXPECT_EQ(socket.PortNumber(), 110);
    socket.SetPort(" 2525abc");
    EXPECT_EQ(socket.PortNumber(), 2525);
    EXPECT_EQ(text(socket.Port()), " 2525abc");

    try {
        socket.SetPort("no-such-service");
        FAIL() << "no exception";
    } catch (const ESocketException &e) {
        EXPECT_EQ(text(e.message()),
                  "Error 11004 in function SetPort: Cannot convert port 'no-such-service'\r\nNo Data");
    }
    EXPECT_THROW(socket.SetPort("70000"), ESocketException);
    socket.SetAddr("127.0.0.1");
    try {
        socket.Connect();
        FAIL() << "no exception";
    } catch (const ESocketException &e) {
        EXPECT_EQ(text(e.message()), "Connect: No Port Specified");
    }
}

TEST(AsyncSocketSettings, AddressesAndProtocols)
{
    TAsyncSocket socket;
    socket.SetAddr(" 127.0.0.1 ");
    EXPECT_EQ(socket.AddrNumber(), 0x7F000001u);
    socket.SetAddr("localhost");
    EXPECT_EQ(socket.AddrNumber(), 0x7F000001u);
    try {
        socket.SetAddr("no-such-host.invalid");
        FAIL() << "no exception";
    } catch (const ESocketException &e) {
        EXPECT_EQ(text(e.message()), "SetAddr: Cannot convert host address 'no-such-host.invalid'");
    }
    socket.SetPort("25");
    try {
        socket.Connect();
        FAIL() << "no exception";
    } catch (const ESocketException &e) {
        EXPECT_EQ(text(e.message()), "Connect: No IP Address Specified");
    }

    EXPECT_THROW(socket.SetProto("no-such-protocol"), ESocketException);
    socket.SetAddr("127.0.0.1");
    try {
        socket.Connect();
        FAIL() << "no exception";
    } catch (const ESocketException &e) {
        EXPECT_EQ(text(e.message()), "Connect: No Protocol Specified");
    }
    socket.SetProto("udp");
    EXPECT_THROW(socket.Connect(), ESocketException);
    socket.SetProto("tcp");
    EXPECT_EQ(socket.State(), wsClosed);
}

TEST(AsyncSocketConnect, NobodyListeningEndsTheWaitAtOnce)
{
    Client client;
    quint16 connectedError = 0;
    client.socket.OnSessionConnected = [&](TCustomAsyncSocket *, quint16 error) { connectedError = error; };
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(client.open(ScriptedServer::deadPort(), 100)); // 10 s of counts
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(client.socket.State(), wsClosed);
    EXPECT_EQ(client.closedEvents, 1);
    EXPECT_EQ(connectedError, 10061);
    EXPECT_EQ(client.hidden.wait.ModalResult(), 1);

    // Close returned the socket to its defaults: the port must be written again.
    try {
        client.socket.Connect();
        FAIL() << "no exception";
    } catch (const ESocketException &e) {
        EXPECT_EQ(text(e.message()), "Connect: No Port Specified");
    }
}

TEST(AsyncSocketConnect, StatesAndOneClosedEventPerConnection)
{
    ScriptedServer server{"S: hello", "<close>", "<accept>", "S: again", "<eof>"};
    Client client;
    ASSERT_TRUE(client.open(server.port()));
    EXPECT_EQ(client.states, (QList<TSocketState>{wsOpened, wsConnecting, wsConnected}));
    // Short commands go out at once instead of waiting for the peer's delayed ACK.
    int noDelay = 0;
    socklen_t size = sizeof noDelay;
    ASSERT_EQ(::getsockopt(client.socket.Handle(), IPPROTO_TCP, TCP_NODELAY, &noDelay, &size), 0);
    EXPECT_EQ(noDelay, 1);
    EXPECT_EQ(client.line(), "hello");
    EXPECT_EQ(client.line(), ""); // the peer closed
    EXPECT_EQ(client.socket.State(), wsClosed);
    QTest::qWait(50);
    EXPECT_EQ(client.closedEvents, 1);

    // The same object serves the next connection.
    ASSERT_TRUE(client.open(server.port()));
    EXPECT_EQ(client.line(), "again");
    client.socket.Close();
    EXPECT_EQ(client.closedEvents, 2);
    client.socket.Close();
    EXPECT_EQ(client.closedEvents, 2);
    EXPECT_EQ(server.verdict(), "");
}

TEST(AsyncSocketConnect, AddrCannotChangeWhileConnected)
{
    ScriptedServer server{"<silence>"};
    Client client;
    ASSERT_TRUE(client.open(server.port()));
    try {
        client.socket.SetAddr("10.1.2.3");
        FAIL() << "no exception";
    } catch (const ESocketException &e) {
        EXPECT_EQ(text(e.message()), "Cannot change Addr if not closed");
    }
    EXPECT_EQ(text(client.socket.Addr()), "10.1.2.3");
    EXPECT_EQ(client.socket.AddrNumber(), 0x7F000001u);
    EXPECT_EQ(client.socket.State(), wsConnected);
    EXPECT_THROW(client.socket.SetPort("25"), ESocketException);
    EXPECT_THROW(client.socket.Connect(), ESocketException); // already in use
}

TEST(AsyncSocketReadLine, LineRules)
{
    const QByteArray l300(300, 'x'), l254(254, 'y'), l600(600, 'z');
    ScriptedServer server{
        Step::raw("abc\r\n"),
        Step::raw("a\rb\r\r\n"),
        Step::raw(l300 + "\n"),
        Step::raw(l254 + "\r\n"),
        Step::raw(l600 + "\r\n"),
        Step::raw(QByteArray("nul\0byte\r\n", 10)),
        Step::raw("\n"),
        Step::raw("partial"),
        "<close>",
    };
    Client client;
    ASSERT_TRUE(client.open(server.port()));
    EXPECT_EQ(client.line(), "abc");
    EXPECT_EQ(client.line(), "ab");
    EXPECT_EQ(client.tooLong, 0);

    EXPECT_EQ(client.line(), l300.left(254));
    EXPECT_EQ(client.tooLong, 1);
    EXPECT_EQ(client.line(), l300.left(46));
    EXPECT_EQ(client.tooLong, 1);

    EXPECT_EQ(client.line(), l254);
    EXPECT_EQ(client.tooLong, 2);
    EXPECT_EQ(client.line(), "");

    EXPECT_EQ(client.line(), l600.left(254));
    EXPECT_EQ(client.line(), l600.left(254));
    EXPECT_EQ(client.line(), l600.left(92));
    EXPECT_EQ(client.tooLong, 4);

    EXPECT_EQ(client.line(), QByteArray("nul\0byte", 8));
    EXPECT_EQ(client.line(), "");
    // The peer closes in the middle of a line: the part is handed over.
    EXPECT_EQ(client.line(), "partial");
    EXPECT_EQ(client.socket.State(), wsClosed);
    EXPECT_EQ(client.closedEvents, 1);
    EXPECT_EQ(client.socket.ReadCount(), 0); // reset by the close
    EXPECT_EQ(server.verdict(), "");
}

TEST(AsyncSocketReadLine, NothingArrivingEndsAtTheTimeoutWithAnEmptyLine)
{
    ScriptedServer server{"<silence>"};
    Client client;
    client.hidden.wait.setInterval(50);
    int timeouts = 0;
    client.hidden.wait.OnTimeout = [&](TCustomWait *) { ++timeouts; };
    ASSERT_TRUE(client.open(server.port()));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(client.line(4), "");
    EXPECT_GE(clock.elapsed(), 150);
    EXPECT_EQ(client.hidden.wait.ModalResult(), 2);
    EXPECT_EQ(timeouts, 1);
    EXPECT_EQ(client.socket.State(), wsConnected);
}

TEST(AsyncSocketReadLine, ALineStartedBeforeATimeoutContinuesAfterIt)
{
    ScriptedServer server{Step::raw("first "), "<pause 1500>", Step::raw("half\r\n"), "<silence>"};
    Client client;
    client.hidden.wait.setInterval(50);
    ASSERT_TRUE(client.open(server.port()));
    EXPECT_EQ(client.line(6), "first ");
    EXPECT_EQ(client.hidden.wait.ModalResult(), 2);
    EXPECT_EQ(client.line(60), "first half");
}

TEST(AsyncSocketSend, FourThousandBytesAndOnDataSentAfterSendReturned)
{
    const QByteArray payload = QByteArray(3998, 'p') + "\r\n";
    ScriptedServer server{QByteArray("C: " + payload.left(3998)).constData(), "<eof>"};
    Client client;
    ASSERT_TRUE(client.open(server.port()));
    bool inSend = false;
    int sentEvents = 0, sentInsideSend = 0;
    client.socket.OnDataSent = [&](TCustomAsyncSocket *, quint16) {
        ++sentEvents;
        sentInsideSend += inSend;
    };
    inSend = true;
    EXPECT_EQ(client.socket.Send(payload.constData(), int(payload.size())), 4000);
    inSend = false;
    EXPECT_EQ(sentEvents, 0);
    // Drained: only the last chunk remains, empty, for reuse.
    ASSERT_EQ(client.socket.SendQueue().size(), 1u);
    EXPECT_EQ(client.socket.SendQueue().front().WritePos(), 0);
    QTest::qWait(50);
    EXPECT_EQ(sentEvents, 1);
    EXPECT_EQ(sentInsideSend, 0);
    EXPECT_EQ(client.socket.Send("", 0), 0);
    EXPECT_EQ(client.socket.Send("x", -5), 0);
    QTest::qWait(50);
    client.socket.Close();
    EXPECT_EQ(server.verdict(), "");
}

TEST(AsyncSocketSend, APeerThatDoesNotReadKeepsDataInFullChunks)
{
    // The server reads nothing until the client has queued several chunks.
    ScriptedServer server{"<pause 1500>", "<silence>"};
    Client client;
    ASSERT_TRUE(client.open(server.port()));
    const QByteArray block(4000, 'q');
    qint64 queuedTotal = 0;
    for (int i = 0; i < 5000 && client.socket.SendQueue().size() < 4; ++i)
        queuedTotal += client.socket.Send(block.constData(), int(block.size()));
    const auto &queue = client.socket.SendQueue();
    ASSERT_GE(queue.size(), 4u);
    for (size_t i = 1; i + 1 < queue.size(); ++i)
        EXPECT_EQ(queue[i].WritePos(), TBuffer::kCapacity) << "chunk " << i;
    int sentEvents = 0;
    client.socket.OnDataSent = [&](TCustomAsyncSocket *, quint16) { ++sentEvents; };
    QElapsedTimer clock;
    clock.start();
    while (client.socket.SendQueue().size() > 1 && clock.elapsed() < 10000)
        QTest::qWait(20);
    EXPECT_EQ(client.socket.SendQueue().size(), 1u);
    EXPECT_EQ(sentEvents, 1);
    EXPECT_GT(queuedTotal, 0);
}

TEST(AsyncSocketSend, SendWhileNotConnected)
{
    TAsyncSocket socket;
    try {
        socket.Send("abc", 3);
        FAIL() << "no exception";
    } catch (const ESocketException &e) {
        EXPECT_EQ(text(e.message()), "Error 10057 in function Send\r\nSocket is not connected");
    }
    EXPECT_EQ(socket.State(), wsClosed);

    int errors = 0;
    socket.OnError = [&](TCustomAsyncSocket *) { ++errors; };
    EXPECT_EQ(socket.Send("abc", 3), -1);
    EXPECT_EQ(errors, 1);
}

TEST(AsyncSocketSend, NothingQueuedForOneConnectionGoesOutOnTheNext)
{
    ScriptedServer server{"<pause 1200>", "<silence>", "<accept>", "C: fresh", "<eof>"};
    Client client;
    ASSERT_TRUE(client.open(server.port()));
    const QByteArray block(64 * 1024, 's');
    for (int i = 0; i < 500 && client.socket.SendQueue().size() < 3; ++i)
        client.socket.Send(block.constData(), int(block.size()));
    ASSERT_GE(client.socket.SendQueue().size(), 3u);
    client.socket.Close();
    EXPECT_TRUE(client.socket.SendQueue().empty());
    ASSERT_TRUE(client.open(server.port()));
    client.socket.SendText("fresh\r\n");
    QTest::qWait(100);
    client.socket.Close();
    EXPECT_EQ(server.verdict(), "");
}

TEST(AsyncSocketWithoutWait, ReadLineAndWaitReportTheMissingControl)
{
    TAsyncSocket socket;
    QByteArray line = "unchanged";
    try {
        socket.ReadLine(5, line);
        FAIL() << "no exception";
    } catch (const ESocketException &e) {
        EXPECT_EQ(text(e.message()), "No wait object assigned");
    }
    EXPECT_EQ(line, "unchanged");
    try {
        socket.Wait(5, wsConnected);
        FAIL() << "no exception";
    } catch (const ESocketException &e) {
        EXPECT_EQ(text(e.message()), "Error 11004 in function TAsyncSocket.Wait\r\nNo Data");
    }
    // A wait control destroyed while set is forgotten.
    {
        HiddenWait hidden;
        socket.SetWaitCtrl(&hidden.wait);
        EXPECT_EQ(socket.WaitCtrl(), &hidden.wait);
    }
    EXPECT_EQ(socket.WaitCtrl(), nullptr);
}

TEST(AsyncSocketHostile, AMegabyteWithoutLineFeedArrivesInBoundedPieces)
{
    ScriptedServer server{Step::flood("0123456789", 1 << 20), "S: end", "<silence>"};
    Client client;
    ASSERT_TRUE(client.open(server.port()));
    // Let the data pile up without reading: the own buffer stops growing.
    QTest::qWait(300);
    EXPECT_LE(client.socket.Buffered(), TCustomAsyncSocket::kReceiveHighWater + TCustomAsyncSocket::kReceiveBlock);
    qint64 total = 0;
    int pieces = 0;
    for (;;) {
        const QByteArray piece = client.line();
        ASSERT_LE(piece.size(), 254);
        if (piece.endsWith("end"))
            break;
        ASSERT_EQ(piece.size(), 254) << "piece " << pieces;
        total += piece.size();
        ++pieces;
    }
    EXPECT_EQ(total + (1 << 20) % 254, 1 << 20);
    EXPECT_EQ(client.tooLong, pieces);
}

TEST(AsyncSocketHostile, APeerThatResetsWhileALineIsAwaited)
{
    ScriptedServer server{Step::raw("half a li"), "<pause 300>", "<close>"};
    Client client;
    ASSERT_TRUE(client.open(server.port()));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(client.line(100), "half a li");
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(client.socket.State(), wsClosed);
    EXPECT_EQ(client.closedEvents, 1);
    EXPECT_EQ(client.line(100), ""); // no handle: at once
}
