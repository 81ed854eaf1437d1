#include "store/InboxDecoder.h"

#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "common/ZipWriter.h"
#include "platform/Command.h"
#include "platform/Error.h"
#include "platform/FileUtil.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"
#include "platform/Sanitiser.h"
#include "store/HeaderRecord.h"
#include "store/History.h"
#include "store/MessageDecoder.h"
#include "store/StorePaths.h"
#include "store/TextOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDateTime>
#include <QSet>

#include <algorithm>

namespace {

const QString kInbox = QStringLiteral("INBOX");

// A batch is stored with one archive change per archive; these bound the staged
// files of one batch on disk.
constexpr int kMaxBatchMessages = 200;
constexpr qint64 kMaxBatchBytes = 64 * 1024 * 1024;

// In-memory pieces of one batch (small bodies, attachments and every header record)
// are held up to this many bytes; beyond it pieces are written to files. Creating
// and deleting thousands of small files costs more than decoding them.
constexpr qint64 kMaxBatchMemory = 32 * 1024 * 1024;

// The members of decoded messages waiting to be added to the three INBOX archives, in
// message order. A piece written to a file lies in its message's own staging
// directory, so that two messages' files of the same name can wait side by side.
struct Batch {
    QList<zipwrite::MemberSource> headers, bodies, attachments;
    QStringList rawFiles;     // raw messages whose members are staged
    QStringList historyLines;
    qint64 bytes = 0;
    qint64 memoryBudget = kMaxBatchMemory;
};

QString stagingRoot(const QString &inboxDir)
{
    return platform::workDir(inboxDir) + QStringLiteral("decode/");
}

// One change per archive for all members: a later member of the same name replaces
// an earlier one.
bool addAll(TZipArchive &zip, const QString &archive, const QList<zipwrite::MemberSource> &members)
{
    if (members.isEmpty())
        return true;
    QSet<QString> names;
    for (const zipwrite::MemberSource &m : members)
        names.insert(platform::bareFileName(m.path));
    zip.setZipFilename(archive);
    zip.AddMembers(members);
    return zip.SuccessCount() == names.size();
}

QByteArray today() { return TimeStampName().left(8).toUtf8(); }

// Decodes one raw message: its body and attachments as the decoder hands them over
// (in memory, or as files in `stage`), and its header record.
void stageMessage(const QString &rawPath, const QString &stage, Batch &batch)
{
    QDir(stage).removeRecursively();
    QFile raw(rawPath);
    if (!raw.open(QIODevice::ReadOnly))
        throw platform::Error(QStringLiteral("Cannot open file %1").arg(rawPath));
    QList<zipwrite::MemberSource> bodies, attachments;
    qint64 bytes = 0, inMemory = 0;
    try {
        const DecodedMessage msg = DecodeMessagePieces(
            raw, stage, UniqueIdOfRawFile(rawPath), batch.memoryBudget,
            [&](DecodedPiece &piece) {
                auto &list = piece.kind == DecodedFileKind::Body ? bodies : attachments;
                if (piece.inMemory()) {
                    bytes += piece.data.size();
                    inMemory += piece.data.size();
                    list << zipwrite::MemberSource::bytes(piece.name, std::move(piece.data));
                } else {
                    bytes += QFileInfo(piece.path).size();
                    list << zipwrite::MemberSource::file(piece.path);
                }
            });
        batch.headers << zipwrite::MemberSource::bytes(
            msg.identifier, FormatHeaderRecord(msg.date, msg.ownMail, kStatusNew,
                                               msg.descriptor().toUtf8(), msg.rawHeader,
                                               msg.subject, msg.from));
    } catch (...) {
        batch.memoryBudget += inMemory;
        throw;
    }
    batch.bodies << bodies;
    batch.attachments << attachments;
    batch.bytes += bytes;
}

// Stages the raw text of a message the decoder could not take as the body of a mail
// of its own, so that it is kept where the user finds it.
void stageRawMessage(const QString &rawPath, const QString &stage, Batch &batch)
{
    QString id = UniqueIdOfRawFile(rawPath);
    id = platform::sanitizeFileName(id.isEmpty() ? TimeStampName() : id);
    const qint64 size = QFileInfo(rawPath).size();
    if (size <= kMaxPieceInMemory && size <= batch.memoryBudget) {
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
        stageMessage(rawPath, stage, batch);
        id = batch.headers.first().path;
        if (!addAll(zip, BodyArchivePath(inbox, kInbox), batch.bodies)
            || !addAll(zip, AttachmentArchivePath(inbox, kInbox), batch.attachments)
            || !addAll(zip, HeaderArchivePath(inbox, kInbox), batch.headers))
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
    const QString inbox = platform::joinPath(target.inboxDir, QString());
    const QString root = stagingRoot(inbox);
    // Staging left by a run that was killed: its raw files are still there and are
    // decoded again, so the staged copies are only in the way.
    QDir(root).removeRecursively();

    int stored = 0;
    int next = 0;
    while (next < rawFiles.size()) {
        Batch batch;
        int staged = 0;
        while (next < rawFiles.size() && staged < kMaxBatchMessages
               && batch.bytes < kMaxBatchBytes) {
            const QString rawPath = rawFiles[next++];
            const QString stage = root + QString::number(staged++) + '/';
            try {
                stageMessage(rawPath, stage, batch);
            } catch (...) {
                // One bad message never blocks the others: it is reported once and
                // kept, as the body of a mail of its own or, failing that, as the raw
                // file that the next run tries again.
                const QString why = platform::currentExceptionText();
                bool kept = true;
                try {
                    stageRawMessage(rawPath, stage, batch);
                } catch (...) {
                    QDir(stage).removeRecursively();
                    kept = false;
                }
                const QString name = QFileInfo(rawPath).fileName();
                platform::prompts().warning(
                    kept ? QStringLiteral("The message %1 could not be decoded (%2).\rIt is "
                                          "kept in INBOX as it arrived.").arg(name, why)
                         : QStringLiteral("The message %1 could not be stored (%2).\rIt is "
                                          "kept and tried again at the next fetch.").arg(name, why));
                if (!kept)
                    continue;
            }
            batch.rawFiles << rawPath;
            batch.historyLines << HistoryLineForRawFile(rawPath);
        }
        if (batch.rawFiles.isEmpty())
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
                    .arg(batch.rawFiles.size()));
            continue;
        }
        for (int i = 0; i < batch.rawFiles.size(); ++i) {
            target.newMailList << batch.rawFiles[i];
            target.history << batch.historyLines[i];
        }
        try {
            SaveHistory(target.historyFile, target.history, false);
        } catch (...) {
            platform::prompts().warning(platform::currentExceptionText());
        }
        // The mails and the history must be on disk before their raw files go.
        if (!syncArchives() || !platform::syncPath(target.historyFile)
            || !platform::syncPath(QFileInfo(target.historyFile).absolutePath()))
            continue;
        for (const QString &raw : batch.rawFiles) {
            if (QFile::remove(raw))
                ++stored;
        }
    }
    return stored;
}
