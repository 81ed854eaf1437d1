#pragma once
// The fetch run: stores what an earlier run left, logs in to the POP3 server,
// retrieves every message not fetched before into the raw message spool, deletes it
// on the server when mail is not kept there, ends the session, and decodes what it
// fetched into INBOX, leaving one entry per stored message in NewMailList.
//
// Nothing fetched is lost: when the run deletes mail on the server, the raw files
// are flushed to disk before QUIT lets the server commit the deletions; a stop
// request is honoured between messages only. After a session that committed
// deletions the server numbers its messages anew, so a run that has to connect
// again learns the numbers again and goes on with the unique-ids it has not handled.
//
// With pipelining, the UIDL commands go out in batches and the RETR commands of the
// messages to fetch a few ahead, so that the server never waits for the run; the
// messages are still handled one by one in their order, and a DELE still goes out
// only after its message is written. A reply that does not come whole ends the
// pipelining: the rest of the run goes one command at a time.

#include "transfer/RunProgress.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class ControlCentreState;
class TPop3Client;
struct RawMessage;
namespace platform {
class Prompts;
}

// The POP3 connection's parameters, as the fetch window's fields hold them.
struct Pop3Account {
    QString host;
    QString port;
    QString userName;
    QString password;
    int msgLines = 0;
};

class FetchRun {
public:
    // `msgFiles` receives the full paths of the raw message files of the run, in
    // fetch order (a message held in memory is listed under its file's name).
    FetchRun(ControlCentreState &state, TPop3Client &client, RunProgress &progress, platform::Prompts &prompts,
             QStringList &msgFiles);
    ~FetchRun();
    FetchRun(const FetchRun &) = delete;
    FetchRun &operator=(const FetchRun &) = delete;

    Pop3Account Account;
    // What the run may hold in memory of messages the server keeps.
    qint64 MaxHeldBytes = 32 * 1024 * 1024;
    // A mailbox of at least this many messages, on a server whose capabilities list
    // PIPELINING (RFC 2449), is fetched with commands sent ahead of their replies. A
    // smaller one, and every other server, get one command at a time: there the
    // saving is small, and asking for the capabilities costs a round trip itself.
    int PipelineFrom = 8;

    // The status of the last command (label + " started", " ok" or " failed").
    std::function<void(const QString &)> OnStatus;
    // The run's own lines of the protocol trace ("Message " + number, ...).
    std::function<void(const QString &)> OnTrace;
    // The number of the message being retrieved.
    std::function<void(int)> OnMessageNumber;
    // Makes the raw files durable before QUIT may commit deletions; true when done.
    // The spool's file-system flush unless set.
    std::function<bool()> FlushRawFiles;

    // The run. Does nothing while another posting or fetching run is in progress.
    // Raises platform::Error (and what the client raises) for failures it cannot
    // handle; the connection then stays open for the next run's QUIT.
    void Run();
    // Ends the run after the message in progress (with pipelining, after the messages
    // whose RETR is already out, up to the first one that is not): it is finished,
    // written and (when mail is not kept) deleted, the session ends and what was
    // fetched is stored.
    void requestStop() { stop_ = true; }
    bool stopRequested() const;

    // The substitute unique-id of a message whose server gives none: "md5-" and the
    // MD5 of its header lines, each followed by CR LF.
    static QString substituteUniqueId(const QByteArray &headerText);

    // Test seam: called with the name of each point of the run a kill test may stop
    // at ("retr-line" for each message line written, "dele" after a deletion was
    // accepted, "quit" after QUIT, "decode" before the run's messages are decoded).
    static void setStepHookForTesting(std::function<void(const char *step)> hook);

private:
    struct Session;

    // Goes through the `count` messages of the mailbox.
    void fetchAll(Session &session, int count);
    bool exec(const QString &label, bool (TPop3Client::*operation)());
    void status(const QString &text);
    void trace(const QString &line);
    void storeLeftovers();
    // Drops the history lines of messages the server no longer lists, after a run
    // that learnt the unique-id of every message.
    void pruneHistory();
    void decode(QList<RawMessage> messages);

    ControlCentreState &state_;
    TPop3Client &client_;
    RunProgress &progress_;
    platform::Prompts &prompts_;
    QStringList &msgFiles_;
    int msgNum_ = 0;
    bool stop_ = false;
    // The unique-ids the server listed in this run, and whether that was all of them.
    QStringList serverIds_;
    bool listingComplete_ = false;
};
