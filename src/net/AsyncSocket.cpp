#include "net/AsyncSocket.h"

#include "platform/Command.h"

#include <QSocketNotifier>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The last socket error of this thread, in socket error codes.
thread_local int lastSocketError = 0;

void setLastSocketError(int code) { lastSocketError = code; }
int recordErrno() { return lastSocketError = net::socketErrorCode(errno); }

// Names this system writes itself, for machines without the services and protocols
// databases.
int knownProtocol(const QByteArray &name)
{
    if (name == "tcp")
        return 6;
    if (name == "udp")
        return 17;
    return -1;
}

int knownService(const QByteArray &name)
{
    if (name == "smtp")
        return 25;
    if (name == "pop3")
        return 110;
    return -1;
}

// The leading run of decimal digits of `text`, or -1 when it is longer than a port
// or protocol number can be.
qint64 leadingDigits(const QString &text)
{
    qint64 n = 0;
    for (qsizetype i = 0; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i) {
        n = n * 10 + (text[i].unicode() - u'0');
        if (n > 0xFFFFFF)
            return -1;
    }
    return n;
}

} // namespace

// ---- TBuffer ----

TBuffer::TBuffer() : FData(new char[kCapacity]) {}

int TBuffer::Append(const char *data, int n)
{
    const int count = std::clamp(kCapacity - FWritePos, 0, std::max(n, 0));
    if (count > 0) {
        std::memcpy(FData.get() + FWritePos, data, size_t(count));
        FWritePos += count;
    }
    return count;
}

const char *TBuffer::Front(int &count) const
{
    count = FWritePos - FReadPos;
    return count > 0 ? FData.get() + FReadPos : nullptr;
}

int TBuffer::Consume(int n)
{
    const int count = std::clamp(n, 0, FWritePos - FReadPos);
    FReadPos += count;
    if (FReadPos == FWritePos)
        FReadPos = FWritePos = 0;
    return count;
}

// ---- error codes ----

int net::socketErrorCode(int e)
{
    switch (e) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case EAGAIN: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    // A write to a connection the peer has reset or closed.
    case EPIPE:
    case ECONNRESET: return 10054;
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    default: return e;
    }
}

QString SocketErrorText(int code)
{
    const char *text = nullptr;
    switch (code) {
    case 0: text = "No Error"; break;
    case 10004: text = "Interrupted system call"; break;
    case 10009: text = "Bad file number"; break;
    case 10013: text = "Permission denied"; break;
    case 10014: text = "Bad address"; break;
    case 10022: text = "Invalid argument"; break;
    case 10024: text = "Too many open files"; break;
    case 10035: text = "Operation would block"; break;
    case 10036: text = "Operation now in progress"; break;
    case 10037: text = "Operation already in progress"; break;
    case 10038: text = "Socket operation on non-socket"; break;
    case 10039: text = "Destination address required"; break;
    case 10040: text = "Message too long"; break;
    case 10041: text = "Protocol wrong type for socket"; break;
    case 10042: text = "Protocol not available"; break;
    case 10043: text = "Protocol not supported"; break;
    case 10044: text = "Socket type not supported"; break;
    case 10045: text = "Operation not supported on socket"; break;
    case 10046: text = "Protocol family not supported"; break;
    case 10047: text = "Address family not supported by protocol family"; break;
    case 10048: text = "Address already in use"; break;
    case 10049: text = "Address not available"; break;
    case 10050: text = "Network is down"; break;
    case 10051: text = "Network is unreachable"; break;
    case 10052: text = "Network dropped connection on reset"; break;
    case 10053: text = "Connection aborted"; break;
    case 10054: text = "Connection reset by peer"; break;
    case 10055: text = "No buffer space available"; break;
    case 10056: text = "Socket is already connected"; break;
    case 10057: text = "Socket is not connected"; break;
    case 10058: text = "Can't send after socket shutdown"; break;
    case 10059: text = "Too many references: can't splice"; break;
    case 10060: text = "Connection timed out"; break;
    case 10061: text = "Connection refused"; break;
    case 10062: text = "Too many levels of symbolic links"; break;
    case 10063: text = "File name too long"; break;
    case 10064: text = "Host is down"; break;
    case 10065: text = "No route to host"; break;
    case 10066: text = "Directory not empty"; break;
    case 10067: text = "Too many processes"; break;
    case 10068: text = "Too many users"; break;
    case 10069: text = "Disc quota exceeded"; break;
    case 10070: text = "Stale NFS file handle"; break;
    case 10071: text = "Too many levels of remote in path"; break;
    case 10091: text = "Network sub-system is unusable"; break;
    case 10092: text = "WinSock DLL cannot support this application"; break;
    case 10093: text = "WinSock not initialized"; break;
    case 11001: text = "Host not found"; break;
    case 11002: text = "Non-authoritative host not found"; break;
    case 11003: text = "Non-recoverable error"; break;
    case 11004: text = "No Data"; break;
    default: text = "Not a WinSock error"; break;
    }
    return QString::fromLatin1(text);
}

