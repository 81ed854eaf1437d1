#include "transfer/GetMail.h"

#include "common/Settings.h"
#include "net/Wait.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"
#include "store/History.h"
#include "store/InboxDecoder.h"
#include "store/MailIdentifier.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "transfer/BusyIndicator.h"
#include "transfer/Popup.h"

#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSet>

#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Raw message lines are collected and written in blocks of this size.
constexpr qsizetype kRawWriteBlock = 256 * 1024;

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

// Where a raw message file is written until the whole message is in it. It lies
// below InboxDir, so the finished file is renamed into place on the same file system.
QString partialDir(const QString &inboxDir)
{
    return platform::workDir(inboxDir) + QStringLiteral("fetch/");
}

// One flush of the whole file system that holds `dir`: cheaper than one fsync per
// raw file when a run has written many.
bool syncFileSystemOf(const QString &dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::syncfs(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

// What a run changes on the window and the client, put back however the run ends.
struct TfrmGetMail::Run {
    explicit Run(TfrmGetMail &window) : w(window) {}
    ~Run() { finish(); }

    void attachWriter()
    {
        TPop3Client *c = w.Pop3Client;
        begin = c->OnMessageBegin;
        line = c->OnMessageLine;
        end = c->OnMessageEnd;
        // The begin handler only forgets a cut that belonged to the status line.
        c->OnMessageBegin = [this](TPop3Client *) {
            w.lineCut_ = false;
            retrStarted = true;
        };
        c->OnMessageLine = [this](TPop3Client *sender) { w.WriteMessageLine(sender); };
        c->OnMessageEnd = nullptr;
        attached = true;
    }

    void showProgress(int count)
    {
        TfrmPopup *p = w.popup();
        p->gaPost->stop();
        p->gaPost->hide();
        p->gaFetch->show();
        p->gaFetch->start();
        p->pbBar->setRange(0, count);
        p->pbBar->setValue(0);
        p->Panel1->setText(QString::number(count) + QStringLiteral(" mail(s) to be fetched"));
        p->show();
        shown = true;
    }

    void finish()
    {
        if (attached) {
            w.Pop3Client->OnMessageBegin = begin;
            w.Pop3Client->OnMessageLine = line;
            w.Pop3Client->OnMessageEnd = end;
            attached = false;
        }
        if (shown) {
            TfrmPopup *p = w.popup();
            p->gaFetch->stop();
            p->close();
            shown = false;
        }
    }

    TfrmGetMail &w;
    TPop3NotifyEvent begin, line, end;
    bool attached = false;
    bool shown = false;
    bool retrStarted = false;
    // DELE accepted in the open session whose raw files are not yet flushed.
    bool deletionsPending = false;
};

TfrmGetMail::TfrmGetMail(ControlCentreState &state, QWidget *parent)
    : QWidget(parent, Qt::Window), state_(state)
{
    setObjectName("frmGetMail");
    setWindowTitle("Retrieving Mails...");

    auto edit = [this](const char *name) {
        auto *e = new QLineEdit(this);
        e->setObjectName(name);
        return e;
    };
    HostEdit = edit("HostEdit");
    PortEdit = edit("PortEdit");
    UserNameEdit = edit("UserNameEdit");
    PassWordEdit = edit("PassWordEdit");
    PassWordEdit->setEchoMode(QLineEdit::Password);
    MsgNumEdit = edit("MsgNumEdit");
    MsgNumEdit->setText("0");
    MsgLinesEdit = edit("MsgLinesEdit");
    MsgLinesEdit->setText("0");
    InfoLabel = new QLabel(this);
    InfoLabel->setObjectName("InfoLabel");
    Wait1 = new TWait(this);
    Wait1->setObjectName("Wait1");

    auto *form = new QFormLayout(this);
    form->addRow("Host", HostEdit);
    form->addRow("Port", PortEdit);
    form->addRow("User name", UserNameEdit);
    form->addRow("Password", PassWordEdit);
    form->addRow("Message", MsgNumEdit);
    form->addRow("Lines", MsgLinesEdit);
    form->addRow(InfoLabel);
    form->addRow(Wait1);

    Pop3Client = new TPop3Client(this);
    Pop3Client->setObjectName("Pop3Client");
    Pop3Client->Port = QStringLiteral("pop3");
    Pop3Client->TimeOut = 15;
    Pop3Client->MsgNum = 0;
    Pop3Client->MsgLines = 0;
    Pop3Client->SetWait(Wait1);
    Pop3Client->OnDisplay = [this](TPop3Client *s, const QString &m) { Pop3ClientDisplay(s, m); };
    Pop3Client->OnMessageBegin = [this](TPop3Client *s) { Pop3ClientMessageBegin(s); };
    Pop3Client->OnMessageLine = [this](TPop3Client *s) { Pop3ClientMessageLine(s); };
    Pop3Client->OnMessageEnd = [this](TPop3Client *s) { Pop3ClientMessageEnd(s); };
    Pop3Client->OnListBegin = [this](TPop3Client *s) { Pop3ClientListBegin(s); };
    Pop3Client->OnListLine = [this](TPop3Client *s) { Pop3ClientListLine(s); };
    Pop3Client->OnListEnd = [this](TPop3Client *s) { Pop3ClientListEnd(s); };
    Pop3Client->OnUidlBegin = [this](TPop3Client *s) { Pop3ClientUidlBegin(s); };
    Pop3Client->OnUidlLine = [this](TPop3Client *s) { Pop3ClientUidlLine(s); };
    Pop3Client->OnUidlEnd = [this](TPop3Client *s) { Pop3ClientUidlEnd(s); };

    // The socket reports a line cut at its length limit just before the client hands
    // the piece on; the writer needs to know, to join the pieces again.
    TAsyncSocket *socket = Pop3Client->Socket();
    socket->OnLineTooLong = [this, clients = socket->OnLineTooLong](TCustomAsyncSocket *s) {
        if (clients)
            clients(s);
        lineCut_ = true;
    };

    FormCreate();
}

TfrmGetMail::~TfrmGetMail()
{
    if (rawFile_.isOpen())
        rawFile_.close();
}

void TfrmGetMail::setStepHookForTesting(std::function<void(const char *)> hook)
{
    stepHook() = std::move(hook);
}

void TfrmGetMail::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    FormShow();
}

void TfrmGetMail::FormCreate()
{
    HostEdit->setText(ReadIniString("POSTOFFICE", "Host", ""));
    PortEdit->setText(ReadIniString("POSTOFFICE", "Port", "pop3"));
    UserNameEdit->setText(ReadIniString("POSTOFFICE", "UserName", ""));
    PassWordEdit->setText(state_.te.DecryptText(ReadIniString("POSTOFFICE", "Password", "")));
}

void TfrmGetMail::FormShow()
{
    FormCreate();
    InfoLabel->clear();
}

bool TfrmGetMail::ExecCommand(const QString &label, bool (TPop3Client::*operation)())
{
    Pop3Client->Host = HostEdit->text();
    Pop3Client->Port = PortEdit->text();
    Pop3Client->UserName = UserNameEdit->text();
    Pop3Client->PassWord = PassWordEdit->text();
    Pop3Client->MsgNum = MsgNumEdit->text().toInt();
    Pop3Client->MsgLines = MsgLinesEdit->text().toInt();
    InfoLabel->setText(label + QStringLiteral(" started"));
    const bool ok = (Pop3Client->*operation)();
    InfoLabel->setText(label + (ok ? QStringLiteral(" ok") : QStringLiteral(" failed")));
    return ok;
}

// ---- the trace ----

void TfrmGetMail::trace(const QString &line)
{
    DisplayMemo.append(line);
    if (DisplayMemo.size() > 2 * kMaxTraceLines)
        DisplayMemo.remove(0, DisplayMemo.size() - kMaxTraceLines);
}

void TfrmGetMail::Pop3ClientDisplay(TPop3Client *, const QString &Msg) { trace(Msg); }

void TfrmGetMail::Pop3ClientMessageBegin(TPop3Client *Sender)
{
    trace(QStringLiteral("*** Message %1 begin ***").arg(Sender->MsgNum));
}

void TfrmGetMail::Pop3ClientMessageEnd(TPop3Client *Sender)
{
    trace(QStringLiteral("*** Message %1 end ***").arg(Sender->MsgNum));
}

void TfrmGetMail::Pop3ClientMessageLine(TPop3Client *Sender)
{
    trace(QString::fromLatin1(Sender->LastResponse()));
}

void TfrmGetMail::Pop3ClientListBegin(TPop3Client *) { trace(QStringLiteral("*** List begin ***")); }

void TfrmGetMail::Pop3ClientListEnd(TPop3Client *) { trace(QStringLiteral("*** List End ***")); }

void TfrmGetMail::Pop3ClientListLine(TPop3Client *Sender)
{
    trace(QStringLiteral("MsgNum = %1 MsgSize = %2 Line = '%3'")
              .arg(Sender->MsgNum)
              .arg(Sender->MsgSize())
              .arg(QString::fromLatin1(Sender->LastResponse())));
}

void TfrmGetMail::Pop3ClientUidlBegin(TPop3Client *) { trace(QStringLiteral("*** Uidl begin ***")); }

void TfrmGetMail::Pop3ClientUidlEnd(TPop3Client *) { trace(QStringLiteral("*** Uidl end ***")); }

void TfrmGetMail::Pop3ClientUidlLine(TPop3Client *Sender)
{
    trace(QStringLiteral("MsgNum = %1 MsgUidl = %2'").arg(Sender->MsgNum).arg(Sender->MsgUidl()));
}

// ---- writing raw messages ----

void TfrmGetMail::WriteMessageLine(TPop3Client *Sender)
{
    rawBuffer_ += Sender->LastResponse();
    // A cut piece is followed by the rest of its line, not by a line end.
    if (!std::exchange(lineCut_, false))
        rawBuffer_ += "\r\n";
    // A held message that outgrows what the run may hold goes to its raw file after all.
    if (holding_ && heldBytes_ + rawBuffer_.size() > MaxHeldBytes) {
        holding_ = false;
        openRawFile();
    }
    if (!holding_ && rawBuffer_.size() >= kRawWriteBlock)
        flushBuffer();
    step("retr-line");
}

bool TfrmGetMail::openRawFile()
{
    rawFile_.setFileName(partialPath_);
    if (rawFile_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return true;
    rawWriteFailed_ = true;
    rawWriteError_ = rawFile_.errorString();
    return false;
}

void TfrmGetMail::flushBuffer()
{
    if (rawBuffer_.isEmpty())
        return;
    if (!rawWriteFailed_ && rawFile_.write(rawBuffer_) != rawBuffer_.size()) {
        rawWriteFailed_ = true;
        rawWriteError_ = rawFile_.errorString();
    }
    // Keeps its capacity: the buffer is reused for every message of the run.
    rawBuffer_.resize(0);
}

bool TfrmGetMail::FetchMessage(int n, const QString &path, bool hold, QString &why, bool &writeFailed)
{
    writeFailed = false;
    partialPath_ = partialDir_ + QFileInfo(path).fileName();
    rawBuffer_.resize(0);
    rawWriteFailed_ = false;
    lineCut_ = false;
    holding_ = hold;
    if (!holding_ && !openRawFile()) {
        why = QStringLiteral("Unable to create %1: %2").arg(path, rawWriteError_);
        writeFailed = true;
        return false;
    }
    Pop3Client->MsgNum = n;
    bool received = false;
    try {
        received = Pop3Client->Retr();
    } catch (...) {
        holding_ = false;
        rawBuffer_.resize(0);
        if (rawFile_.isOpen())
            rawFile_.close();
        QFile::remove(partialPath_);
        throw;
    }
    if (std::exchange(holding_, false)) {
        if (!received) {
            rawBuffer_.resize(0);
            why = QStringLiteral("Mail %1: %2").arg(n).arg(retrFailure());
            return false;
        }
        // A copy of its own size: the buffer stays for the next message.
        heldBytes_ += rawBuffer_.size();
        heldText_.insert(path, QByteArray(rawBuffer_.constData(), rawBuffer_.size()));
        rawBuffer_.resize(0);
        return true;
    }
    flushBuffer();
    if (rawFile_.isOpen()) {
        rawFile_.close();
        if (!rawWriteFailed_ && rawFile_.error() != QFileDevice::NoError) {
            rawWriteFailed_ = true;
            rawWriteError_ = rawFile_.errorString();
        }
    }
    if (rawWriteFailed_) {
        why = QStringLiteral("Unable to write %1: %2").arg(path, rawWriteError_);
        writeFailed = true;
        QFile::remove(partialPath_);
        return false;
    }
    if (!received) {
        why = QStringLiteral("Mail %1: %2").arg(n).arg(retrFailure());
        QFile::remove(partialPath_);
        return false;
    }
    if (!QFile::rename(partialPath_, path)) {
        why = QStringLiteral("Unable to create %1").arg(path);
        writeFailed = true;
        QFile::remove(partialPath_);
        return false;
    }
    return true;
}

QString TfrmGetMail::retrFailure() const
{
    QString reason = Pop3Client->ErrorMessage();
    if (reason.isEmpty())
        reason = QString::fromLatin1(Pop3Client->LastResponse());
    return reason;
}

bool TfrmGetMail::FlushRawFiles()
{
    return syncFileSystemOf(state_.InboxDir);
}

// ---- the run ----

TfrmPopup *TfrmGetMail::popup()
{
    if (frmPopup)
        return frmPopup;
    if (!ownPopup_)
        ownPopup_ = new TfrmPopup(this);
    return ownPopup_;
}

void TfrmGetMail::DecodeRun(const QStringList &rawFiles)
{
    if (rawFiles.isEmpty())
        return;
    QList<RawMessage> messages;
    messages.reserve(rawFiles.size());
    for (const QString &path : rawFiles) {
        auto held = heldText_.find(path);
        messages << (held == heldText_.end() ? RawMessage::file(path)
                                             : RawMessage::inMemory(path, std::move(*held)));
    }
    dropHeldMessages();
    DecodeAllMessages(InboxDecodeTarget{state_.ZipArchive1, state_.InboxDir,
                                        HistoryFilePath(state_.AppPath), state_.NewMailList,
                                        state_.HistoryList},
                      std::move(messages));
}

void TfrmGetMail::dropHeldMessages()
{
    heldText_.clear();
    heldBytes_ = 0;
    rawBuffer_ = QByteArray();
}

void TfrmGetMail::StoreLeftovers()
{
    // A partial file is a message whose retrieval never finished; the message is
    // still on the server, since no QUIT followed.
    QDir(partialDir(state_.InboxDir)).removeRecursively();
    DecodeRun(PendingRawMessages(state_.InboxDir));
}

void TfrmGetMail::GetAllButtonClick()
{
    if (busy_)
        return;
    busy_ = true;
    struct Busy {
        bool &flag;
        ~Busy() { flag = false; }
    } busy{busy_};

    platform::Prompts &prompts = platform::prompts();
    FormShow();
    // New mail of this run: what an earlier run left comes first.
    state_.NewMailList.clear();
    StoreLeftovers();

    ExecCommand("Quit", &TPop3Client::Quit);
    if (!ExecCommand("Connect", &TPop3Client::Connect)) {
        prompts.warning("Unable to conect the Postoffice!");
        return;
    }
    if (!ExecCommand("Stat", &TPop3Client::Stat)) {
        prompts.warning("Unable to conect the Postoffice!");
        return;
    }
    const int count = Pop3Client->MsgCount();
    InfoLabel->setText(QStringLiteral("Stat ok, %1 messages %2 bytes").arg(count).arg(Pop3Client->MsgSize()));
    if (count == 0) {
        prompts.information("There is no mail to fetch.");
        return;
    }

    Run run(*this);
    // Ends the session. The server commits the deletions marked in it at QUIT, so
    // the raw files of those messages must be on disk first; when they cannot be
    // made so, the marks are taken back.
    auto endSession = [&] {
        if (run.deletionsPending && !FlushRawFiles())
            Pop3Client->Rset();
        run.deletionsPending = false;
        ExecCommand("Quit", &TPop3Client::Quit);
        step("quit");
    };

    try {
        run.attachWriter();
        meMsgFile.clear();
        dropHeldMessages();
        rawBuffer_.reserve(2 * kRawWriteBlock);
        QSet<QString> written;
        partialDir_ = partialDir(state_.InboxDir);
        QDir().mkpath(partialDir_);
        run.showProgress(count);
        TfrmPopup *progress = popup();

        int notFetched = 0;
        QString firstReason;
        for (int n = 1; n <= count; ++n) {
            Pop3Client->MsgNum = n;
            if (!Pop3Client->Uidl() || Pop3Client->MsgUidl().isEmpty()) {
                // Without a connection (it was lost and could not be opened again)
                // no further message can be fetched either.
                if (Pop3Client->ProtocolState() == pop3Disconnected) {
                    notFetched += count - n + 1;
                    if (firstReason.isEmpty())
                        firstReason = Pop3Client->ErrorMessage();
                    break;
                }
                continue;
            }
            const QString uid = Pop3Client->MsgUidl();
            if (AlreadyFetched(state_.HistoryList, uid)) {
                progress->Panel1->setText(QStringLiteral("Mail %1 is already fetched").arg(n));
                continue;
            }
            const QString path = state_.InboxDir + RawMessageFileName(uid);
            // A raw file of that name holds a message not yet stored (two unique-ids
            // that make the same file name): this one waits for the next run.
            if (written.contains(path) || QFileInfo::exists(path)) {
                trace(QStringLiteral("Mail %1 left on the server: %2 exists").arg(n).arg(path));
                continue;
            }
            MsgNumEdit->setText(QString::number(n));
            trace(QStringLiteral("Message %1").arg(n));
            run.retrStarted = false;
            QString why;
            bool writeFailed = false;
            // A message the server keeps is held in memory while the run may hold
            // more: no raw file is needed to keep it safe.
            const bool hold = state_.KeepMailInServerOn() && heldBytes_ < MaxHeldBytes;
            if (FetchMessage(n, path, hold, why, writeFailed)) {
                meMsgFile.append(path);
                written.insert(path);
                if (!state_.KeepMailInServerOn() && ExecCommand("Delete", &TPop3Client::Delete)) {
                    run.deletionsPending = true;
                    step("dele");
                }
            } else {
                ++notFetched;
                if (firstReason.isEmpty())
                    firstReason = why;
                // A reply the server refused leaves the conversation in step, and so
                // does a message received whole that could not be written; a
                // retrieval that timed out part-way does not, so that connection is
                // ended and the next command opens a new one.
                const bool refused = !run.retrStarted && Pop3Client->LastResponse().startsWith('-');
                if (!writeFailed && !refused && Pop3Client->ProtocolState() != pop3Disconnected)
                    endSession();
            }
            progress->pbBar->setValue(n);
            progress->Panel1->setText(QStringLiteral("%1 out of %2 fetched").arg(n).arg(count));
        }

        endSession();
        if (notFetched > 0) {
            prompts.warning(QStringLiteral("%1 mail(s) could not be fetched (%2).\rThey stay on the "
                                           "server for the next fetch.")
                                .arg(notFetched)
                                .arg(firstReason));
        } else if (meMsgFile.isEmpty()) {
            prompts.information("There is no mail to fetch.");
        }
    } catch (...) {
        if (rawFile_.isOpen())
            rawFile_.close();
        // Held messages are still on the server and not in the history.
        dropHeldMessages();
        // The connection stays open for the next run's QUIT: its deletions must
        // not be committed before their raw files are on disk.
        try {
            if (run.deletionsPending && !FlushRawFiles())
                Pop3Client->Rset();
        } catch (...) {
        }
        throw;
    }
    run.finish();

    step("decode");
    DecodeRun(meMsgFile);
}
