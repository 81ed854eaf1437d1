#include "net/Pop3Client.h"

#include "net/EventPump.h"
#include "net/Md5.h"

#include <QElapsedTimer>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The run of digits at `i`, saturating instead of overflowing.
qint64 digitsAt(const QByteArray &line, qsizetype &i)
{
    qint64 n = 0;
    for (; i < line.size() && isDigit(line[i]); ++i)
        n = std::min<qint64>(n * 10 + (line[i] - '0'), qint64(1) << 53);
    return n;
}

} // namespace

namespace {

// A wait ended from outside (the program quits): the connection was dropped.
const QString kAborted = QStringLiteral("-ERR Connection aborted");

} // namespace

TPop3Client::TPop3Client(QObject *owner) : net::LineClient(QStringLiteral("pop3"), owner) {}

TPop3Client::~TPop3Client() = default;

void TPop3Client::Display(const QString &msg)
{
    if (OnDisplay)
        OnDisplay(this, msg);
}

void TPop3Client::fire(const TPop3NotifyEvent &event)
{
    if (event)
        event(this);
}

// ---- parsing ----

bool TPop3Client::ParseNumbers(const QByteArray &line, qint64 &first, qint64 &second)
{
    first = second = 0;
    qsizetype i = 0;
    while (i < line.size() && !isDigit(line[i]))
        ++i;
    if (i == line.size())
        return false;
    const qint64 a = digitsAt(line, i);
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n'))
        ++i;
    if (i == line.size())
        return false;
    first = a;
    second = digitsAt(line, i);
    return true;
}

bool TPop3Client::ParseUidl(const QByteArray &line, int &number, QString &uid)
{
    number = 0;
    uid.clear();
    qsizetype i = 0;
    while (i < line.size() && !isDigit(line[i]))
        ++i;
    if (i == line.size())
        return false;
    number = int(std::min<qint64>(digitsAt(line, i), INT_MAX));
    while (i < line.size() && line[i] == ' ')
        ++i;
    const qsizetype start = i;
    while (i < line.size() && line[i] >= 33 && line[i] <= 126)
        ++i;
    uid = QString::fromLatin1(line.mid(start, i - start));
    return true;
}

// ---- the conversation ----

bool TPop3Client::GetResponse()
{
    // A status line longer than the socket's comes in pieces: joined, so that its
    // rest is not taken for the next command's reply.
    QElapsedTimer clock;
    clock.start();
    FReplyWhole = ReadReplyLine(TimeOut, clock, FLastResponse);
    // A line handed out because the connection ended may be cut short, and no reply
    // follows it anyway.
    FReplyWhole = FReplyWhole && FSocket->State() == wsConnected;
    if (Aborted()) {
        fail(kAborted);
        return false;
    }
    Display(QStringLiteral("< ") + QString::fromUtf8(FLastResponse));
    return FReplyWhole && !FLastResponse.isEmpty() && FLastResponse[0] == '+';
}

bool TPop3Client::Connect()
{
    const ConnectTexts texts{QStringLiteral("-ERR No wait object"),
                             QStringLiteral("-ERR No host specified"),
                             QStringLiteral("-ERR "),
                             QStringLiteral("-ERR Can't connect to host '%1'").arg(Host),
                             kAborted,
                             QStringLiteral("Connected with POP3 server")};
    const Opening opening = OpenConnection(texts, FProtocolState != pop3Disconnected);
    if (opening == Opening::AlreadyOpen)
        return true;
    FTimestamp.clear();
    if (opening == Opening::Failed)
        return false;
    if (!GetResponse()) {
        if (FErrorMessage.isEmpty()) {
            // A greeting that never came must not leave the failure without a text.
            if (!FLastResponse.isEmpty())
                FErrorMessage = QString::fromUtf8(FLastResponse);
            else if (FTimedOut)
                FErrorMessage = QStringLiteral("-ERR Receive Timeout");
            else
                FErrorMessage = QStringLiteral("-ERR Disconneced unexpectedly");
        }
        FSocket->Close();
        FProtocolState = pop3Disconnected;
        return false;
    }
    const qsizetype open = FLastResponse.indexOf('<');
    const qsizetype close = open < 0 ? -1 : FLastResponse.indexOf('>', open);
    if (close > open)
        FTimestamp = FLastResponse.mid(open, close - open + 1);
    FProtocolState = pop3WaitingUser;
    return true;
}

bool TPop3Client::User()
{
    if (FProtocolState >= pop3WaitingPass) {
        fail(QStringLiteral("-ERR USER command invalid now"));
        return false;
    }
    if (FProtocolState == pop3Disconnected && !Connect())
        return false;
    SendCommand("USER " + UserName.trimmed().toUtf8());
    if (!GetResponse())
        return false;
    FProtocolState = pop3WaitingPass;
    return true;
}

