#include "transfer/FetchRun.h"

#include "net/Md5.h"
#include "net/Pop3Client.h"
#include "platform/Prompts.h"
#include "store/History.h"
#include "store/InboxDecoder.h"
#include "store/MailIdentifier.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "transfer/RawMessageSpool.h"

#include <QFileInfo>
#include <QSet>

#include <utility>

namespace {

std::function<void(const char *)> &stepHook()
{
    static std::function<void(const char *)> hook;
    return hook;
}

void step(const char *name)
{
    if (const auto &hook = stepHook())
        hook(name);
}

// One message of the mailbox as the run goes through it: its number in the current
// session and, once a listing gave it, its unique-id.
struct Entry {
    int number = 0;
    QString uid;
    bool listed = false;
};

} // namespace

// What the run changes on the client, put back however the run ends, and what it
// knows of the open session.
struct FetchRun::Session {
    Session(FetchRun &run, RawMessageSpool &spool) : run(run), spool(spool) {}
    ~Session() { restore(); }

    void attach()
    {
        TPop3Client &c = run.client_;
        begin = c.OnMessageBegin;
        line = c.OnMessageLine;
        end = c.OnMessageEnd;
        uidlLine = c.OnUidlLine;
        TAsyncSocket *socket = c.Socket();
        tooLong = socket->OnLineTooLong;
        // The begin handler only forgets a cut that belonged to the status line.
        c.OnMessageBegin = [this](TPop3Client *) {
            lineCut = false;
            retrStarted = true;
        };
        c.OnMessageLine = [this](TPop3Client *sender) { messageLine(sender); };
        c.OnMessageEnd = nullptr;
        c.OnUidlLine = [this](TPop3Client *sender) {
            if (uidlLine)
                uidlLine(sender);
            Entry e;
            if (listing && TPop3Client::ParseUidl(sender->LastResponse(), e.number, e.uid)) {
                e.listed = true;
                listing->append(e);
            }
        };
        // The socket reports a line cut at its length limit just before the client
        // hands the piece on; the spool joins the pieces again.
        socket->OnLineTooLong = [this](TCustomAsyncSocket *s) {
            if (tooLong)
                tooLong(s);
            lineCut = true;
        };
        attached = true;
    }

    void messageLine(TPop3Client *sender)
    {
        const bool cut = std::exchange(lineCut, false);
        if (headerText) {
            *headerText += sender->LastResponse();
            if (!cut)
                *headerText += "\r\n";
            return;
        }
        spool.append(sender->LastResponse(), cut);
        step("retr-line");
    }

    bool flush() { return run.FlushRawFiles ? run.FlushRawFiles() : spool.sync(); }

    // Ends the session. The server commits the deletions marked in it at QUIT, so
    // the raw files of those messages must be on disk first; when they cannot be
    // made so, the marks are taken back. True when deletions may have been committed.
    bool endSession()
    {
        bool committed = false;
        if (deletionsPending) {
            committed = flush();
            if (!committed)
                run.client_.Rset();
        }
        deletionsPending = false;
        run.exec("Quit", &TPop3Client::Quit);
        step("quit");
        return committed;
    }

    void failed(int howMany, const QString &why)
    {
        notFetched += howMany;
        if (firstReason.isEmpty())
            firstReason = why;
    }

    // The message numbers and unique-ids of a new session (STAT, then UIDL).
    bool listMessages(QList<Entry> &listed)
    {
        TPop3Client &c = run.client_;
        listing = &listed;
        c.MsgNum = 0;
        const bool ok = c.Stat() && c.Uidl();
        listing = nullptr;
        return ok;
    }

    // The unique-id of message `n`, whose server gives it none, made from its
    // header lines (TOP n 0); empty when they cannot be read.
    QString substituteId(int n)
    {
        TPop3Client &c = run.client_;
        QByteArray header;
        headerText = &header;
        c.MsgNum = n;
        c.MsgLines = 0;
        bool ok = false;
        try {
            ok = c.Top();
        } catch (...) {
            headerText = nullptr;
            throw;
        }
        headerText = nullptr;
        return ok ? FetchRun::substituteUniqueId(header) : QString();
    }

