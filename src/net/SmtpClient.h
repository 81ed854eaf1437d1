#pragma once
// The SMTP client: one message per connection, in a blocking style over the
// asynchronous socket (the wait control's nested loop keeps the program responsive).
// TCustomSmtpClient sends a plain-text message whose body lines the application
// supplies through OnGetData; TSmtpClient adds files as base64 parts of a MIME
// multipart message.

#include "net/LineClient.h"

#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class TCustomSmtpClient;

using TSmtpDisplay = std::function<void(TCustomSmtpClient *Sender, const QString &Msg)>;
// Copies the next body line into MsgLine (at most MaxLen characters) and leaves More
// true, or sets More to false when there is none (that call's line is not sent).
using TSmtpGetDataEvent =
    std::function<void(TCustomSmtpClient *Sender, int LineNum, QByteArray &MsgLine, int MaxLen, bool &More)>;
// May rewrite a header line, or empty it to leave it out.
using TSmtpHeaderLineEvent = std::function<void(TCustomSmtpClient *Sender, QByteArray &Msg, int Size)>;

// Host, Port (default "smtp"), TimeOut, Tag, Wait and Socket come from LineClient;
// ErrorMessage holds the first error of the connection.
class TCustomSmtpClient : public net::LineClient {
    Q_OBJECT
public:
    static constexpr int kMaxLineLength = 1023;
    static constexpr int kHeaderLineSize = 1024;
    // At most this many bytes of the message wait in the socket's send queue: the
    // body is asked for more only as the server takes it, so memory stays bounded.
    static constexpr qint64 kSendWindow = 64 * 1024;
    // Seconds a server may take to answer the final "." (RFC 5321, 4.5.3.2.6).
    static constexpr int kFinalReplyTimeOut = 600;

    explicit TCustomSmtpClient(QObject *owner = nullptr);
    ~TCustomSmtpClient() override;

    QString SignOn;          // name given in HELO; empty: this machine's name
    QString FromName;        // envelope sender
    QStringList RcptName;    // envelope recipients
    QString HdrFrom;
    QString HdrTo;           // recipients separated by ";"
    QString HdrSubject;
    QString CharSet = QStringLiteral("iso-8859-1");

    QString LastResponse() const { return FLastResponse; }

    // True when the connection is ready for a message (at once when it already is).
    virtual bool Connect();
    // True when the server accepted the message; connects first when needed.
    virtual bool SendMail();
    virtual void Quit();

    TSmtpDisplay OnDisplay;
    TSmtpGetDataEvent OnGetData;
    TSmtpHeaderLineEvent OnHeaderLine;

protected:
    virtual void FireGetData(int LineNum, QByteArray &MsgLine, bool &More, int MaxLen);
    virtual void FireHeaderLine(QByteArray &Msg, int Size);
    // Reads a whole (possibly multi-line) reply, each line at most `timeOut` seconds
    // without progress (TimeOut when 0); returns its code.
    int GetReply(int timeOut = 0);
    // True when the reply is not `expected` (an error).
    bool CheckReply(int expected, bool closeOnFailure, int timeOut = 0);
    bool CheckReplyEither(int expected1, int expected2, bool closeOnFailure);
    void Display(const QString &msg) override;
    bool canSend() const override { return FPhase != 0; }
    void connectionClosed() override { FPhase = 0; }
    void setError(const QString &text);

private:
    void SendHeaderLine(QByteArray line);
    void SendBodyLine(const QByteArray &line);
    // Waits while the send window is full; false when sending stalled for TimeOut
    // seconds or the wait was aborted (ErrorMessage tells), or the connection is gone.
    bool waitForSendRoom();
    bool checkReply(int expected1, int expected2, bool closeOnFailure, int timeOut);

    // 0 not connected, 1 connected before the greeting, 2 ready (HELO accepted).
    int FPhase = 0;
    QString FLastResponse;
};

class TSmtpClient : public TCustomSmtpClient {
    Q_OBJECT
public:
    explicit TSmtpClient(QObject *owner = nullptr);
    ~TSmtpClient() override;

    QStringList EmailFiles; // full paths of the attachments, in order

    bool SendMail() override;
    // The MIME boundary of the current message; empty without attachments.
    QString Boundary() const { return FBoundary; }
    // "= Multipart Boundary " + abbreviated month, day, year, hour and minute.
    static QString MakeBoundary(const QDateTime &localTime);

protected:
    void FireGetData(int LineNum, QByteArray &MsgLine, bool &More, int MaxLen) override;
    void FireHeaderLine(QByteArray &Msg, int Size) override;

private:
    QByteArray EncodeNextLine();
    void closeFile();

    QList<QByteArray> FPendingLines;
    int FFileIndex = 0;
    QString FBoundary;
    std::unique_ptr<QFile> FFile;
    bool FInFile = false;
    bool FInBody = false;
    int FBodyLineNum = 0;
};
