#pragma once
// The SMTP client: one message per connection, in a blocking style over the
// asynchronous socket (the wait control's nested loop keeps the program responsive).
// TCustomSmtpClient sends a plain-text message whose body lines the application
// supplies through OnGetData; TSmtpClient adds files as base64 parts of a MIME
// multipart message.

#include "net/AsyncSocket.h"
#include "net/WaitControl.h"

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

class TCustomSmtpClient : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxLineLength = 1023;
    static constexpr int kHeaderLineSize = 1024;

    explicit TCustomSmtpClient(QObject *owner = nullptr);
    ~TCustomSmtpClient() override;

    QString Host;
    QString Port = QStringLiteral("smtp");
    QString SignOn;          // name given in HELO; empty: this machine's name
    QString FromName;        // envelope sender
    QStringList RcptName;    // envelope recipients
    QString HdrFrom;
    QString HdrTo;           // recipients separated by ";"
    QString HdrSubject;
    QString CharSet = QStringLiteral("iso-8859-1");
    int TimeOut = 15;        // seconds for connecting and for each reply line
    int Tag = 0;

    QString LastResponse() const { return FLastResponse; }
    // The first error of the connection.
    QString ErrorMessage() const { return FErrorMessage; }
    net::WaitControl *Wait() const;
    void SetWait(net::WaitControl *wait);
    TAsyncSocket *Socket() const { return FSocket; }

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
    void SendCommand(const QByteArray &text);
    // Reads a whole (possibly multi-line) reply; returns its code.
    int GetReply();
    // True when the reply is not `expected` (an error).
    bool CheckReply(int expected, bool closeOnFailure);
    bool CheckReplyEither(int expected1, int expected2, bool closeOnFailure);
    void Display(const QString &msg);
    void setError(const QString &text);

private:
    void SendHeaderLine(QByteArray line);
    void SendBodyLine(const QByteArray &line);
    bool checkReply(int expected1, int expected2, bool closeOnFailure);

    TAsyncSocket *FSocket;
    // 0 not connected, 1 connected before the greeting, 2 ready (HELO accepted).
    int FPhase = 0;
    QString FLastResponse;
    QString FErrorMessage;
    net::WaitRef FWait;
    bool FTimedOut = false;
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
