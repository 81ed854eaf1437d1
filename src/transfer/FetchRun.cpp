#include "transfer/FetchRun.h"

#include "common/ZipArchive.h"
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

#include <algorithm>
#include <deque>

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
    bool refused = false; // its UIDL was refused
    bool asked = false;   // its RETR went out ahead
};

// Pipelining: UIDL commands per write, and how much of the mailbox may be asked
// for ahead (in RETR commands, between 2 and 16, about this many bytes).
constexpr int kUidlBatch = 64;
constexpr int kMaxAhead = 16;
constexpr qint64 kAheadBytes = 1024 * 1024;

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
        block = c.OnMessageBlock;
        c.OnMessageBlock = [this](TPop3Client *, QByteArrayView lines, int count) { messageLines(lines, count); };
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
        if (discarding)
            return;
        if (headerText) {
            *headerText += sender->LastResponse();
            if (!cut)
                *headerText += "\r\n";
            return;
        }
        spool.append(sender->LastResponse(), cut);
        step("retr-line");
    }

    // Many whole lines at once, each with its CR LF.
    void messageLines(QByteArrayView lines, int count)
    {
        if (discarding)
            return;
        if (headerText) {
            headerText->append(lines);
            return;
        }
        spool.appendLines(lines);
        for (int i = 0; i < count; ++i)
            step("retr-line");
    }

    bool flush() { return run.FlushRawFiles ? run.FlushRawFiles() : spool.sync(); }

    // Ends the session. The server commits the deletions marked in it at QUIT, so
    // the raw files of those messages must be on disk first; when they cannot be
    // made so, the marks are taken back. True when deletions may have been committed.
    bool endSession()
    {
        if (!settle()) {
            ahead = 0;
            pending.clear();
        }
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
    // is not kept, deletes it on the server; false when it was not kept. With
    // `asked` its RETR went out ahead and only its reply is read.
    bool fetch(int n, const QString &path, bool asked)
    {
        TPop3Client &c = run.client_;
        const bool keepOnServer = run.state_.KeepMailInServerOn();
        committedDeletions = false;
        run.msgNum_ = n;
        if (run.OnMessageNumber)
            run.OnMessageNumber(n);
        run.trace(QStringLiteral("Message %1").arg(n));
        // First the replies to the commands sent before this one's RETR (or, without
        // one, before a RETR sent now). When they do not come whole the message stays
        // on the server: after a session that committed deletions, its number may
        // name another message.
        if (!(asked ? readUpTo(n) : settle())) {
            failed(1, QStringLiteral("Mail %1: %2").arg(n).arg(reason()));
            committedDeletions = breakPipeline();
            return false;
        }
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
                received = asked ? c.ReadRetr() : c.Retr();
            } catch (...) {
                spool.abandon();
                throw;
            }
            kept = spool.finish(received, QStringLiteral("Mail %1: %2").arg(n).arg(reason()), why, writeFailed);
        } else if (asked && !discard()) {
            // Its reply, read only to keep in step, did not come whole.
            writeFailed = false;
        }
        if (kept) {
            if (!keepOnServer)
                deleteMessage(n);
            return true;
        }
        failed(1, why);
        // A reply the server refused leaves the conversation in step, and so does a
        // message received whole that could not be written; a retrieval that timed
        // out part-way does not, so that connection is ended and the next command
        // opens a new one.
        const bool refused = !retrStarted && c.ReplyWhole() && c.LastResponse().startsWith('-');
        if (!writeFailed && !refused)
            committedDeletions = breakPipeline();
        return false;
    }

    // Why the last command failed: the client's text, else the server's reply.
    QString reason() const
    {
        const QString text = run.client_.ErrorMessage();
        return text.isEmpty() ? QString::fromLatin1(run.client_.LastResponse()) : text;
    }

    // DELE for message `n`, whose mail is stored or written: sent at once, and with
    // pipelining its reply read in turn.
    void deleteMessage(int n)
    {
        if (ahead == 0) {
            run.msgNum_ = n;
            if (run.exec("Delete", &TPop3Client::Delete)) {
                deletionsPending = true;
                step("dele");
            }
            return;
        }
        run.status(QStringLiteral("Delete started"));
        // The server may act on it before its reply is read: QUIT must find the raw
        // files on disk.
        deletionsPending = true;
        ask("DELE", {n});
    }

    // ---- pipelining ----

    // The unique-ids of the messages, from UIDL commands sent in batches. A refused
    // one marks its message; a reply that does not come whole ends the pipelining
    // (true when that ended a session that may have committed deletions).
    bool listAhead(QList<Entry> &work)
    {
        TPop3Client &c = run.client_;
        for (qsizetype from = 0; from < work.size() && ahead > 0; from += kUidlBatch) {
            const qsizetype to = std::min<qsizetype>(work.size(), from + kUidlBatch);
            QList<QByteArray> commands;
            for (qsizetype i = from; i < to; ++i)
                commands << "UIDL " + QByteArray::number(work[i].number);
            if (!c.Send(commands))
                return breakPipeline();
            for (qsizetype i = from; i < to; ++i) {
                if (c.ReadUidl()) {
                    work[i].uid = c.MsgUidl();
                    work[i].listed = true;
                } else if (c.ReplyWhole()) {
                    work[i].refused = true;
                } else {
                    return breakPipeline();
                }
            }
        }
        return false;
    }

    // Sends `word` + " " + n for each of `numbers` in one write, ahead of the
    // replies (RETR or DELE).
    void ask(const QByteArray &word, const QList<int> &numbers)
    {
        QList<QByteArray> commands;
        for (int n : numbers)
            commands << word + " " + QByteArray::number(n);
        if (commands.isEmpty() || !run.client_.Send(commands))
            return;
        for (int n : numbers)
            pending.push_back({word == "RETR", n});
    }

    // True when the reply to RETR `n` sent ahead is still to be read.
    bool outstanding(int n) const
    {
        return std::any_of(pending.begin(), pending.end(), [n](const Pending &p) { return p.retr && p.number == n; });
    }

    int retrsPending() const
    {
        return int(std::count_if(pending.begin(), pending.end(), [](const Pending &p) { return p.retr; }));
    }

    // Reads the oldest outstanding reply; false when it did not come whole.
    bool readOne()
    {
        TPop3Client &c = run.client_;
        const Pending p = pending.front();
        pending.pop_front();
        if (p.retr)
            return discard();
        const bool ok = c.ReadReply();
        run.status(QStringLiteral("Delete ") + (ok ? QStringLiteral("ok") : QStringLiteral("failed")));
        if (ok)
            step("dele");
        return c.ReplyWhole();
    }

    // Reads the replies that come before that of RETR `n`, which is outstanding;
    // false when one did not come whole.
    bool readUpTo(int n)
    {
        while (!(pending.front().retr && pending.front().number == n)) {
            if (!readOne())
                return false;
        }
        pending.pop_front();
        return true;
    }

    // Reads every outstanding reply, so that the next command's reply is its own;
    // false when one did not come whole.
    bool settle()
    {
        while (!pending.empty()) {
            if (!readOne())
                return false;
        }
        return true;
    }

    // Reads the reply to a RETR sent ahead without keeping the message; true when
    // the conversation is still in step (the message came whole, or was refused).
    bool discard()
    {
        discarding = true;
        retrStarted = false;
        bool received = false;
        try {
            received = run.client_.ReadRetr();
        } catch (...) {
            discarding = false;
            throw;
        }
        discarding = false;
        return received || (!retrStarted && run.client_.ReplyWhole());
    }

    // Ends the pipelining after a reply that did not come whole: the replies still
    // outstanding no longer match, so a connection still open is ended (the next
    // command opens a new one). True when deletions may have been committed.
    bool breakPipeline()
    {
        ahead = 0;
        pending.clear();
        if (run.client_.ProtocolState() == pop3Disconnected)
            return false;
        return endSession();
    }

    void restore()
    {
        if (attached) {
            TPop3Client &c = run.client_;
            c.OnMessageBegin = begin;
            c.OnMessageLine = line;
            c.OnMessageBlock = block;
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
    decltype(TPop3Client::OnMessageBlock) block;
    TSocketNotifyEvent tooLong;
    bool attached = false;
    bool shown = false;
    bool lineCut = false;
    bool retrStarted = false;
    // DELE accepted in the open session whose raw files are not yet flushed.
    bool deletionsPending = false;
    // Set while a TOP collects the header lines of a message without a unique-id.
    QByteArray *headerText = nullptr;
    // Set while the lines of a message are read only to keep in step.
    bool discarding = false;
    // Pipelining: how many RETR may be outstanding (0: one command at a time), and
    // the commands whose replies are still to be read, oldest first.
    int ahead = 0;
    struct Pending {
        bool retr;
        int number;
    };
    std::deque<Pending> pending;
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
    spool.ArchiveLevel = state_.ZipArchive1.AddCompLevel();
    Session session(*this, spool);
    if (count >= PipelineFrom && client_.Capa() && client_.HasCapability("PIPELINING")) {
        // About kAheadBytes asked for ahead, by the mailbox's average message size.
        const qint64 average = std::max<qint64>(1, client_.MsgSize() / count);
        session.ahead = int(std::clamp<qint64>(kAheadBytes / average, 2, kMaxAhead));
    }
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
    bool renumber = session.ahead > 0 && session.listAhead(work);
    int bar = 0;
    // Without a connection (it was lost and could not be opened again) no further
    // message can be fetched either.
    auto lostFrom = [&](qsizetype i) {
        if (client_.ProtocolState() != pop3Disconnected)
            return false;
        session.failed(int(work.size() - i), client_.ErrorMessage());
        return true;
    };
    auto pathOf = [&](const QString &uid) { return state_.InboxDir + RawMessageFileName(uid); };

    // Pipelining: the messages before `planned` have been looked at for a RETR sent
    // ahead, with the unique-ids and raw files they take.
    qsizetype planned = 0;
    QSet<QString> plannedIds;
    QSet<QString> plannedPaths;
    // Sends RETR for the messages from `i` on that the loop below will retrieve, as
    // far as the window allows; a message whose unique-id is not known yet stops it.
    // The window is topped up once half of it is read, so that several commands
    // share one write.
    auto askAhead = [&](qsizetype i) {
        int outstanding = session.retrsPending();
        if (session.ahead == 0 || outstanding > session.ahead / 2 || stopRequested())
            return;
        planned = std::max(planned, i);
        QList<int> numbers;
        for (; planned < work.size() && outstanding < session.ahead; ++planned) {
            Entry &e = work[planned];
            if (e.refused)
                continue;
            if (!e.listed || e.uid.isEmpty())
                break;
            const bool known = handled.contains(e.uid) || plannedIds.contains(e.uid);
            plannedIds.insert(e.uid);
            if (known || AlreadyFetched(fetched, e.uid))
                continue;
            const QString path = pathOf(e.uid);
            if (written.contains(path) || plannedPaths.contains(path) || QFileInfo::exists(path))
                continue;
            plannedPaths.insert(path);
            numbers << e.number;
            e.asked = true;
            ++outstanding;
        }
        session.ask("RETR", numbers);
    };

    bool complete = true;
    for (qsizetype i = 0; i < work.size(); ++i) {
        // A message whose RETR is out is received first; the replies still out after
        // the stop are read and dropped when the session ends.
        if (stopRequested() && !(work[i].asked && session.outstanding(work[i].number))) {
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
        askAhead(i);
        const int n = work[i].number;
        QString uid = work[i].uid;
        if (work[i].refused) {
            complete = false;
            continue;
        }
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
        if (uid.isEmpty() && !session.settle()) {
            // The replies before its TOP did not come whole: it waits for the next
            // run, or for the new numbering when deletions were committed.
            renumber = session.breakPipeline();
            complete = false;
            continue;
        }
        if (uid.isEmpty() && (uid = session.substituteId(n)).isEmpty()) {
            complete = false;
            if (lostFrom(i))
                break;
            continue;
        }
        serverIds_ << uid;
        const bool asked = work[i].asked && session.outstanding(n);
        const QString path = pathOf(uid);
        const bool duplicate = handled.contains(uid);
        handled.insert(uid);
        bool wanted = false;
        if (duplicate) {
            // The same message under a second number.
        } else if (AlreadyFetched(fetched, uid)) {
            progress_.advance(bar, QStringLiteral("Mail %1 is already fetched").arg(n));
            // Stored by a run that ended before its QUIT committed the deletion.
            if (!state_.KeepMailInServerOn())
                session.deleteMessage(n);
        } else if (written.contains(path) || QFileInfo::exists(path)) {
            // A raw file of that name holds a message not yet stored (two unique-ids
            // that make the same file name): this one waits for the next run.
            trace(QStringLiteral("Mail %1 left on the server: %2 exists").arg(n).arg(path));
        } else {
            wanted = true;
        }
        if (!wanted) {
            // A RETR sent ahead for it all the same is answered before the next one.
            if (asked && !(session.readUpTo(n) && session.discard()))
                renumber = session.breakPipeline();
            continue;
        }
        if (session.fetch(n, path, asked)) {
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
