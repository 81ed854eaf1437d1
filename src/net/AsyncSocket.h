#pragma once
// The system's TCP socket: a non-blocking POSIX socket driven by readiness events on
// the GUI thread (QSocketNotifier), a send queue of fixed-size chunks, and two
// blocking-looking operations for the protocol clients, Wait (for a state) and
// ReadLine (one text line), which turn a nested event loop through the wait control.
//
// Error codes are the classic socket-library numbers (10035 would block, 10054
// connection reset, 10057 not connected, 10061 refused, ...): errno values are mapped
// onto them so that messages and special cases keep their meaning.

#include "net/WaitControl.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <deque>
#include <functional>
#include <memory>

class QSocketNotifier;

class ESocketException : public platform::Error {
public:
    using platform::Error::Error;
};

enum TSocketState : quint8 {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed,
};

enum TSocketSendFlags { wsSendNormal, wsSendUrgent };

// One chunk of the send queue.
class TBuffer {
public:
    static constexpr int kCapacity = 1514;

    TBuffer();
    int Capacity() const { return kCapacity; }
    int WritePos() const { return FWritePos; }
    int ReadPos() const { return FReadPos; }

    // Copies as much of `data` as there is room for; returns the count copied.
    int Append(const char *data, int n);
    // The unread bytes: their address (nullptr when none) and `count`.
    const char *Front(int &count) const;
    // Takes up to `n` unread bytes out; a drained buffer is reset to empty.
    int Consume(int n);

private:
    std::unique_ptr<char[]> FData;
    int FWritePos = 0;
    int FReadPos = 0;
};

class TCustomAsyncSocket;

// Error: a socket error code, 0 for success.
using TDataAvailable = std::function<void(TCustomAsyncSocket *Sender, quint16 Error)>;
using TDataSent = TDataAvailable;
using TSessionClosed = TDataAvailable;
using TSessionConnected = TDataAvailable;
using TChangeState =
    std::function<void(TCustomAsyncSocket *Sender, TSocketState OldState, TSocketState NewState)>;
using TSocketNotifyEvent = std::function<void(TCustomAsyncSocket *Sender)>;

namespace net {
// Socket error codes with a special meaning here.
inline constexpr int kErrInterrupted = 10004;
inline constexpr int kErrInvalidArgument = 10022;
inline constexpr int kErrWouldBlock = 10035;
inline constexpr int kErrNotSocket = 10038;
inline constexpr int kErrConnReset = 10054;
inline constexpr int kErrNotConnected = 10057;
inline constexpr int kErrRefused = 10061;
inline constexpr int kErrNoData = 11004;

// The socket error code for an errno value (unknown values are returned unchanged).
int socketErrorCode(int errnoValue);
} // namespace net

// The description of a socket error code used in error messages.
QString SocketErrorText(int code);

// This machine's host name as the OS reports it; throws ESocketException
// "Winsock.GetHostName failed" when the OS cannot tell.
QString LocalMachineName();

class TCustomAsyncSocket : public QObject {
    Q_OBJECT
public:
    // A delivered line holds at most this many characters; longer lines are cut.
    static constexpr int kMaxLineLength = 254;
    // Reads from the OS are done in blocks of this size into the socket's own buffer.
    static constexpr int kReceiveBlock = 64 * 1024;
    // Reading from the OS pauses while this much received data waits unread.
    static constexpr int kReceiveHighWater = 256 * 1024;

    explicit TCustomAsyncSocket(QObject *owner = nullptr);
    ~TCustomAsyncSocket() override;

    // Settings, converted when written (only while closed; see SetAddr).
    QString Proto() const { return FProtoStr; }
    void SetProto(const QString &text);
    QString Port() const { return FPortStr; }
    void SetPort(const QString &text);
    QString Addr() const { return FAddrStr; }
    void SetAddr(const QString &text);

    TSocketState State() const { return FState; }
    // Bytes handed to the line reader or ReceiveInto since the last reset.
    int ReadCount() const { return FReadCount; }
    // Bytes received and not yet read (own buffer and OS buffer); -1 when the OS
    // query fails.
    int RcvdCount();
    int LastError() const { return FLastError; }
    int FlushTimeout() const { return FFlushTimeout; }
    void setFlushTimeout(int seconds) { FFlushTimeout = seconds; }
    TSocketSendFlags SendFlags() const;
    void SetSendFlags(int flags);
    net::WaitControl *WaitCtrl() const;
    void SetWaitCtrl(net::WaitControl *wait);

    // The converted port (host order) and IPv4 address (host order).
    int PortNumber() const { return FPortNum; }
    quint32 AddrNumber() const { return FAddrNum; }
    // The OS socket, -1 when there is none.
    int Handle() const { return FHandle; }
    // Received bytes held in the socket's own buffer, not yet read.
    int Buffered() const { return buffered(); }
    // Those bytes themselves, for a reader that takes many lines at once, and taking
    // the first `n` of them as read (never while a line is in progress).
    QByteArrayView ReceivedData() const { return QByteArrayView(FRx).sliced(FRxPos); }
    void TakeReceived(qsizetype n) { consumed(int(n)); }
    // Bytes in the send queue, not yet taken by the OS.
    qint64 Queued() const { return FQueued; }
    // True when a wait of this connection was aborted (ModalResult kWaitAborted, or
    // the wait control went away): the connection was closed then, and a line in
    // progress dropped. Cleared by Connect.
    bool Aborted() const { return FAborted; }
    // True while ReadLine has a line whose end has not arrived (after a timeout).
    bool LineInProgress() const { return FLineInProgress; }
    // The send queue, oldest chunk first.
    const std::deque<TBuffer> &SendQueue() const { return FSendQueue; }