QString LocalMachineName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        throw ESocketException(QStringLiteral("Winsock.GetHostName failed"));
    return QString::fromLocal8Bit(name);
}

// ---- TCustomAsyncSocket ----

TCustomAsyncSocket::TCustomAsyncSocket(QObject *owner) : QObject(owner)
{
    FReadNotifier = new QSocketNotifier(QSocketNotifier::Read, this);
    FWriteNotifier = new QSocketNotifier(QSocketNotifier::Write, this);
    connect(FReadNotifier, &QSocketNotifier::activated, this, [this](QSocketDescriptor fd) {
        if (int(fd) == FHandle)
            platform::runCommand([this] { readReady(); });
    });
    connect(FWriteNotifier, &QSocketNotifier::activated, this, [this](QSocketDescriptor fd) {
        if (int(fd) == FHandle)
            platform::runCommand([this] { writeReady(); });
    });
    ResetDefaults();
}

TCustomAsyncSocket::~TCustomAsyncSocket()
{
    FDestroying = true;
    // Whoever handled the events may already be gone.
    OnDataAvailable = OnDataSent = OnSessionClosed = OnSessionConnected = nullptr;
    OnChangeState = nullptr;
    OnLineTooLong = OnError = nullptr;
    if (FState != wsClosed) {
        try {
            Close();
        } catch (...) {
        }
    }
    if (FHandle >= 0)
        releaseHandle();
}

void TCustomAsyncSocket::ResetDefaults()
{
    FPortAssigned = false;
    FAddrAssigned = false;
    FProtoAssigned = true;
    FProtocol = 6;
    FProtoStr = QStringLiteral("tcp");
    FDatagram = false;
    FHandle = -1;
    FState = wsClosed;
    FAwaitedState = wsInvalidState;
    FPaused = false;
    FAllSent = true;
    FLineInProgress = false;
    // The line assembled so far stays: a peer closing in the middle of a line hands
    // the part to the ReadLine that is waiting for it.
    FReadCount = 0;
    FClosedFired = false;
    FFlushTimeout = 60;
}

// ---- settings ----

void TCustomAsyncSocket::SetProto(const QString &text)
{
    if (FProtoAssigned && text == FProtoStr)
        return;
    FProtoStr = text;
    if (FState != wsClosed) {
        ReportError(QStringLiteral("Cannot change Proto if not closed"));
        return;
    }
    const QString trimmed = text.trimmed();
    int number = -1;
    if (!trimmed.isEmpty() && trimmed[0].isDigit()) {
        number = int(leadingDigits(trimmed));
    } else {
        const QByteArray name = trimmed.toLatin1();
        if (const protoent *p = name.isEmpty() ? nullptr : ::getprotobyname(name.constData()))
            number = p->p_proto;
        else
            number = knownProtocol(name.toLower());
    }
    if (number < 0) {
        FProtoAssigned = false;
        setLastSocketError(net::kErrNoData);
        ReportSocketError(QStringLiteral("SetProto: Cannot convert protocol '%1'").arg(text));
        return;
    }
    FProtocol = number;
    FProtoAssigned = true;
    FDatagram = number == 17;
}

