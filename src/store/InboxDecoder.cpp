#include "store/InboxDecoder.h"

#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "common/ZipReader.h"
#include "common/ZipWriter.h"
#include "platform/Command.h"
#include "platform/Error.h"
#include "platform/FileUtil.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"
#include "platform/Sanitiser.h"
#include "store/AttachmentDescriptor.h"
#include "store/FolderNames.h"
#include "store/HeaderRecord.h"
#include "store/History.h"
#include "store/MessageDecoder.h"
#include "store/StorePaths.h"
#include "store/TextOps.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDateTime>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// A message decoded ahead: what the decoder found and its pieces, all in memory,
// each also made ready for its archive.
struct PredecodedMessage {
    DecodedMessage msg;
    QList<DecodedPiece> pieces;
    QList<std::shared_ptr<const zipwrite::PreparedData>> prepared;
};

namespace {

const QString kInbox = QStringLiteral("INBOX");

// A batch is stored with one archive change per archive; these bound the staged
// files of one batch on disk.
constexpr int kMaxBatchMessages = 1000;
constexpr qint64 kMaxBatchBytes = 64 * 1024 * 1024;

// In-memory pieces of one batch (small bodies, attachments and every header record)
// are held up to this many bytes; beyond it pieces are written to files. Creating
// and deleting thousands of small files costs more than decoding them.
constexpr qint64 kMaxBatchMemory = 32 * 1024 * 1024;
// A decoded piece of up to this size (an attachment of a few MB) stays in memory while
// the batch's budget allows: a staging file for it would be written, read back and
// deleted, and creating files and their directories costs more than the copy.
constexpr qint64 kMaxBatchPiece = 8 * 1024 * 1024;

// The members of decoded messages waiting to be added to the three INBOX archives, in
// message order. A piece written to a file lies in its message's own staging
// directory, so that two messages' files of the same name can wait side by side.
struct Batch {
    QList<zipwrite::MemberSource> headers, bodies, attachments;
    qint64 bytes = 0;
    qint64 memoryBudget = kMaxBatchMemory;
};

QString stagingRoot(const QString &inboxDir)
{
    return platform::workDir(inboxDir) + QStringLiteral("decode/");
}

// Members held in memory and not yet ready for their archive (a batch's header
// records, above all) are compressed on two threads when there are many of them.
constexpr qsizetype kPrepareOnTwoThreadsFrom = 64;

void prepareOnTwoThreads(QList<zipwrite::MemberSource> &members, int level)
{
    QList<qsizetype> todo;
    for (qsizetype i = 0; i < members.size(); ++i) {
        if (members[i].inMemory && !members[i].prepared)
            todo << i;
    }
    if (todo.size() < kPrepareOnTwoThreadsFrom)
        return;
    zipwrite::MemberSource *items = members.data();
    // A member that cannot be made ready here is compressed as it is written.
    auto prepare = [&](qsizetype from, qsizetype to) {
        try {
            zipwrite::DataPreparer preparer(level);
            for (qsizetype k = from; k < to; ++k)
                items[todo[k]].prepared = preparer.prepare(items[todo[k]].data);
        } catch (...) {
        }
    };
    const qsizetype half = todo.size() / 2;
    std::thread helper;
    try {
        helper = std::thread(prepare, half, todo.size());
    } catch (...) {
        prepare(half, todo.size());
    }
    prepare(0, half);
    if (helper.joinable())
        helper.join();
}

// One change per archive for all members: a later member of the same name replaces
// an earlier one.
bool addAll(TZipArchive &zip, const QString &archive, QList<zipwrite::MemberSource> &members)
{
    if (members.isEmpty())
        return true;
    QSet<QString> names;
    for (const zipwrite::MemberSource &m : members)
        names.insert(platform::bareFileName(m.path));
    prepareOnTwoThreads(members, zip.AddCompLevel());
    zip.setZipFilename(archive);
    zip.AddMembers(members);
    return zip.SuccessCount() == names.size();
}

QByteArray today() { return TimeStampName().left(8).toUtf8(); }

// Records of INBOX read one by one to tell a message already stored from one that only
// shares its identifier; past this many, the run reads all of them at once (a run that
// fetches again what it stored before meets one such record per message).
constexpr int kSingleRecordReads = 16;

// What the decoding run knows of the names taken in INBOX: the member names read once
// per run, and a digest of the raw header of each record it has looked at or staged.
struct InboxNames {
    TZipArchive &zip;
    QString inboxDir;
    FolderNames taken;
    QHash<QString, QByteArray> headerDigests;   // member -> digest of its raw header
    int singleReads = 0;
    bool allRead = false;