    virtual void Connect();
    virtual void Close();
    virtual void CloseAbrupt();
    // Queues `length` bytes and starts sending; returns the count queued, 0 for a
    // non-positive length, -1 when not connected. OnDataSent never fires inside.
    virtual int Send(const char *data, int length);
    int SendText(const QByteArray &text);
    virtual int ReceiveInto(char *buffer, int size);
    // Every wait below counts its timeout anew whenever a byte is sent or received,
    // so it ends after that many seconds without progress.
    // Waits until State is `state` or the timeout; true when it is.
    virtual bool Wait(int timeoutSeconds, TSocketState state);
    // The next received line without its line end, or what was assembled when the
    // wait ended (after a timeout, or when the peer closed); empty after an abort.
    virtual void ReadLine(int timeoutSeconds, QByteArray &line);
    // Waits until at most `lowWater` bytes are queued; false when the connection is
    // gone, the wait was aborted or timed out.
    bool WaitQueued(int timeoutSeconds, qint64 lowWater);
    // Dotted peer address when connected, else "error".
    QString PeerAddress();
    void ShutdownSocket(int how);
    void SuspendEvents();
    void ResumeEvents();

    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSessionClosed OnSessionClosed;
    TSessionConnected OnSessionConnected;
    TChangeState OnChangeState;
    TSocketNotifyEvent OnLineTooLong;
    TSocketNotifyEvent OnError;

protected:
    // Fires OnError if assigned, else throws ESocketException(message).
    virtual void ReportError(const QString &message);
    // "Error <code> in function <operation>\r\n<text>" for the last socket error.
    void ReportSocketError(const QString &operation);
    virtual bool FireDataAvailable(quint16 error);
    virtual void FireSessionConnected(quint16 error);
    virtual void FireSessionClosed(quint16 error);
    virtual void FireDataSent(quint16 error);
    virtual void FireChangeState(TSocketState oldState, TSocketState newState);
    virtual void FireError();
    void SetState(TSocketState newState);

private:
    enum EventBits { kReadEvent = 1, kWriteEvent = 2, kConnectEvent = 16, kCloseEvent = 32 };

    void ResetDefaults();
    void FinishClose(bool withShutdown);
    void TryToSend();
    void DrainReceived(quint16 error);
    void ReadLineChars();
    void HandleEvents(int bits, quint16 error);
    void postEvent(int bits, quint16 error);
    void readReady();
    void writeReady();
    // Reads one block from the OS into the own buffer: > 0 bytes, 0 end of stream,
    // -1 failure with the code in the last socket error.
    int receiveBlock();
    int buffered() const { return int(FRx.size() - FRxPos); }
    void consumed(int n);
    void releaseHandle();
    void updateNotifiers();
    void stopWaitCtrl();
    // Runs the wait control for `timeoutSeconds`; false after an abort, which closes
    // the connection (the conversation cannot go on from an unknown point).
    bool runWait(net::WaitControl *wait, int timeoutSeconds);
    // A byte went out or came in: the running wait counts from the start again.
    void noteProgress();

    int FHandle = -1;
    bool FPortAssigned = false;
    bool FAddrAssigned = false;
    bool FProtoAssigned = true;
    QString FProtoStr = QStringLiteral("tcp");
    QString FAddrStr;
    QString FPortStr;
    int FPortNum = 0;
    quint32 FAddrNum = 0;
    int FProtocol = 6;
    bool FDatagram = false;
    TSocketState FState = wsClosed;
    int FFlushTimeout = 60;
    std::deque<TBuffer> FSendQueue;
    qint64 FQueued = 0;
    int FSendFlags = 0;
    net::WaitRef FWaitCtrl;
    TSocketState FAwaitedState = wsInvalidState;
    int FLastError = 0;
    bool FPaused = false;
    bool FAllSent = true;
    QByteArray FLine;
    bool FLineInProgress = false;
    int FReadCount = 0;
    bool FClosedFired = false;
    bool FDestroying = false;
    bool FAborted = false;
    int FWaitSeconds = 0;         // timeout of the running wait, 0 when none
    qint64 FDrainTarget = -1;     // the queue size WaitQueued waits for, -1 when none

    QByteArray FRx;          // received, not yet read
    qsizetype FRxPos = 0;    // read position in FRx
    bool FEndOfStream = false;
    quint64 FGeneration = 0; // one per connection, so stale posted events are ignored
    bool FWritePosted = false;
    bool FConnectFailed = false; // a connect refused at once, its event posted
    QSocketNotifier *FReadNotifier = nullptr;
    QSocketNotifier *FWriteNotifier = nullptr;
};

class TAsyncSocket : public TCustomAsyncSocket {
    Q_OBJECT
public:
    using TCustomAsyncSocket::TCustomAsyncSocket;
};
