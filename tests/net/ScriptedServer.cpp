#include "ScriptedServer.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nettest {

namespace {
constexpr int kStepTimeoutMs = 10000;
constexpr int kPollSliceMs = 50;
constexpr int kThrottleSliceMs = 10;
// A script that reads slowly gets a small receive buffer, so that the client's data
// waits on its side rather than in the kernel, and an Ethernet-sized segment (loopback
// segments are 64 KB, so a small window would open only in large, rare steps).
constexpr int kThrottledReceiveBuffer = 4096;
constexpr int kThrottledSegment = 1460;
} // namespace

Step::Step(const char *line)
{
    const QByteArray s(line);
    if (s.startsWith("S: ")) {
        kind = Send;
        text = s.mid(3) + "\r\n";
    } else if (s.startsWith("C: ")) {
        kind = Expect;
        text = s.mid(3);
    } else if (s.startsWith("C~ ")) {
        kind = Match;
        text = s.mid(3);
    } else if (s == "<data>") {
        kind = Data;
    } else if (s == "<close>") {
        kind = Close;
    } else if (s == "<accept>") {
        kind = Accept;
    } else if (s == "<eof>") {
        kind = ExpectClosed;
    } else if (s == "<silence>") {
        kind = Silence;
    } else if (s.startsWith("<pause ") && s.endsWith('>')) {
        kind = Pause;
        count = s.mid(7, s.size() - 8).toLongLong();
    } else {
        qFatal("ScriptedServer: cannot read script line '%s'", line);
    }
}

QString Step::describe() const
{
    switch (kind) {
    case Send: return QStringLiteral("S: ") + QString::fromLatin1(text.left(80)).trimmed();
    case Expect: return QStringLiteral("C: ") + QString::fromLatin1(text);
    case Match: return QStringLiteral("C~ ") + QString::fromLatin1(text);
    case Data: return QStringLiteral("<data>");
    case Close: return QStringLiteral("<close>");
    case Accept: return QStringLiteral("<accept>");
    case ExpectClosed: return QStringLiteral("<eof>");
    case Silence: return QStringLiteral("<silence>");
    case Pause: return QStringLiteral("<pause %1>").arg(count);
    case Flood: return QStringLiteral("flood of %1 bytes").arg(count);
    }
    return {};
}

ScriptedServer::ScriptedServer(std::initializer_list<Step> script)
    : ScriptedServer(std::vector<Step>(script))
{
}

ScriptedServer::ScriptedServer(std::vector<Step> script) : script_(std::move(script))
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (std::any_of(script_.begin(), script_.end(), [](const Step &s) { return s.kind == Step::Data && s.count > 0; })) {
        ::setsockopt(listenFd_, SOL_SOCKET, SO_RCVBUF, &kThrottledReceiveBuffer, sizeof kThrottledReceiveBuffer);
        ::setsockopt(listenFd_, IPPROTO_TCP, TCP_MAXSEG, &kThrottledSegment, sizeof kThrottledSegment);
    }
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 8) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        qFatal("ScriptedServer: cannot listen on loopback");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

ScriptedServer::~ScriptedServer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    closeClient();
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

quint16 ScriptedServer::deadPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

std::string ScriptedServer::verdict(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done_ && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::lock_guard lock(mutex_);
    QString result = failure_;
    if (!done_ && result.isEmpty())
        result = QStringLiteral("the script did not end within %1 ms").arg(timeoutMs);
    if (!result.isEmpty()) {
        result += QStringLiteral("\nconversation so far:\n");
        for (const QByteArray &entry : transcript_)
            result += QString::fromLatin1(entry.left(200)) + u'\n';
    }
    return result.toStdString();
}

QList<QByteArray> ScriptedServer::clientLines() const
{
    std::lock_guard lock(mutex_);
    return clientLines_;
}

QList<QByteArray> ScriptedServer::dataBlock() const
{
    std::lock_guard lock(mutex_);
    return dataBlock_;
}

void ScriptedServer::log(const QByteArray &entry)
{
    std::lock_guard lock(mutex_);
    transcript_.append(entry);
}

void ScriptedServer::fail(int index, const Step &step, const QString &what)
{
    std::lock_guard lock(mutex_);
    if (failure_.isEmpty())
        failure_ = QStringLiteral("step %1 (%2): %3").arg(index + 1).arg(step.describe(), what);
}

void ScriptedServer::run()
{
    if (acceptClient()) {
        for (int i = 0; i < int(script_.size()) && !stop_; ++i) {
            if (!runStep(script_[size_t(i)], i))
                break;
        }
    } else {
        fail(0, script_.empty() ? Step(Step::Accept) : script_.front(), QStringLiteral("no client connected"));
    }
    closeClient();
    done_ = true;
}

bool ScriptedServer::acceptClient()
{
    closeClient();
    pending_.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStepTimeoutMs);
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, kPollSliceMs) > 0) {
            clientFd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (clientFd_ >= 0) {
                // Script lines go out at once, not held back for the client's ACK.
                const int on = 1;
                ::setsockopt(clientFd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                log("-- connected");
                return true;
            }
        }
    }
    return false;
}

void ScriptedServer::closeClient()
{
    if (clientFd_ >= 0) {
        ::close(clientFd_);
        clientFd_ = -1;
    }
}