    InboxNames(TZipArchive &z, const QString &inbox)
        : zip(z), inboxDir(inbox), taken(FolderNames::read(z, inbox, kInbox))
    {
    }
    // After a batch that did not reach the archives, only what is on disk counts.
    void reread()
    {
        taken = FolderNames::read(zip, inboxDir, kInbox);
        headerDigests.clear();
        singleReads = 0;
        allRead = false;
    }
    static QByteArray digest(const QByteArray &rawHeader)
    {
        return rawHeader.isEmpty() ? QByteArray()
                                   : QCryptographicHash::hash(rawHeader, QCryptographicHash::Sha256);
    }
    // Reads the records `names` (all when empty) of INBOX into headerDigests.
    void readRecords(const QStringList &names)
    {
        const QString dir = stagingRoot(inboxDir) + QStringLiteral("records/");
        QDir(dir).removeRecursively();
        if (!QDir().mkpath(dir))
            throw platform::Error("Cannot create file " + dir);
        zipread::extractMembers(HeaderArchivePath(inboxDir, kInbox), names, dir);
        for (const QString &name : QDir(dir).entryList(QDir::Files | QDir::Hidden)) {
            QFile f(dir + name);
            if (name != kPlaceholderMember && f.open(QIODevice::ReadOnly))
                headerDigests.insert(name, digest(ParseHeaderRecord(f).rawHeader));
        }
        QDir(dir).removeRecursively();
    }
    QByteArray digestOf(const QString &member)
    {
        if (!allRead && !headerDigests.contains(member)) {
            if (++singleReads > kSingleRecordReads) {
                readRecords({});
                allRead = true;
            } else {
                readRecords({member});
            }
        }
        return headerDigests.value(member);
    }
    FolderNames::IdentifierChoice claimIdentifier(const QString &mailId, const QByteArray &rawHeader)
    {
        const QByteArray own = digest(rawHeader);
        const auto choice = taken.claimIdentifier(
            mailId, own, [this](const QString &member) { return digestOf(member); });
        if (!choice.sameMessage)
            headerDigests.insert(choice.mailId, own);
        return choice;
    }
    void release(const QString &mailId, const QStringList &attachments)
    {
        headerDigests.remove(mailId);
        taken.release(mailId, attachments);
    }
};

// Gives a decoded piece the member name `name`. A piece written to a file lies alone
// in its own directory (`pieceDir` for one still in memory), so renaming it there
// cannot meet another piece's file.
void renamePiece(DecodedPiece &piece, const QString &name, bool package, const QString &pieceDir,
                 qint64 &memoryBudget)
{
    if (piece.name == name)
        return;
    if (package) {
        // The package's body member is named after the package, so it is rewritten.
        if (piece.inMemory()) {
            if (!QDir().mkpath(pieceDir))
                throw platform::Error("Cannot create file " + pieceDir);
            piece.path = pieceDir + piece.name;
            WriteTemporaryFile(piece.path, piece.data);
            memoryBudget += piece.data.size();
            piece.data = QByteArray();
        }
        const QString target = QFileInfo(piece.path).absolutePath() + '/' + name;
        RenamePackageFile(piece.path, target);
        QFile::remove(piece.path);
        piece.path = target;
    } else if (!piece.inMemory()) {
        const QString target = QFileInfo(piece.path).absolutePath() + '/' + name;
        if (!QFile::rename(piece.path, target))
            throw platform::Error("Cannot create file " + target);
        piece.path = target;
    }
    piece.name = name;
}

// Decodes one raw message: its body and attachments as the decoder hands them over
// (in memory, or as files in `stage`), and its header record, under names that no
// other mail of INBOX holds. When INBOX holds the same message already, nothing is
// staged and the choice returned says so and names that mail.
FolderNames::IdentifierChoice stageMessage(const RawMessage &message, const QString &stage,
                                           Batch &batch, InboxNames &names)
{
    QDir(stage).removeRecursively();
    const QString &rawPath = message.path;
    QList<DecodedPiece> pieces;
    qint64 bytes = 0;
    const qint64 budgetBefore = batch.memoryBudget;
    FolderNames::IdentifierChoice choice;
    QStringList entries;
    try {
        DecodedMessage decoded;
        if (message.decoded) {
            decoded = message.decoded->msg;
            pieces = message.decoded->pieces;
            for (const DecodedPiece &piece : std::as_const(pieces))
                bytes += piece.data.size();
        } else {
            QFile file(rawPath);
            QBuffer buffer;
            QIODevice &raw = message.held ? static_cast<QIODevice &>(buffer) : file;
            if (message.held)
                buffer.setData(message.text);
            if (!raw.open(QIODevice::ReadOnly))
                throw platform::Error(QStringLiteral("Cannot open file %1").arg(rawPath));
            decoded = DecodeMessagePieces(
                raw, stage, UniqueIdOfRawFile(rawPath), batch.memoryBudget,
                [&](DecodedPiece &piece) {
                    if (piece.inMemory()) {
                        bytes += piece.data.size();
                    } else {
                        // Two attachments of one message may share a name; each file moves
                        // to a directory of its own before the next one is written.
                        const QString dir = stage + 'p' + QString::number(pieces.size()) + '/';
                        const QString moved = dir + piece.name;
                        if (!QDir().mkpath(dir) || !QFile::rename(piece.path, moved))
                            throw platform::Error(QStringLiteral("Cannot create file %1").arg(moved));
                        piece.path = moved;
                        bytes += QFileInfo(moved).size();
                    }
                    pieces << std::move(piece);
                },
                kMaxBatchPiece);
        }
        const DecodedMessage &msg = decoded;
        const QByteArray rawHeader =
            ParseHeaderRecord(FormatHeaderRecord({}, false, {}, {}, msg.rawHeader, {}, {})).rawHeader;
        choice = names.claimIdentifier(msg.identifier, rawHeader);
        if (choice.sameMessage) {
            batch.memoryBudget = budgetBefore;
            QDir(stage).removeRecursively();
            return choice;
        }
        for (DecodedPiece &piece : pieces) {
            if (piece.kind == DecodedFileKind::Body) {
                renamePiece(piece, choice.mailId, false, {}, batch.memoryBudget);
                continue;
            }
            // A quorvel mail's first attachment is its package.
            const bool package = msg.ownMail && entries.isEmpty() && IsPackageName(piece.name);
            const QString name = names.taken.claimAttachment(piece.name, package);
            entries << name;
            renamePiece(piece, name, package, stage + QStringLiteral("m%1/").arg(entries.size()),
                        batch.memoryBudget);
        }
        batch.headers << zipwrite::MemberSource::bytes(
            choice.mailId, FormatHeaderRecord(msg.date, msg.ownMail, kStatusNew,
                                              FormatAttachmentDescriptor(msg.attachmentCount, entries),
                                              msg.rawHeader, msg.subject, msg.from));
    } catch (...) {
        // Names claimed for a mail that is not stored are free again.
        batch.memoryBudget = budgetBefore;
        if (!choice.mailId.isEmpty() && !choice.sameMessage)
            names.release(choice.mailId, entries);
        throw;
    }
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        DecodedPiece &piece = pieces[i];
        auto &list = piece.kind == DecodedFileKind::Body ? batch.bodies : batch.attachments;
        // A piece decoded ahead is ready for its archive unless renaming rewrote it.
        const auto ready = message.decoded && piece.inMemory() ? message.decoded->prepared.value(i) : nullptr;
        list << (ready ? zipwrite::MemberSource::ready(piece.name, ready)
                 : piece.inMemory() ? zipwrite::MemberSource::bytes(piece.name, std::move(piece.data))
                                    : zipwrite::MemberSource::file(piece.path));
    }
    batch.bytes += bytes;
    return choice;
}