void TCustomAsyncSocket::SetPort(const QString &text)
{
    if (FPortAssigned && text == FPortStr)
        return;
    FPortStr = text;
    if (FState != wsClosed) {
        ReportError(QStringLiteral("Cannot change Port if not closed"));
        return;
    }
    FPortAssigned = true;
    const QString trimmed = text.trimmed();
    qint64 number = -1;
    if (!trimmed.isEmpty() && trimmed[0].isDigit()) {
        number = leadingDigits(trimmed);
        if (number > 65535) {
            number = -1;
            setLastSocketError(net::kErrInvalidArgument);
        }
    } else {
        const QByteArray name = trimmed.toLatin1();
        const QByteArray proto = FProtoStr.trimmed().toLatin1();
        if (const servent *s = name.isEmpty() ? nullptr
                                              : ::getservbyname(name.constData(),
                                                                proto.isEmpty() ? nullptr : proto.constData()))
            number = ntohs(quint16(s->s_port));
        else
            number = knownService(name.toLower());
        if (number < 0)
            setLastSocketError(net::kErrNoData);
    }
    if (number < 0) {
        FPortAssigned = false;
        ReportSocketError(QStringLiteral("SetPort: Cannot convert port '%1'").arg(text));
        return;
    }
    FPortNum = int(number);
}

void TCustomAsyncSocket::SetAddr(const QString &text)
{
    if (FAddrAssigned && text == FAddrStr)
        return;
    FAddrStr = text;
    if (FState != wsClosed) {
        ReportError(QStringLiteral("Cannot change Addr if not closed"));
        return;
    }
    FAddrAssigned = false;
    const QByteArray name = text.trimmed().toUtf8();
    in_addr address{};
    if (name == "255.255.255.255") {
        address.s_addr = INADDR_BROADCAST;
    } else if (name.isEmpty() || ::inet_aton(name.constData(), &address) == 0) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *result = nullptr;
        if (name.isEmpty() || ::getaddrinfo(name.constData(), nullptr, &hints, &result) != 0 || !result)
            throw ESocketException(QStringLiteral("SetAddr: Cannot convert host address '%1'").arg(text));
        address = reinterpret_cast<sockaddr_in *>(result->ai_addr)->sin_addr;
        ::freeaddrinfo(result);
    }
    FAddrNum = ntohl(address.s_addr);
    FAddrAssigned = true;
}

TSocketSendFlags TCustomAsyncSocket::SendFlags() const
{
    return FSendFlags == MSG_OOB ? wsSendUrgent : wsSendNormal;
}

void TCustomAsyncSocket::SetSendFlags(int flags)
{
    if (flags == wsSendNormal)
        FSendFlags = 0;
    else if (flags == wsSendUrgent)
        FSendFlags = MSG_OOB;
    else
        ReportError(QStringLiteral("Invalid SendFlags"));
}

net::WaitControl *TCustomAsyncSocket::WaitCtrl() const { return FWaitCtrl.get(); }

void TCustomAsyncSocket::SetWaitCtrl(net::WaitControl *wait) { FWaitCtrl.set(wait); }

void TCustomAsyncSocket::stopWaitCtrl()
{
    // Most lines of a large message are already buffered when they are read: no wait
    // runs then, and stopping one (its timer, its caption) for each line would cost
    // more than reading it.
    net::WaitControl *wait = WaitCtrl();
    if (wait && wait->Running())
        wait->StopWait();
}

// ---- errors and events ----

void TCustomAsyncSocket::ReportError(const QString &message)
{
    if (OnError) {
        FireError();
        return;
    }
    throw ESocketException(message);
}

