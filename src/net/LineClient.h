#pragma once
// What the two line-protocol clients (SMTP and POP3) share: the socket they own, the
// wait control and its timeout binding, the trace, sending a command, reading one
// reply line, and the first steps of connecting. Each client keeps its own texts.

#include "net/AsyncSocket.h"
#include "net/WaitControl.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

namespace net {

class LineClient : public QObject {
    Q_OBJECT
public:
    // A reply line joined from the socket's pieces keeps at most this many characters
    // (RFC 5321 and RFC 1939 allow 512); the rest of a longer one is read and dropped.
    static constexpr int kMaxReplyLength = 4096;

    QString Host;
    QString Port;
    int TimeOut = 15; // seconds without progress for connecting and for each reply line
    int Tag = 0;

    // See the clients for what it holds.
    QString ErrorMessage() const { return FErrorMessage; }
    WaitControl *Wait() const { return FWait.get(); }
    // Also sets the socket's wait control.
    void SetWait(WaitControl *wait);
    TAsyncSocket *Socket() const { return FSocket; }

protected:
    LineClient(const QString &defaultPort, QObject *owner);
    ~LineClient() override;

    // The client's trace event.
    virtual void Display(const QString &msg) = 0;
    // False when the client knows its connection is gone: nothing is sent or traced.
    virtual bool canSend() const { return true; }
    // The socket reported the connection closed; the wait has been stopped.
    virtual void connectionClosed() {}

    // Traces "> " + text, lets events run, then sends text + CR LF unless the
    // connection went away meanwhile.
    void SendCommand(const QByteArray &text);
    // Sends the commands in one write without waiting for any reply, each traced as
    // SendCommand traces it, events let run once: for servers that take commands
    // ahead of their replies (pipelining).
    void SendCommands(const QList<QByteArray> &commands);
    // One reply line: the pieces of a line longer than the socket's are joined. False
    // when the line did not end: timeout, abort, the connection gone in the middle,
    // or pieces still coming `timeoutSeconds` after `since` (which sets the
    // timed-out flag).
    bool ReadReplyLine(int timeoutSeconds, const QElapsedTimer &since, QByteArray &line);
    // Lets events run, then sends `bytes` (traced already) unless the connection
    // went away meanwhile.
    void sendTraced(const QByteArray &bytes);
    // The milliseconds that `seconds` of the wait control's count last.
    qint64 countMs(int seconds) const;

    struct ConnectTexts {
        QString noWait, noHost, socketErrorPrefix, cantConnect, aborted, connected;
    };
    enum class Opening { Failed, AlreadyOpen, Opened };
    // Binds the wait's timeout to this client and clears the timed-out flag; unless
    // `connected`, clears ErrorMessage and opens the TCP connection to Host:Port. A
    // failure sets ErrorMessage to the matching text, traces it and closes the socket.
    Opening OpenConnection(const ConnectTexts &texts, bool connected);

    // ErrorMessage = text, traced.
    void fail(const QString &text);
    bool Aborted() const { return FSocket->Aborted(); }

    TAsyncSocket *const FSocket;
    QString FErrorMessage;
    bool FTimedOut = false;     // set by the wait control's timeout; cleared by connecting
    bool FContinuation = false; // set by the socket's OnLineTooLong

private:
    WaitRef FWait;
};

} // namespace net