// Stages the raw text of a message the decoder could not take as the body of a mail
// of its own, so that it is kept where the user finds it.
void stageRawMessage(const RawMessage &message, const QString &stage, Batch &batch,
                     InboxNames &names)
{
    const QString &rawPath = message.path;
    // A held message decoded ahead gave up its text; the server's copy is fetched again.
    if (message.held && message.decoded)
        throw platform::Error(QStringLiteral("Cannot keep %1 as it arrived").arg(rawPath));
    QString id = UniqueIdOfRawFile(rawPath);
    id = names.claimIdentifier(platform::sanitizeFileName(id.isEmpty() ? TimeStampName() : id), {})
             .mailId;
    const qint64 size = message.held ? message.text.size() : QFileInfo(rawPath).size();
    if (message.held) {
        // Held text is in memory already: sharing it costs nothing.
        batch.bodies << zipwrite::MemberSource::bytes(id, message.text);
    } else if (size <= kMaxPieceInMemory && size <= batch.memoryBudget) {
        QFile raw(rawPath);
        if (!raw.open(QIODevice::ReadOnly))
            throw platform::Error(QStringLiteral("Cannot open file %1").arg(rawPath));
        QByteArray text = raw.readAll();
        if (raw.error() != QFileDevice::NoError)
            throw platform::Error(QStringLiteral("Cannot read file %1").arg(rawPath));
        batch.memoryBudget -= text.size();
        batch.bodies << zipwrite::MemberSource::bytes(id, std::move(text));
    } else {
        QDir(stage).removeRecursively();
        const QString body = stage + id;
        if (!QDir().mkpath(stage) || !QFile::copy(rawPath, body))
            throw platform::Error(QStringLiteral("Cannot create file %1").arg(body));
        batch.bodies << zipwrite::MemberSource::file(body);
    }
    batch.headers << zipwrite::MemberSource::bytes(
        id, FormatHeaderRecord(today(), false, kStatusNew, "0     ", {},
                               "Message " + id.toUtf8() + " as it arrived", {}));
    batch.bytes += size;
}

} // namespace