void TCustomAsyncSocket::ReportSocketError(const QString &operation)
{
    const int code = lastSocketError;
    const QString message = QStringLiteral("Error %1 in function %2\r\n%3")
                                .arg(code)
                                .arg(operation, SocketErrorText(code));
    if (code == net::kErrConnReset || code == net::kErrNotConnected) {
        if (FHandle >= 0)
            releaseHandle();
        SetState(wsClosed);
    }
    ReportError(message);
}

bool TCustomAsyncSocket::FireDataAvailable(quint16 error)
{
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(this, error);
    return true;
}

void TCustomAsyncSocket::FireSessionConnected(quint16 error)
{
    if (OnSessionConnected)
        OnSessionConnected(this, error);
}

void TCustomAsyncSocket::FireSessionClosed(quint16 error)
{
    if (OnSessionClosed)
        OnSessionClosed(this, error);
}

void TCustomAsyncSocket::FireDataSent(quint16 error)
{
    if (OnDataSent)
        OnDataSent(this, error);
}

void TCustomAsyncSocket::FireChangeState(TSocketState oldState, TSocketState newState)
{
    if (OnChangeState)
        OnChangeState(this, oldState, newState);
}

void TCustomAsyncSocket::FireError()
{
    if (OnError)
        OnError(this);
}

void TCustomAsyncSocket::SetState(TSocketState newState)
{
    const TSocketState oldState = FState;
    FState = newState;
    updateNotifiers();
    FireChangeState(oldState, newState);
    if (WaitCtrl() && (newState == FAwaitedState || (FAwaitedState == wsConnected && newState == wsClosed) ||
                       (newState == wsClosed && FDrainTarget >= 0)))
        stopWaitCtrl();
}

// ---- connecting and closing ----

void TCustomAsyncSocket::Connect()
{
    if (FHandle >= 0 && FState != wsClosed) {
        ReportError(QStringLiteral("Connect: Socket already in use"));
        return;
    }
    if (!FPortAssigned) {
        ReportError(QStringLiteral("Connect: No Port Specified"));
        return;
    }
    if (!FAddrAssigned) {
        ReportError(QStringLiteral("Connect: No IP Address Specified"));
        return;
    }
    if (!FProtoAssigned) {
        ReportError(QStringLiteral("Connect: No Protocol Specified"));
        return;
    }
    if (FDatagram) {
        ReportError(QStringLiteral("Connect: datagram sockets are not supported"));
        return;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, FProtocol);
    if (fd < 0) {
        recordErrno();
        ReportSocketError(QStringLiteral("Connect (socket)"));
        return;
    }
    FHandle = fd;
    ++FGeneration;
    FAborted = false;
    FRx.clear();
    FRxPos = 0;
    FEndOfStream = false;
    FWritePosted = false;
    FConnectFailed = false;
    FReadNotifier->setSocket(fd);
    FWriteNotifier->setSocket(fd);
    SetState(wsOpened);

    // Linger 0: the close resets the connection at once. TCP_NODELAY: a short
    // command is not held back waiting for the peer's delayed acknowledgement.
    const linger lingerOff{1, 0};
    const int on = 1;
    struct Option {
        int level, name;
        const void *value;
        socklen_t size;
        const char *label;
    };
    const Option options[] = {
        {SOL_SOCKET, SO_LINGER, &lingerOff, sizeof lingerOff, "setsockopt(SO_LINGER)"},
        {SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on, "setsockopt(SO_KEEPALIVE)"},
        {SOL_SOCKET, SO_REUSEADDR, &on, sizeof on, "setsockopt(SO_REUSEADDR)"},
        {IPPROTO_TCP, TCP_NODELAY, &on, sizeof on, "setsockopt(TCP_NODELAY)"},
    };
    for (const Option &o : options) {
        if (::setsockopt(fd, o.level, o.name, o.value, o.size) != 0) {
            recordErrno();
            ReportSocketError(QString::fromLatin1(o.label));
            return;
        }
    }

    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(quint16(FPortNum));
    remote.sin_addr.s_addr = htonl(FAddrNum);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&remote), sizeof remote) == 0 || errno == EINPROGRESS) {
        // Completion (or failure) shows as writability.
        SetState(wsConnecting);
        return;
    }
    const int code = recordErrno();
    switch (code) {
    case 10050: case 10051: case 10053: case 10054: case 10060: case 10061: case 10064: case 10065:
        // A connect refused at once still arrives as a connect event with its error,
        // like one refused later.
        // The socket is writable in its failed state, so the write notifier stays
        // off until that event is handled.
        FConnectFailed = true;
        SetState(wsConnecting);
        postEvent(kConnectEvent, quint16(code));
        return;
    default:
        FLastError = code;
        ReportSocketError(QStringLiteral("Connect"));
    }
}