    // Retrieves message `n` into the spool under the raw file `path` and, when mail
    // is not kept, deletes it on the server; false when it was not kept.
    bool fetch(int n, const QString &path)
    {
        TPop3Client &c = run.client_;
        const bool keepOnServer = run.state_.KeepMailInServerOn();
        committedDeletions = false;
        run.msgNum_ = n;
        if (run.OnMessageNumber)
            run.OnMessageNumber(n);
        run.trace(QStringLiteral("Message %1").arg(n));
        retrStarted = false;
        QString why;
        bool writeFailed = true;
        bool kept = false;
        // A message the server keeps is held in memory while the run may hold more:
        // no raw file is needed to keep it safe.
        if (spool.begin(path, keepOnServer && spool.canHold(), why)) {
            c.MsgNum = n;
            bool received = false;
            try {
                received = c.Retr();
            } catch (...) {
                spool.abandon();
                throw;
            }
            QString reason = c.ErrorMessage();
            if (reason.isEmpty())
                reason = QString::fromLatin1(c.LastResponse());
            kept = spool.finish(received, QStringLiteral("Mail %1: %2").arg(n).arg(reason), why, writeFailed);
        }
        if (kept) {
            if (!keepOnServer && run.exec("Delete", &TPop3Client::Delete)) {
                deletionsPending = true;
                step("dele");
            }
            return true;
        }
        failed(1, why);
        // A reply the server refused leaves the conversation in step, and so does a
        // message received whole that could not be written; a retrieval that timed
        // out part-way does not, so that connection is ended and the next command
        // opens a new one.
        const bool refused = !retrStarted && c.LastResponse().startsWith('-');
        if (!writeFailed && !refused && c.ProtocolState() != pop3Disconnected)
            committedDeletions = endSession();
        return false;
    }

    void restore()
    {
        if (attached) {
            TPop3Client &c = run.client_;
            c.OnMessageBegin = begin;
            c.OnMessageLine = line;
            c.OnMessageEnd = end;
            c.OnUidlLine = uidlLine;
            c.Socket()->OnLineTooLong = tooLong;
            attached = false;
        }
        if (shown) {
            run.progress_.end();
            shown = false;
        }
    }

    FetchRun &run;
    RawMessageSpool &spool;
    TPop3NotifyEvent begin, line, end, uidlLine;
    TSocketNotifyEvent tooLong;
    bool attached = false;
    bool shown = false;
    bool lineCut = false;
    bool retrStarted = false;
    // DELE accepted in the open session whose raw files are not yet flushed.
    bool deletionsPending = false;
    // Set while a TOP collects the header lines of a message without a unique-id.
    QByteArray *headerText = nullptr;
    // Set while a UIDL listing learns the numbers of a new session.
    QList<Entry> *listing = nullptr;
    // The last fetch ended its session with deletions that may have been committed.
    bool committedDeletions = false;
    int notFetched = 0;
    QString firstReason;
};

FetchRun::FetchRun(ControlCentreState &state, TPop3Client &client, RunProgress &progress,
                   platform::Prompts &prompts, QStringList &msgFiles)
    : state_(state), client_(client), progress_(progress), prompts_(prompts), msgFiles_(msgFiles)
{
}

FetchRun::~FetchRun() = default;

void FetchRun::setStepHookForTesting(std::function<void(const char *)> hook)
{
    stepHook() = std::move(hook);
}

bool FetchRun::stopRequested() const
{
    return stop_ || state_.Runs.stopRequested();
}

QString FetchRun::substituteUniqueId(const QByteArray &headerText)
{
    return QStringLiteral("md5-") + QString::fromLatin1(net::Md5::hexDigest(headerText));
}

void FetchRun::status(const QString &text)
{
    if (OnStatus)
        OnStatus(text);
}

void FetchRun::trace(const QString &line)
{
    if (OnTrace)
        OnTrace(line);
}

bool FetchRun::exec(const QString &label, bool (TPop3Client::*operation)())
{
    client_.Host = Account.host;
    client_.Port = Account.port;
    client_.UserName = Account.userName;
    client_.PassWord = Account.password;
    client_.MsgNum = msgNum_;
    client_.MsgLines = Account.msgLines;
    status(label + QStringLiteral(" started"));
    const bool ok = (client_.*operation)();
    status(label + (ok ? QStringLiteral(" ok") : QStringLiteral(" failed")));
    return ok;
}

void FetchRun::decode(QList<RawMessage> messages)
{
    if (messages.isEmpty())
        return;
    DecodeAllMessages(InboxDecodeTarget{state_.ZipArchive1, state_.InboxDir, HistoryFilePath(state_.AppPath),
                                        state_.NewMailList, state_.HistoryList},
                      std::move(messages));
}

void FetchRun::storeLeftovers()
{
    RawMessageSpool::removePartials(state_.InboxDir);
    QList<RawMessage> left;
    for (const QString &path : PendingRawMessages(state_.InboxDir))
        left << RawMessage::file(path);
    decode(std::move(left));
}