QString UniqueIdOfRawFile(const QString &rawPath)
{
    QString name = QFileInfo(rawPath).fileName();
    if (name.startsWith(QLatin1String("Msg"), Qt::CaseInsensitive))
        name = name.mid(3);
    if (name.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive))
        name.chop(4);
    return name;
}

QStringList PendingRawMessages(const QString &inboxDir)
{
    QFileInfoList files = QDir(inboxDir).entryInfoList({QStringLiteral("Msg*.txt")}, QDir::Files);
    std::stable_sort(files.begin(), files.end(), [](const QFileInfo &a, const QFileInfo &b) {
        const QDateTime ta = a.lastModified(), tb = b.lastModified();
        return ta != tb ? ta < tb : a.fileName() < b.fileName();
    });
    QStringList out;
    for (const QFileInfo &f : files) {
        // The name test of entryInfoList ignores case; raw files are "Msg" exactly.
        if (f.fileName().startsWith(QLatin1String("Msg")))
            out << f.filePath();
    }
    return out;
}

QString DecodeMessage(TZipArchive &zip, const QString &inboxDir, const QString &rawPath)
{
    const QString inbox = platform::joinPath(inboxDir, QString());
    const QString stage = stagingRoot(inbox) + QStringLiteral("single/");
    Batch batch;
    QString id;
    try {
        InboxNames names(zip, inbox);
        const auto choice = stageMessage(RawMessage::file(rawPath), stage, batch, names);
        id = choice.mailId;
        if (!choice.sameMessage
            && (!addAll(zip, BodyArchivePath(inbox, kInbox), batch.bodies)
            || !addAll(zip, AttachmentArchivePath(inbox, kInbox), batch.attachments)
                || !addAll(zip, HeaderArchivePath(inbox, kInbox), batch.headers)))
            throw platform::Error(QStringLiteral("Unable to store %1 in INBOX").arg(rawPath));
    } catch (...) {
        QDir(stage).removeRecursively();
        throw;
    }
    QDir(stage).removeRecursively();
    return id;
}

int DecodeAllMessages(const InboxDecodeTarget &target, const QStringList &rawFiles)
{
    QList<RawMessage> messages;
    messages.reserve(rawFiles.size());
    for (const QString &path : rawFiles)
        messages << RawMessage::file(path);
    return DecodeAllMessages(target, std::move(messages));
}