bool TPop3Client::PassCommand(const QByteArray &word)
{
    if (FProtocolState >= pop3Transaction) {
        fail(QStringLiteral("-ERR %1 command invalid now").arg(QString::fromLatin1(word)));
        return false;
    }
    if (FProtocolState < pop3WaitingPass && !User())
        return false;
    SendCommand(word + " " + PassWord.trimmed().toUtf8());
    if (!GetResponse())
        return false;
    FProtocolState = pop3Transaction;
    return true;
}

bool TPop3Client::Pass() { return PassCommand("PASS"); }

bool TPop3Client::Rpop() { return PassCommand("RPOP"); }

bool TPop3Client::Apop()
{
    if (FProtocolState >= pop3WaitingPass) {
        fail(QStringLiteral("-ERR APOP command invalid now"));
        return false;
    }
    if (FProtocolState == pop3Disconnected && !Connect())
        return false;
    if (FTimestamp.isEmpty()) {
        fail(QStringLiteral("-ERR Server do not support APOP (no timestamp)"));
        return false;
    }
    SendCommand("APOP " + UserName.trimmed().toUtf8() + " " + net::Md5::hexDigest(FTimestamp + PassWord.toUtf8()));
    if (!GetResponse())
        return false;
    FProtocolState = pop3Transaction;
    return true;
}

bool TPop3Client::RunCommand(const QByteArray &word, const QByteArray &argument)
{
    if (FProtocolState < pop3Transaction && !Pass())
        return false;
    if (FProtocolState != pop3Transaction) {
        fail(QStringLiteral("-ERR %1 command invalid now").arg(QString::fromLatin1(word)));
        return false;
    }
    SendCommand(argument.isEmpty() ? word : word + " " + argument);
    return GetResponse();
}

bool TPop3Client::MultiLine(Listing kind)
{
    // The capability list is the client's own: it goes to no event.
    static const TPop3NotifyEvent none;
    const TPop3NotifyEvent &begin = kind == Listing::Message ? OnMessageBegin
                                    : kind == Listing::List  ? OnListBegin
                                    : kind == Listing::Uidl  ? OnUidlBegin
                                                             : none;
    const TPop3NotifyEvent &line = kind == Listing::Message ? OnMessageLine
                                   : kind == Listing::List  ? OnListLine
                                   : kind == Listing::Uidl  ? OnUidlLine
                                                            : none;
    const TPop3NotifyEvent &end = kind == Listing::Message ? OnMessageEnd
                                  : kind == Listing::List  ? OnListEnd
                                  : kind == Listing::Uidl  ? OnUidlEnd
                                                           : none;
    fire(begin);
    bool disconnected = false;
    try {
        // A piece that follows a cut one is the rest of a long line: neither the end
        // mark nor subject to dot-unstuffing, which belong to the start of a line.
        bool previousCut = false;
        const bool blocks = kind == Listing::Message && OnMessageBlock;
        for (;;) {
            FContinuation = false;
            if (blocks && !previousCut && FSocket->State() == wsConnected && !FSocket->LineInProgress()) {
                if (Aborted()) {
                    fail(kAborted);
                    disconnected = true;
                    break;
                }
                bool ended = false;
                if (takeReceivedLines(ended)) {
                    if (ended) {
                        FLastResponse.clear();
                        break;
                    }
                    net::letEventsRun();
                    continue;
                }
            }
            if (FSocket->State() == wsConnected)
                FSocket->ReadLine(TimeOut, FLastResponse);
            if (Aborted()) {
                fail(kAborted);
                disconnected = true;
                break;
            }
            if (FSocket->State() != wsConnected) {
                disconnected = true;
                fail(QStringLiteral("-ERR Disconneced unexpectedly"));
                break;
            }
            if (FTimedOut) {
                fail(QStringLiteral("-ERR Receive Timeout"));
                break;
            }
            if (!previousCut) {
                if (FLastResponse == ".") {
                    FLastResponse.clear();
                    break;
                }
                if (FLastResponse.startsWith(".."))
                    FLastResponse.remove(0, 1);
            }
            if (kind == Listing::List) {
                qint64 number = 0;
                ParseNumbers(FLastResponse, number, FMsgSize);
                MsgNum = int(std::min<qint64>(number, INT_MAX));
            } else if (kind == Listing::Uidl) {
                ParseUidl(FLastResponse, MsgNum, FMsgUidl);
            } else if (kind == Listing::Capa && !previousCut) {
                FCapabilities << FLastResponse;
            }
            fire(line);
            previousCut = FContinuation;
            net::letEventsRun();
        }
    } catch (...) {
        fire(end);
        throw;
    }
    fire(end);
    // A message cut short by a lost connection is not a message received.
    return !FTimedOut && !disconnected;
}