void TCustomAsyncSocket::Close() { FinishClose(true); }

void TCustomAsyncSocket::CloseAbrupt() { FinishClose(false); }

void TCustomAsyncSocket::releaseHandle()
{
    FReadNotifier->setSocket(-1);
    FWriteNotifier->setSocket(-1);
    const int fd = FHandle;
    FHandle = -1;
    ++FGeneration;
    FRx.clear();
    FRxPos = 0;
    FEndOfStream = false;
    // What was queued for this connection must never go out on the next one.
    FSendQueue.clear();
    FQueued = 0;
    FAllSent = true;
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) {
        FLastError = recordErrno();
        ReportSocketError(QStringLiteral("Disconnect (closesocket)"));
    }
}

void TCustomAsyncSocket::FinishClose(bool withShutdown)
{
    if (FHandle < 0) {
        if (FState != wsClosed) {
            SetState(wsClosed);
            ResetDefaults();
        }
        return;
    }
    if (FState == wsClosed)
        return;
    if (withShutdown)
        ::shutdown(FHandle, SHUT_RDWR);
    releaseHandle();
    QPointer<TCustomAsyncSocket> self(this);
    SetState(wsClosed);
    if (!self)
        return;
    if (!FDestroying && OnSessionClosed && !FClosedFired) {
        FClosedFired = true;
        FireSessionClosed(0);
        if (!self)
            return;
    }
    ResetDefaults();
}

void TCustomAsyncSocket::ShutdownSocket(int how)
{
    if (FHandle >= 0)
        ::shutdown(FHandle, how);
}

void TCustomAsyncSocket::SuspendEvents()
{
    FPaused = true;
    updateNotifiers();
}

void TCustomAsyncSocket::ResumeEvents()
{
    FPaused = false;
    updateNotifiers();
}

QString TCustomAsyncSocket::PeerAddress()
{
    if (FState != wsConnected)
        return QStringLiteral("error");
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(FHandle, reinterpret_cast<sockaddr *>(&peer), &size) != 0) {
        recordErrno();
        ReportSocketError(QStringLiteral("GetPeerName"));
        return QStringLiteral("error");
    }
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    return QString::fromLatin1(text);
}

// ---- event delivery ----

void TCustomAsyncSocket::updateNotifiers()
{
    const bool open = FHandle >= 0 && !FPaused;
    FReadNotifier->setEnabled(open && FState == wsConnected && !FEndOfStream &&
                              buffered() < kReceiveHighWater);
    FWriteNotifier->setEnabled(open && ((FState == wsConnecting && !FConnectFailed) ||
                                        (FState == wsConnected && !FAllSent)));
}

void TCustomAsyncSocket::postEvent(int bits, quint16 error)
{
    const quint64 generation = FGeneration;
    QMetaObject::invokeMethod(
        this,
        [this, generation, bits, error] {
            if (bits & kWriteEvent)
                FWritePosted = false;
            if (generation != FGeneration || FHandle < 0 || FPaused)
                return;
            platform::runCommand([&] { HandleEvents(bits, error); });
        },
        Qt::QueuedConnection);
}