int DecodeAllMessages(const InboxDecodeTarget &target, QList<RawMessage> messages)
{
    const QString inbox = platform::joinPath(target.inboxDir, QString());
    const QString root = stagingRoot(inbox);
    // Staging left by a run that was killed: its raw files are still there and are
    // decoded again, so the staged copies are only in the way.
    QDir(root).removeRecursively();
    InboxNames names(target.zip, inbox);

    int stored = 0;
    qsizetype next = 0;
    while (next < messages.size()) {
        Batch batch;
        QList<RawMessage> staged;
        // Per staged message: false when INBOX already held the same message, which
        // then only goes into the history.
        QList<bool> isNew;
        while (next < messages.size() && staged.size() < kMaxBatchMessages
               && batch.bytes < kMaxBatchBytes) {
            RawMessage message = std::move(messages[next++]);
            const QString stage = root + QString::number(staged.size()) + '/';
            bool fresh = true;
            try {
                fresh = !stageMessage(message, stage, batch, names).sameMessage;
            } catch (...) {
                // One bad message never blocks the others: it is reported once and
                // kept, as the body of a mail of its own or, failing that, as the raw
                // file that the next run tries again (a held message stays on the
                // server and is fetched again).
                const QString why = platform::currentExceptionText();
                bool kept = true;
                try {
                    stageRawMessage(message, stage, batch, names);
                } catch (...) {
                    QDir(stage).removeRecursively();
                    kept = false;
                }
                const QString name = QFileInfo(message.path).fileName();
                platform::prompts().warning(
                    kept ? QStringLiteral("The message %1 could not be decoded (%2).\rIt is "
                                          "kept in INBOX as it arrived.").arg(name, why)
                         : QStringLiteral("The message %1 could not be stored (%2).\rIt is "
                                          "kept and tried again at the next fetch.").arg(name, why));
                if (!kept)
                    continue;
            }
            // What was decoded is in the batch now; the held text is not needed again.
            message.text = QByteArray();
            message.decoded.reset();
            staged << std::move(message);
            isNew << fresh;
        }
        if (staged.isEmpty())
            continue;

        // Bodies and attachments first: a header record is only ever listed once the
        // mail's other members are in place.
        const bool ok = addAll(target.zip, BodyArchivePath(inbox, kInbox), batch.bodies)
            && addAll(target.zip, AttachmentArchivePath(inbox, kInbox), batch.attachments)
            && addAll(target.zip, HeaderArchivePath(inbox, kInbox), batch.headers);
        QDir(root).removeRecursively();
        if (!ok) {
            platform::prompts().warning(
                QStringLiteral("%1 message(s) could not be stored in INBOX.\rThey are kept "
                               "and stored at the next fetch.")
                    .arg(staged.size()));
            names.reread();
            continue;
        }
        // The mails are on disk before the history says they were fetched (a held
        // message in the history is not fetched again today) and before their raw
        // files go. A message stored again is recognised as the same one and not
        // stored twice, so a run that ends between the two does no harm.
        if (!syncArchives())
            continue;
        for (qsizetype i = 0; i < staged.size(); ++i) {
            if (isNew[i])
                target.newMailList << staged[i].path;
            target.history << HistoryLineForRawFile(staged[i].path);
        }
        try {
            SaveHistory(target.historyFile, target.history, false);
        } catch (...) {
            platform::prompts().warning(platform::currentExceptionText());
        }
        if (!platform::syncPath(target.historyFile)
            || !platform::syncPath(QFileInfo(target.historyFile).absolutePath()))
            continue;
        for (const RawMessage &message : std::as_const(staged)) {
            if (message.held || QFile::remove(message.path))
                ++stored;
        }
    }
    return stored;
}

struct MessagePredecoder::Shared {
    std::mutex mutex;
    std::condition_variable wake, settled;
    std::deque<RawMessage> queue;
    int busy = 0;   // messages being decoded
    bool stopping = false;
    QHash<QString, std::shared_ptr<const PredecodedMessage>> done;
    QStringList decodedHeld;
    qint64 budget = 0;
    int level = 0;
    std::thread thread;
};

