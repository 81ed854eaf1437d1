#include "net/SmtpClient.h"

#include "net/Base64.h"
#include "net/EventPump.h"
#include "net/MailHeaders.h"
#include "platform/Clock.h"
#include "platform/Command.h"
#include "platform/Error.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>

namespace {

// A wait ended from outside (the program quits): the connection was dropped.
const QString kAborted = QStringLiteral("554 connection aborted");

// The reply's code: the decimal number at its start after white space, 0 without.
int replyCode(const QString &reply)
{
    qsizetype i = 0;
    while (i < reply.size() && (reply[i] == u' ' || reply[i] == u'\t' || reply[i] == u'\r' || reply[i] == u'\n'))
        ++i;
    int code = 0;
    for (; i < reply.size() && reply[i] >= u'0' && reply[i] <= u'9' && code < 100000; ++i)
        code = code * 10 + (reply[i].unicode() - u'0');
    return code;
}

QByteArray withoutLineBreaks(QString text)
{
    text.remove(u'\r');
    text.remove(u'\n');
    return text.toUtf8();
}

// A file name inside a quoted MIME parameter.
QByteArray quotedParameter(const QString &name)
{
    QByteArray out;
    for (char c : withoutLineBreaks(name)) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

} // namespace

// ---- TCustomSmtpClient ----

TCustomSmtpClient::TCustomSmtpClient(QObject *owner) : net::LineClient(QStringLiteral("smtp"), owner) {}

TCustomSmtpClient::~TCustomSmtpClient() = default;

void TCustomSmtpClient::Display(const QString &msg)
{
    if (OnDisplay)
        OnDisplay(this, msg);
}

void TCustomSmtpClient::setError(const QString &text)
{
    if (FErrorMessage.isEmpty())
        FErrorMessage = text;
}

void TCustomSmtpClient::FireGetData(int LineNum, QByteArray &MsgLine, bool &More, int MaxLen)
{
    if (OnGetData)
        OnGetData(this, LineNum, MsgLine, MaxLen, More);
    else
        More = false;
}

void TCustomSmtpClient::FireHeaderLine(QByteArray &Msg, int Size)
{
    if (OnHeaderLine)
        OnHeaderLine(this, Msg, Size);
}

int TCustomSmtpClient::GetReply(int timeOut)
{
    if (timeOut <= 0)
        timeOut = TimeOut;
    if (FPhase == 0) {
        FLastResponse = Aborted() ? kAborted : QStringLiteral("554 not connected");
        Display(QStringLiteral("< ") + FLastResponse);
        return replyCode(FLastResponse);
    }
    // A reply that goes on and on ends after the time one line may take.
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QByteArray line;
        // A line longer than the socket's comes in pieces; joined, its fourth
        // character still tells whether the reply goes on.
        const bool ended = ReadReplyLine(timeOut, clock, line);
        FLastResponse = QString::fromUtf8(line);
        bool continued = false;
        if (Aborted()) {
            FLastResponse = kAborted;
        } else {
            if (!FTimedOut && FLastResponse.isEmpty() && FPhase == 0)
                FLastResponse = QStringLiteral("554 not connected");
            continued = ended && FLastResponse.size() >= 4 && FLastResponse[3] == u'-';
            if (continued && !FTimedOut && clock.elapsed() > countMs(timeOut))
                FTimedOut = true;
            if (FTimedOut)
                FLastResponse = QStringLiteral("554 receive timeout");
        }
        Display(QStringLiteral("< ") + FLastResponse);
        if (FTimedOut || !continued)
            break;
    }
    return replyCode(FLastResponse);
}

bool TCustomSmtpClient::checkReply(int expected1, int expected2, bool closeOnFailure, int timeOut)
{
    const int code = GetReply(timeOut);
    if (code == expected1 || code == expected2)
        return false;
    // A failure must always leave a text behind, or the caller takes it for success.
    setError(FLastResponse.isEmpty() ? QStringLiteral("554 empty reply") : FLastResponse);
    if (closeOnFailure)
        FSocket->Close();
    return true;
}

bool TCustomSmtpClient::CheckReply(int expected, bool closeOnFailure, int timeOut)
{
    return checkReply(expected, expected, closeOnFailure, timeOut);
}

bool TCustomSmtpClient::CheckReplyEither(int expected1, int expected2, bool closeOnFailure)
{
    return checkReply(expected1, expected2, closeOnFailure, 0);
}