void TCustomAsyncSocket::readReady()
{
    if (FPaused || FState != wsConnected)
        return;
    if (buffered() >= kReceiveHighWater) {
        updateNotifiers();
        return;
    }
    const int n = receiveBlock();
    if (n > 0) {
        HandleEvents(kReadEvent, 0);
    } else if (n == 0) {
        FEndOfStream = true;
        updateNotifiers();
        HandleEvents(kCloseEvent, 0);
    } else if (lastSocketError != net::kErrWouldBlock && lastSocketError != net::kErrInterrupted) {
        FEndOfStream = true;
        updateNotifiers();
        HandleEvents(kCloseEvent, quint16(lastSocketError));
    }
}

void TCustomAsyncSocket::writeReady()
{
    if (FPaused)
        return;
    if (FState == wsConnecting) {
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(FHandle, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            error = errno;
        HandleEvents(kConnectEvent, quint16(net::socketErrorCode(error)));
    } else {
        HandleEvents(kWriteEvent, 0);
    }
}

void TCustomAsyncSocket::HandleEvents(int bits, quint16 error)
{
    QPointer<TCustomAsyncSocket> self(this);
    if (bits & kConnectEvent) {
        FConnectFailed = false;
        SetState(wsConnected);
        if (!self)
            return;
        FireSessionConnected(error);
        if (!self)
            return;
        if (error != 0 && FState != wsClosed)
            Close();
        if (!self)
            return;
    }
    if ((bits & kReadEvent) && FHandle >= 0) {
        DrainReceived(error);
        if (!self)
            return;
    }
    if ((bits & kWriteEvent) && FHandle >= 0) {
        TryToSend();
        updateNotifiers();
        if (FDrainTarget >= 0 && FQueued <= FDrainTarget)
            stopWaitCtrl();
        if (FAllSent && OnDataSent)
            FireDataSent(error);
        if (!self)
            return;
    }
    if ((bits & kCloseEvent) && FHandle >= 0 && FState != wsConnecting) {
        DrainReceived(error);
        if (!self)
            return;
        if (FLineInProgress) {
            FLineInProgress = false;
            stopWaitCtrl();
        }
        if (OnSessionClosed && !FClosedFired) {
            FClosedFired = true;
            FireSessionClosed(error);
            if (!self)
                return;
        }
        if (FState != wsClosed)
            Close();
    }
}

// ---- receiving ----

int TCustomAsyncSocket::receiveBlock()
{
    if (FRxPos > 0 && FRxPos == FRx.size()) {
        FRx.resize(0);
        FRxPos = 0;
    } else if (FRxPos >= kReceiveBlock) {
        FRx.remove(0, FRxPos);
        FRxPos = 0;
    }
    const qsizetype old = FRx.size();
    FRx.resize(old + kReceiveBlock);
    ssize_t n;
    do {
        n = ::recv(FHandle, FRx.data() + old, kReceiveBlock, 0);
    } while (n < 0 && errno == EINTR);
    FRx.resize(old + std::max<ssize_t>(n, 0));
    if (n < 0)
        recordErrno();
    else if (n > 0)
        noteProgress();
    return int(n);
}

void TCustomAsyncSocket::consumed(int n)
{
    FRxPos += n;
    FReadCount += n;
    if (FRxPos == FRx.size()) {
        FRx.resize(0);
        FRxPos = 0;
    }
    if (FHandle >= 0 && !FReadNotifier->isEnabled())
        updateNotifiers();
}

int TCustomAsyncSocket::RcvdCount()
{
    int waiting = 0;
    if (FHandle >= 0 && ::ioctl(FHandle, FIONREAD, &waiting) != 0) {
        recordErrno();
        ReportSocketError(QStringLiteral("ioctlSocket"));
        return -1;
    }
    return buffered() + waiting;
}

int TCustomAsyncSocket::ReceiveInto(char *buffer, int size)
{
    if (size <= 0)
        return 0;
    if (buffered() == 0 && FHandle >= 0 && FState == wsConnected) {
        const int n = receiveBlock();
        if (n < 0) {
            FLastError = lastSocketError;
            return -1;
        }
        if (n == 0)
            return 0;
    }
    const int n = std::min(size, buffered());
    if (n > 0) {
        std::memcpy(buffer, FRx.constData() + FRxPos, size_t(n));
        consumed(n);
    }
    return n;
}

void TCustomAsyncSocket::DrainReceived(quint16 error)
{
    QPointer<TCustomAsyncSocket> self(this);
    try {
        for (;;) {
            FLastError = 0;
            const int before = buffered();
            const bool lineBefore = FLineInProgress;
            if (FLineInProgress) {
                ReadLineChars();
            } else if (!FireDataAvailable(error)) {
                return;
            }
            if (!self || FLastError != 0 || FHandle < 0 || buffered() == 0)
                return;
            // Stop when the handler took nothing: the data waits for the next reader.
            if (buffered() >= before && FLineInProgress == lineBefore)
                return;
        }
    } catch (...) {
        // A failure while draining ends the drain; the reader sees it next time.
    }
}

void TCustomAsyncSocket::ReadLine(int timeoutSeconds, QByteArray &line)
{
    net::WaitControl *wait = WaitCtrl();
    if (!wait) {
        ReportError(QStringLiteral("No wait object assigned"));
        return;
    }
    if (!FLineInProgress) {
        // Keeps the capacity of the buffer the caller handed back with the last line.
        FLine.resize(0);
        FLineInProgress = true;
    }
    ReadLineChars();
    if (FLineInProgress && !runWait(wait, timeoutSeconds)) {
        // What came of a line whose end the wait did not see is not a line.
        FLineInProgress = false;
        FLine.clear();
    }
    // A finished line changes places with the caller's buffer: no copy and no
    // allocation per line. A line still in progress stays to be continued.
    if (FLineInProgress)
        line = FLine;
    else
        line.swap(FLine);
}

bool TCustomAsyncSocket::runWait(net::WaitControl *wait, int timeoutSeconds)
{
    QPointer<QObject> guard(FWaitCtrl.object());
    const int outerSeconds = FWaitSeconds;
    FWaitSeconds = timeoutSeconds;
    wait->setCaption(QString::number(timeoutSeconds));
    wait->showWait(true);
    wait->RunWait();
    FWaitSeconds = outerSeconds;
    const bool aborted = !guard || wait->ModalResult() == net::kWaitAborted;
    if (guard)
        wait->showWait(false);
    if (!aborted)
        return true;
    FAborted = true;
    if (FState != wsClosed)
        Close();
    return false;
}

void TCustomAsyncSocket::noteProgress()
{
    if (FWaitSeconds <= 0)
        return;
    net::WaitControl *wait = WaitCtrl();
    if (wait && wait->Running())
        wait->setCaption(QString::number(FWaitSeconds));
}

void TCustomAsyncSocket::ReadLineChars()
{
    for (;;) {
        if (FHandle < 0) {
            FLineInProgress = false;
            stopWaitCtrl();
            return;
        }
        if (buffered() == 0) {
            if (FState != wsConnected || FEndOfStream)
                return;
            const int n = receiveBlock();
            if (n > 0)
                continue;
            if (n == 0 || lastSocketError == net::kErrConnReset) {
                FLineInProgress = false;
                stopWaitCtrl();
                Close();
                return;
            }
            if (lastSocketError == net::kErrWouldBlock)
                return; // the next read event continues the line
            ReportSocketError(QStringLiteral("ReadLine"));
            return;
        }

        const char *const start = FRx.constData() + FRxPos;
        const char *const end = FRx.constData() + FRx.size();
        const char *p = start;
        bool ended = false, cut = false;
        while (p < end) {
            const qsizetype room = kMaxLineLength - FLine.size();
            const char *limit = p + std::min<qsizetype>(end - p, room);
            // The first CR or LF before the limit (memchr looks at many bytes at once).
            const char *q = static_cast<const char *>(std::memchr(p, '\n', size_t(limit - p)));
            if (!q)
                q = limit;
            if (const void *cr = std::memchr(p, '\r', size_t(q - p)))
                q = static_cast<const char *>(cr);
            FLine.append(p, q - p);
            p = q;
            if (FLine.size() >= kMaxLineLength) {
                cut = true;
                break;
            }
            if (p == end)
                break;
            if (*p++ == '\n') {
                ended = true;
                break;
            }
        }
        consumed(int(p - start));
        if (cut) {
            // The 254th character counts as the line's end.
            FLineInProgress = false;
            QPointer<TCustomAsyncSocket> self(this);
            if (OnLineTooLong)
                OnLineTooLong(this);
            if (self)
                stopWaitCtrl();
            return;
        }
        if (ended) {
            FLineInProgress = false;
            stopWaitCtrl();
            return;
        }
    }
}

bool TCustomAsyncSocket::Wait(int timeoutSeconds, TSocketState state)
{
    if (FState == state)
        return true;
    FAwaitedState = state;
    net::WaitControl *wait = WaitCtrl();
    if (!wait) {
        FAwaitedState = wsInvalidState;
        setLastSocketError(net::kErrNoData);
        ReportSocketError(QStringLiteral("TAsyncSocket.Wait"));
        return false;
    }
    const bool ran = runWait(wait, timeoutSeconds);
    const bool reached = ran && FState == state;
    FAwaitedState = wsInvalidState;
    return reached;
}

bool TCustomAsyncSocket::WaitQueued(int timeoutSeconds, qint64 lowWater)
{
    if (FState != wsConnected)
        return false;
    if (FQueued <= lowWater)
        return true;
    net::WaitControl *wait = WaitCtrl();
    if (!wait) {
        ReportError(QStringLiteral("No wait object assigned"));
        return false;
    }
    FDrainTarget = lowWater;
    const bool ran = runWait(wait, timeoutSeconds);
    FDrainTarget = -1;
    return ran && FState == wsConnected && FQueued <= lowWater;
}

// ---- sending ----

int TCustomAsyncSocket::Send(const char *data, int length)
{
    if (FState != wsConnected) {
        setLastSocketError(net::kErrNotConnected);
        ReportSocketError(QStringLiteral("Send"));
        return -1;
    }
    if (length <= 0)
        return 0;
    FAllSent = false;
    FQueued += length;
    if (FSendQueue.empty())
        FSendQueue.emplace_back();
    int queued = FSendQueue.back().Append(data, length);
    while (queued < length) {
        FSendQueue.emplace_back();
        queued += FSendQueue.back().Append(data + queued, length - queued);
    }
    TryToSend();
    if (FAllSent && !FWritePosted && FHandle >= 0) {
        // OnDataSent fires later from the event loop, never inside Send.
        FWritePosted = true;
        postEvent(kWriteEvent, 0);
    }
    updateNotifiers();
    return length;
}

int TCustomAsyncSocket::SendText(const QByteArray &text) { return Send(text.constData(), int(text.size())); }

void TCustomAsyncSocket::TryToSend()
{
    if (FHandle < 0 || FSendQueue.empty())
        return;
    for (;;) {
        TBuffer &front = FSendQueue.front();
        int count = 0;
        const char *data = front.Front(count);
        if (count > 0) {
            ssize_t n;
            do {
                n = ::send(FHandle, data, size_t(count), MSG_NOSIGNAL | FSendFlags);
            } while (n < 0 && errno == EINTR);
            if (n == 0)
                return;
            if (n < 0) {
                const int code = recordErrno();
                switch (code) {
                case net::kErrConnReset:
                case net::kErrNotSocket:
                case net::kErrNotConnected:
                case net::kErrInvalidArgument:
                    Close();
                    return;
                case net::kErrWouldBlock:
                    return; // the next write event continues
                default:
                    ReportSocketError(QStringLiteral("TryToSend failed"));
                    return;
                }
            }
            front.Consume(int(n));
            FQueued -= n;
            noteProgress();
            if (n == count)
                continue;
            return;
        }
        if (FSendQueue.size() > 1) {
            FSendQueue.pop_front();
            continue;
        }
        FAllSent = true; // the last chunk stays for reuse
        return;
    }
}