namespace {

// Decodes `message` within `budget` bytes, which it takes what it keeps from; null when
// it does not decode or does not fit (the storing then decodes it again).
std::shared_ptr<PredecodedMessage> predecode(const RawMessage &message, qint64 &budget,
                                             zipwrite::DataPreparer &preparer)
{
    qint64 left = budget;
    try {
        QFile file(message.path);
        QBuffer buffer;
        QIODevice &raw = message.held ? static_cast<QIODevice &>(buffer) : file;
        if (message.held)
            buffer.setData(message.text);
        if (!raw.open(QIODevice::ReadOnly))
            return nullptr;
        auto decoded = std::make_shared<PredecodedMessage>();
        decoded->msg = DecodeMessagePieces(
            raw, QString(), UniqueIdOfRawFile(message.path), left,
            [&decoded](DecodedPiece &piece) { decoded->pieces << std::move(piece); }, left);
        for (const DecodedPiece &piece : std::as_const(decoded->pieces)) {
            decoded->prepared << preparer.prepare(piece.data);
            if (const auto &ready = decoded->prepared.constLast())
                left -= ready->compressed.size();
        }
        // The compressed copies are held too: when they do not fit, neither does the message.
        if (left < 0)
            return nullptr;
        budget = left;
        return decoded;
    } catch (...) {
        return nullptr;
    }
}

} // namespace

MessagePredecoder::MessagePredecoder(qint64 memoryBudget, int archiveLevel) : d_(std::make_unique<Shared>())
{
    d_->budget = memoryBudget;
    d_->level = archiveLevel;
    d_->thread = std::thread([this] { work(); });
}

MessagePredecoder::~MessagePredecoder()
{
    {
        std::lock_guard lock(d_->mutex);
        d_->stopping = true;
        d_->queue.clear();
    }
    d_->wake.notify_all();
    d_->thread.join();
}

void MessagePredecoder::post(const RawMessage &message)
{
    {
        std::lock_guard lock(d_->mutex);
        d_->queue.push_back(RawMessage{message.path, message.text, message.held, {}});
    }
    d_->wake.notify_one();
}

QStringList MessagePredecoder::takeDecodedHeld()
{
    std::lock_guard lock(d_->mutex);
    return std::exchange(d_->decodedHeld, {});
}

bool MessagePredecoder::decodeNext(std::unique_lock<std::mutex> &lock, bool newest,
                                   zipwrite::DataPreparer &preparer)
{
    if (d_->queue.empty())
        return false;
    RawMessage message;
    if (newest) {
        message = std::move(d_->queue.back());
        d_->queue.pop_back();
    } else {
        message = std::move(d_->queue.front());
        d_->queue.pop_front();
    }
    ++d_->busy;
    // Two messages decoded at once may each count on the same part of the budget:
    // together they stay within twice of it.
    qint64 budget = d_->budget;
    const qint64 before = budget;
    lock.unlock();
    std::shared_ptr<PredecodedMessage> result = predecode(message, budget, preparer);
    message.text = QByteArray();
    lock.lock();
    --d_->busy;
    if (result) {
        d_->budget -= before - budget;
        d_->done.insert(message.path, std::move(result));
        if (message.held)
            d_->decodedHeld << message.path;
    }
    d_->settled.notify_all();
    return true;
}

void MessagePredecoder::attachTo(QList<RawMessage> &messages)
{
    {
        // What is still waiting is shared out: this thread takes the newest, the
        // decoding thread goes on with the oldest.
        zipwrite::DataPreparer preparer(d_->level);
        std::unique_lock lock(d_->mutex);
        while (decodeNext(lock, true, preparer)) {
        }
        d_->settled.wait(lock, [this] { return d_->busy == 0; });
    }
    std::lock_guard lock(d_->mutex);
    for (RawMessage &message : messages) {
        const auto result = d_->done.constFind(message.path);
        if (result == d_->done.constEnd())
            continue;
        message.decoded = *result;
        if (message.held)
            message.text = QByteArray();
    }
    d_->done.clear();
}

void MessagePredecoder::work()
{
    zipwrite::DataPreparer preparer(d_->level);
    std::unique_lock lock(d_->mutex);
    for (;;) {
        d_->wake.wait(lock, [this] { return d_->stopping || !d_->queue.empty(); });
        if (d_->stopping)
            return;
        decodeNext(lock, false, preparer);
    }
}