bool ScriptedServer::readLine(QByteArray &line, QString &why)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStepTimeoutMs);
    for (;;) {
        const qsizetype lf = pending_.indexOf('\n');
        if (lf >= 0) {
            line = pending_.left(lf);
            if (line.endsWith('\r'))
                line.chop(1);
            pending_.remove(0, lf + 1);
            std::lock_guard lock(mutex_);
            clientLines_.append(line);
            transcript_.append("C: " + line);
            return true;
        }
        if (stop_) {
            why = QStringLiteral("the test ended first");
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            why = QStringLiteral("no line from the client within %1 ms").arg(kStepTimeoutMs);
            return false;
        }
        char buffer[65536];
        size_t room = sizeof buffer;
        if (rate_ > 0) {
            // Takes a slice's share of the rate, then sleeps out the slice.
            room = size_t(std::clamp<qint64>(rate_ * kThrottleSliceMs / 1000, 1, qint64(sizeof buffer)));
            std::this_thread::sleep_for(std::chrono::milliseconds(kThrottleSliceMs));
        }
        pollfd p{clientFd_, POLLIN, 0};
        if (::poll(&p, 1, kPollSliceMs) <= 0)
            continue;
        // A throttled reader would take long to reach the end of what a client that
        // reset the connection left unread.
        const bool reset = rate_ > 0 && (p.revents & (POLLERR | POLLHUP));
        const ssize_t n = reset ? 0 : ::recv(clientFd_, buffer, room, 0);
        if (n <= 0) {
            why = QStringLiteral("the client closed the connection");
            if (!pending_.isEmpty())
                why += QStringLiteral(" after sending '%1' without a line end").arg(QString::fromLatin1(pending_));
            return false;
        }
        pending_.append(buffer, n);
    }
}

bool ScriptedServer::runStep(const Step &step, int index)
{
    QByteArray line;
    QString why;
    switch (step.kind) {
    case Step::Send: {
        log("S: " + step.text.left(200).trimmed());
        if (::send(clientFd_, step.text.constData(), size_t(step.text.size()), MSG_NOSIGNAL) != step.text.size()) {
            fail(index, step, QStringLiteral("the client went away before the server could send"));
            return false;
        }
        return true;
    }
    case Step::Flood: {
        log("S: " + step.describe().toLatin1());
        QByteArray block;
        while (block.size() < 65536)
            block += step.text;
        qint64 left = step.count;
        while (left > 0 && !stop_) {
            pollfd p{clientFd_, POLLOUT, 0};
            if (::poll(&p, 1, kPollSliceMs) <= 0)
                continue;
            const ssize_t n = ::send(clientFd_, block.constData(), size_t(std::min<qint64>(left, block.size())),
                                     MSG_NOSIGNAL);
            if (n <= 0)
                return true; // the client went away: that is allowed during a flood
            left -= n;
        }
        return true;
    }
    case Step::Expect:
        if (!readLine(line, why)) {
            fail(index, step, why);
            return false;
        }
        if (line != step.text) {
            fail(index, step, QStringLiteral("the client sent '%1'").arg(QString::fromLatin1(line)));
            return false;
        }
        return true;
    case Step::Match:
        if (!readLine(line, why)) {
            fail(index, step, why);
            return false;
        }
        if (!QRegularExpression(QString::fromLatin1(step.text)).match(QString::fromLatin1(line)).hasMatch()) {
            fail(index, step, QStringLiteral("the client sent '%1'").arg(QString::fromLatin1(line)));
            return false;
        }
        return true;
    case Step::Data: {
        rate_ = step.count;
        struct Unthrottle {
            qint64 &rate;
            ~Unthrottle() { rate = 0; }
        } unthrottle{rate_};
        QList<QByteArray> block;
        for (;;) {
            if (!readLine(line, why)) {
                fail(index, step, why + QStringLiteral(" inside the data block"));
                return false;
            }
            if (line == ".")
                break;
            block.append(line);
        }
        std::lock_guard lock(mutex_);
        dataBlock_ = block;
        return true;
    }
    case Step::Close:
        log("-- server closes");
        closeClient();
        return true;
    case Step::Accept:
        if (!acceptClient()) {
            fail(index, step, QStringLiteral("no further client connected"));
            return false;
        }
        return true;
    case Step::ExpectClosed:
    case Step::Silence:
        for (;;) {
            if (!readLine(line, why)) {
                if (why.startsWith(QStringLiteral("the client closed"))) {
                    log("-- client closed");
                    return true;
                }
                if (step.kind == Step::Silence && !why.startsWith(QStringLiteral("no line")))
                    return true;
                if (step.kind == Step::Silence)
                    continue;
                fail(index, step, why);
                return false;
            }
            if (step.kind == Step::ExpectClosed) {
                fail(index, step, QStringLiteral("the client sent '%1'").arg(QString::fromLatin1(line)));
                return false;
            }
        }
    case Step::Pause:
        std::this_thread::sleep_for(std::chrono::milliseconds(step.count));
        return true;
    }
    return false;
}

void runAsCommand(const std::function<void()> &work)
{
    QTimer::singleShot(0, qApp, [&work] {
        work();
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
}

} // namespace nettest