bool TCustomSmtpClient::Connect()
{
    const ConnectTexts texts{QStringLiteral("No wait object"),
                             QStringLiteral("No host specified"),
                             QString(),
                             QStringLiteral("Can't connect to host '%1'").arg(Host),
                             kAborted,
                             QStringLiteral("Connected with SMTP server")};
    const Opening opening = OpenConnection(texts, FPhase != 0);
    if (opening != Opening::Opened)
        return opening == Opening::AlreadyOpen;
    FPhase = 1;
    if (CheckReply(220, true))
        return false;
    SendCommand("HELO " + (SignOn.isEmpty() ? LocalMachineName() : SignOn).toUtf8());
    if (CheckReply(250, true))
        return false;
    FPhase = 2;
    return true;
}

void TCustomSmtpClient::SendHeaderLine(QByteArray line)
{
    FireHeaderLine(line, kHeaderLineSize);
    if (!line.isEmpty())
        SendCommand(line);
}

void TCustomSmtpClient::SendBodyLine(const QByteArray &line)
{
    // One body line is one line on the wire: a line break inside it starts a new
    // line (dot-stuffed like any other), so it can never end the data early.
    qsizetype start = 0;
    for (;;) {
        const qsizetype lf = line.indexOf('\n', start);
        QByteArray piece = line.mid(start, lf < 0 ? -1 : lf - start);
        piece.replace('\r', QByteArray());
        if (piece.startsWith('.'))
            piece.prepend('.');
        SendCommand(piece);
        if (lf < 0)
            return;
        start = lf + 1;
    }
}

bool TCustomSmtpClient::SendMail()
{
    if (FPhase == 0 && !Connect())
        return false;

    SendCommand("MAIL FROM:<" + withoutLineBreaks(FromName.trimmed()) + ">");
    if (CheckReply(250, false))
        return false;
    for (const QString &recipient : std::as_const(RcptName)) {
        SendCommand("RCPT TO:<" + withoutLineBreaks(recipient.trimmed()) + ">");
        if (CheckReplyEither(250, 251, false))
            return false;
    }
    SendCommand("DATA");
    if (CheckReply(354, false))
        return false;

    const QDateTime now = platform::now();
    QString host;
    try {
        host = LocalMachineName();
    } catch (const ESocketException &) {
    }
    SendHeaderLine("From: " + net::encodeAddress(HdrFrom));
    SendHeaderLine("To: " + net::encodeAddressList(HdrTo));
    SendHeaderLine("Subject: " + net::encodeHeaderText(HdrSubject));
    SendHeaderLine("Date: " + net::rfc5322Date(now));
    SendHeaderLine("Message-ID: " + net::newMessageId(now, host));
    SendHeaderLine("Mime-Version: 1.0");
    SendHeaderLine("Content-Type: text/plain; charset=\"" + CharSet.toLatin1() + "\"");
    SendCommand(QByteArray());

    bool more = true;
    QString failure;
    for (int lineNum = 1; more && FPhase == 2; ++lineNum) {
        if (!waitForSendRoom()) {
            failure = QStringLiteral("554 send timeout");
            break;
        }
        QByteArray line;
        try {
            FireGetData(lineNum, line, more, kMaxLineLength);
        } catch (...) {
            more = false;
            failure = platform::currentExceptionText();
        }
        if (!more)
            break;
        SendBodyLine(line);
        net::letEventsRun();
    }
    if (!failure.isEmpty()) {
        // The body could not be completed (or the server stopped taking it):
        // dropping the connection before the final "." makes the server discard the
        // part it has, instead of delivering a truncated mail that would count as sent.
        setError(failure);
        Display(failure);
        FSocket->Close();
        return false;
    }
    SendCommand(".");
    // The countdown shows the long wait the server may take.
    return !CheckReply(250, false, std::max(TimeOut, kFinalReplyTimeOut));
}

bool TCustomSmtpClient::waitForSendRoom()
{
    if (FSocket->Queued() < kSendWindow || FSocket->WaitQueued(TimeOut, kSendWindow / 2))
        return true;
    // A connection that went away (or was aborted) ends the body by the phase; only a
    // server that took nothing for TimeOut seconds is a failure here.
    return !FTimedOut;
}

void TCustomSmtpClient::Quit()
{
    if (FPhase == 0)
        return;
    try {
        SendCommand("QUIT");
        GetReply();
    } catch (...) {
    }
    FPhase = 0;
    try {
        FSocket->Close();
    } catch (...) {
    }
}

// ---- TSmtpClient ----