bool TPop3Client::takeReceivedLines(bool &ended)
{
    const QByteArrayView data = FSocket->ReceivedData();
    const char *const start = data.data();
    const char *const end = start + data.size();
    const char *p = start;
    // A line grows by at most one byte (a bare LF becomes CR LF).
    FBlock.resize(2 * data.size());
    char *const first = FBlock.data();
    char *out = first;
    int lines = 0;
    ended = false;
    while (p < end) {
        const char *const nl = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!nl)
            break;
        // The line without its carriage returns, as the socket's line reader gives it.
        char *const line = out;
        for (const char *q = p;;) {
            const char *cr = static_cast<const char *>(std::memchr(q, '\r', size_t(nl - q)));
            const char *stop = cr ? cr : nl;
            std::memcpy(out, q, size_t(stop - q));
            out += stop - q;
            if (!cr)
                break;
            q = cr + 1;
        }
        const qsizetype length = out - line;
        // A line the socket would cut is left to the line reader.
        if (length >= TCustomAsyncSocket::kMaxLineLength) {
            out = line;
            break;
        }
        p = nl + 1;
        if (length == 1 && line[0] == '.') {
            out = line;
            ended = true;
            break;
        }
        if (length >= 2 && line[0] == '.' && line[1] == '.') {
            std::memmove(line, line + 1, size_t(length - 1));
            --out;
        }
        *out++ = '\r';
        *out++ = '\n';
        ++lines;
    }
    FBlock.resize(out - first);
    if (p == start)
        return false;
    FSocket->TakeReceived(p - start);
    if (lines > 0)
        OnMessageBlock(this, FBlock, lines);
    return true;
}

bool TPop3Client::Stat()
{
    FMsgCount = 0;
    FMsgSize = 0;
    if (!RunCommand("STAT"))
        return false;
    qint64 count = 0;
    const bool parsed = ParseNumbers(FLastResponse, count, FMsgSize);
    FMsgCount = int(std::min<qint64>(count, INT_MAX));
    return parsed;
}

bool TPop3Client::List()
{
    if (MsgNum > 0) {
        if (!RunCommand("LIST", QByteArray::number(MsgNum)))
            return false;
        qint64 number = 0;
        const bool parsed = ParseNumbers(FLastResponse, number, FMsgSize);
        MsgNum = int(std::min<qint64>(number, INT_MAX));
        return parsed;
    }
    return RunCommand("LIST") && MultiLine(Listing::List);
}

bool TPop3Client::Uidl()
{
    if (MsgNum > 0)
        return RunCommand("UIDL", QByteArray::number(MsgNum)) && ParseUidl(FLastResponse, MsgNum, FMsgUidl);
    return RunCommand("UIDL") && MultiLine(Listing::Uidl);
}

bool TPop3Client::Retr() { return RunCommand("RETR", QByteArray::number(MsgNum)) && MultiLine(Listing::Message); }

bool TPop3Client::Top()
{
    if (MsgLines < 0)
        return false;
    return RunCommand("TOP", QByteArray::number(MsgNum) + " " + QByteArray::number(MsgLines)) &&
           MultiLine(Listing::Message);
}

bool TPop3Client::Delete() { return RunCommand("DELE", QByteArray::number(MsgNum)); }

bool TPop3Client::Noop() { return RunCommand("NOOP"); }

bool TPop3Client::Last() { return RunCommand("LAST"); }

bool TPop3Client::Rset() { return RunCommand("RSET"); }

bool TPop3Client::Capa()
{
    FCapabilities.clear();
    return RunCommand("CAPA") && MultiLine(Listing::Capa);
}

bool TPop3Client::HasCapability(const QByteArray &name) const
{
    for (const QByteArray &line : FCapabilities) {
        const qsizetype space = line.indexOf(' ');
        const QByteArray word = space < 0 ? line : line.left(space);
        if (word.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool TPop3Client::Send(const QList<QByteArray> &commands)
{
    if (FProtocolState != pop3Transaction)
        return false;
    SendCommands(commands);
    return true;
}

bool TPop3Client::ReadUidl() { return GetResponse() && ParseUidl(FLastResponse, MsgNum, FMsgUidl); }

bool TPop3Client::ReadRetr() { return GetResponse() && MultiLine(Listing::Message); }

bool TPop3Client::ReadReply() { return GetResponse(); }

bool TPop3Client::Quit()
{
    if (FProtocolState == pop3Disconnected)
        return true;
    bool ok = false;
    try {
        SendCommand("QUIT");
        ok = GetResponse();
    } catch (...) {
        ok = false;
    }
    FProtocolState = pop3Disconnected;
    try {
        FSocket->Close();
    } catch (...) {
    }
    return ok;
}
