#pragma once
// The POP3 client: each operation sends one command over the asynchronous socket,
// waits for the reply (and the lines of a multi-line reply, handed to the
// application through events), records what it parsed, and returns true or false.
// Operations that need an earlier protocol step perform it themselves: Stat on a
// fresh client connects, sends USER and PASS, then STAT.

#include "net/LineClient.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

enum TPop3State : quint8 { pop3Disconnected, pop3WaitingUser, pop3WaitingPass, pop3Transaction, pop3Update };

class TPop3Client;

using TPop3Display = std::function<void(TPop3Client *Sender, const QString &Msg)>;
// During a line event the line is in LastResponse (listing lines already parsed).
using TPop3NotifyEvent = std::function<void(TPop3Client *Sender)>;

// Host, Port (default "pop3"), TimeOut, Tag, Wait and Socket come from LineClient.
// ErrorMessage holds only the client's own "-ERR ..." texts and a failed greeting.
class TPop3Client : public net::LineClient {
    Q_OBJECT
public:
    explicit TPop3Client(QObject *owner = nullptr);
    ~TPop3Client() override;

    QString UserName;
    QString PassWord;
    int MsgNum = 0;    // message number for the message commands
    int MsgLines = 0;  // body lines asked for by Top

    TPop3State ProtocolState() const { return FProtocolState; }
    // The last line received: bytes as they arrived, without the line end.
    const QByteArray &LastResponse() const { return FLastResponse; }
    // The greeting's timestamp with its angle brackets; empty when it had none.
    QByteArray Timestamp() const { return FTimestamp; }
    int MsgCount() const { return FMsgCount; }
    qint64 MsgSize() const { return FMsgSize; }
    QString MsgUidl() const { return FMsgUidl; }

    bool Connect();
    bool User();
    bool Pass();
    bool Rpop();
    bool Apop();
    bool Stat();
    bool List();
    bool Uidl();
    bool Retr();
    bool Top();
    bool Delete();
    bool Noop();
    bool Last();
    bool Rset();
    bool Quit();
    // CAPA (RFC 2449), with the login chain first as for Stat; true with the
    // server's capability lines in Capabilities().
    bool Capa();
    QList<QByteArray> Capabilities() const { return FCapabilities; }
    // True when a capability line of the last Capa starts with the word `name`
    // (letter case ignored).
    bool HasCapability(const QByteArray &name) const;

    // Pipelining, for a server whose capabilities list PIPELINING: Send writes
    // commands at once without waiting for their replies; the replies are then read
    // in the order the commands went out, each with the reader that matches its
    // command: ReadUidl for "UIDL n" (as Uidl with a number), ReadRetr for "RETR n"
    // (as Retr) and ReadReply for the others (as Delete). Send needs the transaction
    // state and sends nothing in any other (false).
    bool Send(const QList<QByteArray> &commands);
    bool ReadUidl();
    bool ReadRetr();
    bool ReadReply();
    // False when the last status line did not arrive whole (timeout, lost or aborted
    // connection) or the connection ended with it: after that, no later reply
    // matches its command.
    bool ReplyWhole() const { return FReplyWhole; }

    // "+OK 2 320" gives 2 and 320: the first run of digits, then after spaces the
    // next; false (both 0) when there is no second.
    static bool ParseNumbers(const QByteArray &line, qint64 &first, qint64 &second);
    // "+OK 3 abc" gives 3 and "abc" (printable characters up to the next space);
    // false when there is no number.
    static bool ParseUidl(const QByteArray &line, int &number, QString &uid);

    TPop3Display OnDisplay;
    TPop3NotifyEvent OnMessageBegin, OnMessageLine, OnMessageEnd;
    // When set, the lines of a message (RETR, TOP) that have arrived whole are handed
    // over in blocks instead of one OnMessageLine each: `block` holds `lines` lines as
    // the line events would give them (dot-unstuffing undone, carriage returns dropped),
    // each followed by CR LF. A line at the socket's length limit still comes through
    // OnMessageLine in pieces.
    std::function<void(TPop3Client *sender, QByteArrayView block, int lines)> OnMessageBlock;
    TPop3NotifyEvent OnListBegin, OnListLine, OnListEnd;
    TPop3NotifyEvent OnUidlBegin, OnUidlLine, OnUidlEnd;

protected:
    void Display(const QString &msg) override;
    void connectionClosed() override { FProtocolState = pop3Disconnected; }

private:
    enum class Listing { Message, List, Uidl, Capa };

    bool GetResponse();
    bool PassCommand(const QByteArray &word);
    bool RunCommand(const QByteArray &word, const QByteArray &argument = {});
    bool MultiLine(Listing kind);
    // Hands the message lines received whole so far to OnMessageBlock, up to the end
    // mark; true when it took any, with `ended` when the end mark was among them.
    bool takeReceivedLines(bool &ended);
    void fire(const TPop3NotifyEvent &event);

    TPop3State FProtocolState = pop3Disconnected;
    QByteArray FLastResponse;
    QByteArray FBlock;
    QByteArray FTimestamp;
    int FMsgCount = 0;
    qint64 FMsgSize = 0;
    QString FMsgUidl;
    QList<QByteArray> FCapabilities;
    bool FReplyWhole = true;
};