TSmtpClient::TSmtpClient(QObject *owner) : TCustomSmtpClient(owner) {}

TSmtpClient::~TSmtpClient() = default;

QString TSmtpClient::MakeBoundary(const QDateTime &localTime)
{
    QString month = QLocale().monthName(localTime.date().month(), QLocale::ShortFormat);
    // A boundary may hold only a few ASCII characters; a month name with others
    // would break the message, so the English name stands in for it.
    static const QString allowed = QStringLiteral("'()+_,-./:=? ");
    for (QChar c : std::as_const(month)) {
        if (!(c.unicode() < 128 && (c.isLetterOrNumber() || allowed.contains(c)))) {
            month = QLocale::c().monthName(localTime.date().month(), QLocale::ShortFormat);
            break;
        }
    }
    return QStringLiteral("= Multipart Boundary ") + month + localTime.toString(QStringLiteral("ddyyhhmm"));
}

void TSmtpClient::closeFile()
{
    if (FFile)
        FFile->close();
    FFile.reset();
    FInFile = false;
}

bool TSmtpClient::SendMail()
{
    FInBody = true;
    FFileIndex = 0;
    FBodyLineNum = 0;
    closeFile();
    FPendingLines.clear();
    if (!EmailFiles.isEmpty()) {
        FBoundary = MakeBoundary(platform::now());
        const QByteArray boundary = FBoundary.toLatin1();
        FPendingLines = {"This is a multipart MIME message.",
                         "",
                         "--" + boundary,
                         "Content-Type: text/plain; charset=\"" + CharSet.toLatin1() + "\"",
                         "Content-Transfer-Encoding: 7bit",
                         ""};
    } else {
        FBoundary.clear();
    }
    const bool sent = TCustomSmtpClient::SendMail();
    closeFile();
    return sent;
}

void TSmtpClient::FireHeaderLine(QByteArray &Msg, int Size)
{
    if (!FBoundary.isEmpty() && Msg.left(13).compare("CONTENT-TYPE:", Qt::CaseInsensitive) == 0)
        Msg = "Content-Type: multipart/mixed;\r\n\tboundary=\"" + FBoundary.toLatin1() + "\"";
    TCustomSmtpClient::FireHeaderLine(Msg, Size);
}

QByteArray TSmtpClient::EncodeNextLine()
{
    char bytes[net::kBase64LineBytes];
    qint64 got = 0;
    while (got < net::kBase64LineBytes) {
        const qint64 n = FFile->read(bytes + got, net::kBase64LineBytes - got);
        if (n < 0)
            throw platform::Error(QStringLiteral("Unable to read attachment %1").arg(FFile->fileName()));
        if (n == 0)
            break;
        got += n;
    }
    return net::base64Encode(bytes, got);
}

void TSmtpClient::FireGetData(int, QByteArray &MsgLine, bool &More, int MaxLen)
{
    if (!FPendingLines.isEmpty()) {
        MsgLine = FPendingLines.takeFirst();
        More = true;
        return;
    }
    if (FInBody) {
        ++FBodyLineNum;
        bool more = true;
        TCustomSmtpClient::FireGetData(FBodyLineNum, MsgLine, more, MaxLen);
        if (more) {
            More = true;
            return;
        }
        FInBody = false;
        MsgLine.clear();
    }
    if (FInFile) {
        MsgLine = EncodeNextLine();
        if (FFile->atEnd()) {
            closeFile();
            ++FFileIndex;
            if (FFileIndex >= EmailFiles.size())
                FPendingLines << QByteArray() << "--" + FBoundary.toLatin1() + "--";
        }
        More = true;
        return;
    }
    if (FFileIndex < EmailFiles.size()) {
        MsgLine.clear();
        const QString path = EmailFiles[FFileIndex];
        FFile = std::make_unique<QFile>(path);
        if (!FFile->open(QIODevice::ReadOnly)) {
            FFile.reset();
            throw platform::Error(QStringLiteral("Unable to open attachment %1").arg(path));
        }
        const QByteArray name = quotedParameter(QFileInfo(path).fileName());
        FPendingLines << "--" + FBoundary.toLatin1() << "Content-Type: application/octet-stream;"
                      << "\tname=\"" + name + "\"" << "Content-Transfer-Encoding: base64"
                      << "Content-Disposition: attachment;" << "\tfilename=\"" + name + "\"" << QByteArray();
        FInFile = true;
        More = true;
        return;
    }
    More = false;
}