void FetchRun::Run()
{
    RunScope running(state_.Runs, RunState::Fetch);
    if (!running.started())
        return;

    // New mail of this run: what an earlier run left comes first.
    state_.NewMailList.clear();
    storeLeftovers();

    exec("Quit", &TPop3Client::Quit);
    if (!exec("Connect", &TPop3Client::Connect) || !exec("Stat", &TPop3Client::Stat)) {
        prompts_.warning("Unable to conect the Postoffice!");
        return;
    }
    const int count = client_.MsgCount();
    status(QStringLiteral("Stat ok, %1 messages %2 bytes").arg(count).arg(client_.MsgSize()));
    if (count == 0) {
        if (!stopRequested())
            prompts_.information("There is no mail to fetch.");
        return;
    }

    RawMessageSpool spool(state_.InboxDir);
    spool.MaxHeldBytes = MaxHeldBytes;
    Session session(*this, spool);
    try {
        session.attach();
        msgFiles_.clear();
        spool.prepare();
        progress_.begin(RunProgress::Kind::Fetch, count,
                        QString::number(count) + QStringLiteral(" mail(s) to be fetched"));
        session.shown = true;

        fetchAll(session, count);
        session.endSession();
        if (session.notFetched > 0) {
            prompts_.warning(QStringLiteral("%1 mail(s) could not be fetched (%2).\rThey stay on the "
                                            "server for the next fetch.")
                                 .arg(session.notFetched)
                                 .arg(session.firstReason));
        } else if (msgFiles_.isEmpty() && !stopRequested()) {
            prompts_.information("There is no mail to fetch.");
        }
    } catch (...) {
        spool.abandon();
        // Held messages are still on the server and not in the history.
        spool.drop();
        // The connection stays open for the next run's QUIT: its deletions must
        // not be committed before their raw files are on disk.
        try {
            if (session.deletionsPending && !session.flush())
                client_.Rset();
        } catch (...) {
        }
        throw;
    }
    session.restore();

    step("decode");
    decode(spool.take(msgFiles_));
    pruneHistory();
}

void FetchRun::fetchAll(Session &session, int count)
{
    QList<Entry> work;
    for (int n = 1; n <= count; ++n)
        work << Entry{n, {}, false};
    QSet<QString> handled;
    QSet<QString> written;
    const QSet<QString> fetched = HistoryKeys(state_.HistoryList);
    serverIds_.clear();
    listingComplete_ = false;
    bool renumber = false;
    int bar = 0;
    // Without a connection (it was lost and could not be opened again) no further
    // message can be fetched either.
    auto lostFrom = [&](qsizetype i) {
        if (client_.ProtocolState() != pop3Disconnected)
            return false;
        session.failed(int(work.size() - i), client_.ErrorMessage());
        return true;
    };

    bool complete = true;
    for (qsizetype i = 0; i < work.size(); ++i) {
        if (stopRequested()) {
            complete = false;
            break;
        }
        if (std::exchange(renumber, false)) {
            // The session that ended committed deletions: the server numbers its
            // messages anew in this one.
            QList<Entry> listed;
            if (!session.listMessages(listed)) {
                session.failed(int(work.size() - i), client_.ErrorMessage());
                complete = false;
                break;
            }
            work.resize(i);
            for (const Entry &e : listed) {
                if (e.uid.isEmpty() || !handled.contains(e.uid))
                    work << e;
            }
            if (i == work.size())
                break;
        }
        const int n = work[i].number;
        QString uid = work[i].uid;
        if (!work[i].listed) {
            client_.MsgNum = n;
            if (!client_.Uidl()) {
                complete = false;
                if (lostFrom(i))
                    break;
                continue;
            }
            uid = client_.MsgUidl();
        }
        if (uid.isEmpty() && (uid = session.substituteId(n)).isEmpty()) {
            complete = false;
            if (lostFrom(i))
                break;
            continue;
        }
        serverIds_ << uid;
        if (handled.contains(uid))
            continue;
        handled.insert(uid);
        if (AlreadyFetched(fetched, uid)) {
            progress_.advance(bar, QStringLiteral("Mail %1 is already fetched").arg(n));
            // Stored by a run that ended before its QUIT committed the deletion.
            if (!state_.KeepMailInServerOn()) {
                msgNum_ = n;
                if (exec("Delete", &TPop3Client::Delete))
                    session.deletionsPending = true;
            }
            continue;
        }
        const QString path = state_.InboxDir + RawMessageFileName(uid);
        // A raw file of that name holds a message not yet stored (two unique-ids
        // that make the same file name): this one waits for the next run.
        if (written.contains(path) || QFileInfo::exists(path)) {
            trace(QStringLiteral("Mail %1 left on the server: %2 exists").arg(n).arg(path));
            continue;
        }
        if (session.fetch(n, path)) {
            msgFiles_.append(path);
            written.insert(path);
        } else {
            renumber = session.committedDeletions;
        }
        bar = int(i) + 1;
        progress_.advance(bar, QStringLiteral("%1 out of %2 fetched").arg(bar).arg(count));
    }
    listingComplete_ = complete;
}

void FetchRun::pruneHistory()
{
    // Only a run that learnt every unique-id of the mailbox may tell which lines
    // belong to messages the server no longer holds.
    if (!listingComplete_)
        return;
    if (PruneHistory(state_.HistoryList, serverIds_) > 0)
        SaveHistory(HistoryFilePath(state_.AppPath), state_.HistoryList);
}
