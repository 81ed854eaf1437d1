#include "net/LineClient.h"

#include "net/EventPump.h"

#include <QPointer>
#include <algorithm>

namespace net {

LineClient::LineClient(const QString &defaultPort, QObject *owner)
    : QObject(owner), Port(defaultPort), FSocket(new TAsyncSocket(this))
{
    FSocket->OnSessionClosed = [this](TCustomAsyncSocket *, quint16) {
        if (WaitControl *wait = Wait())
            wait->StopWait();
        connectionClosed();
    };
    FSocket->OnLineTooLong = [this](TCustomAsyncSocket *) { FContinuation = true; };
}

LineClient::~LineClient()
{
    FSocket->OnSessionClosed = nullptr;
    FSocket->OnLineTooLong = nullptr;
    if (WaitControl *wait = Wait())
        wait->bindTimeout(nullptr);
}

void LineClient::SetWait(WaitControl *wait)
{
    FWait.set(wait);
    FSocket->SetWaitCtrl(wait);
}

void LineClient::fail(const QString &text)
{
    FErrorMessage = text;
    Display(text);
}

qint64 LineClient::countMs(int seconds) const { return qint64(seconds) * (Wait() ? Wait()->Interval() : 1000); }

void LineClient::SendCommand(const QByteArray &text)
{
    if (!canSend())
        return;
    Display(QStringLiteral("> ") + QString::fromUtf8(text));
    sendTraced(text + "\r\n");
}

void LineClient::SendCommands(const QList<QByteArray> &commands)
{
    if (!canSend() || commands.isEmpty())
        return;
    QByteArray all;
    for (const QByteArray &text : commands) {
        Display(QStringLiteral("> ") + QString::fromUtf8(text));
        all += text;
        all += "\r\n";
    }
    sendTraced(all);
}

void LineClient::sendTraced(const QByteArray &bytes)
{
    letEventsRun();
    // The events may have brought the server's close: then nothing is sent.
    if (!canSend() || FSocket->State() != wsConnected)
        return;
    FSocket->SendText(bytes);
}

bool LineClient::ReadReplyLine(int timeoutSeconds, const QElapsedTimer &since, QByteArray &line)
{
    line.clear();
    for (;;) {
        FContinuation = false;
        QByteArray piece;
        FSocket->ReadLine(timeoutSeconds, piece);
        line += piece.left(std::max<qsizetype>(0, kMaxReplyLength - line.size()));
        if (Aborted() || FSocket->LineInProgress())
            return false;
        if (!FContinuation)
            return true;
        if (FSocket->State() != wsConnected)
            return false;
        if (since.elapsed() > countMs(timeoutSeconds)) {
            // A line that goes on and on ends after the time one line may take.
            FTimedOut = true;
            return false;
        }
    }
}

LineClient::Opening LineClient::OpenConnection(const ConnectTexts &texts, bool connected)
{
    WaitControl *wait = Wait();
    if (!wait) {
        fail(texts.noWait);
        return Opening::Failed;
    }
    QPointer<LineClient> self(this);
    wait->bindTimeout([self] {
        if (self)
            self->FTimedOut = true;
    });
    FTimedOut = false;
    if (connected)
        return Opening::AlreadyOpen;

    FErrorMessage.clear();
    if (Host.isEmpty()) {
        fail(texts.noHost);
        return Opening::Failed;
    }
    try {
        FSocket->SetProto(QStringLiteral("tcp"));
        FSocket->SetPort(Port);
        FSocket->SetAddr(Host);
        FSocket->OnDataAvailable = nullptr;
        FSocket->Connect();
    } catch (const ESocketException &e) {
        fail(texts.socketErrorPrefix + e.message());
        FSocket->Close();
        return Opening::Failed;
    }
    if (!FSocket->Wait(TimeOut, wsConnected)) {
        fail(Aborted() ? texts.aborted : texts.cantConnect);
        FSocket->Close();
        return Opening::Failed;
    }
    Display(texts.connected);
    return Opening::Opened;
}

} // namespace net
