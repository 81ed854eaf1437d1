#include "store/InboxDecoder.h"

#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
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
#include <QHash>

#include <algorithm>

namespace {

const QString kInbox = QStringLiteral("INBOX");

// A batch is stored with one archive change per archive; these bound the staged
// files of one batch on disk.
constexpr int kMaxBatchMessages = 200;
constexpr qint64 kMaxBatchBytes = 64 * 1024 * 1024;

// The files of decoded messages waiting to be added to the three INBOX archives, in
// message order. Each message has its own staging directory, so that two messages'
// files of the same name can wait side by side.
struct Batch {
    QStringList headers, bodies, attachments;
    QStringList rawFiles;     // raw messages whose files are staged
    QStringList historyLines;
    qint64 bytes = 0;
};

QString stagingRoot(const QString &inboxDir)
{
    return platform::workDir(inboxDir) + QStringLiteral("decode/");
}

// One Add for all files: members are bare names, a later file of the same name
// replaces an earlier one.
bool addAll(TZipArchive &zip, const QString &archive, const QStringList &files)
{
    if (files.isEmpty())
        return true;
    QHash<QString, int> last;
    for (int i = 0; i < files.size(); ++i)
        last.insert(QFileInfo(files[i]).fileName(), i);
    QStringList unique;
    for (int i = 0; i < files.size(); ++i) {
        if (last.value(QFileInfo(files[i]).fileName()) == i)
            unique << files[i];
    }
    zip.setZipFilename(archive);
    zip.FSpecArgs = unique;
    zip.Add();
    return zip.SuccessCount() == unique.size();
}

QByteArray today() { return TimeStampName().left(8).toUtf8(); }

// A message's staging directory holds the decoder's files in "files/" and its header
// record in "record/", so no name from the message can meet the record.
QString makeStage(const QString &stage)
{
    QDir(stage).removeRecursively();
    if (!QDir().mkpath(stage + QStringLiteral("files")) || !QDir().mkpath(stage + QStringLiteral("record")))
        throw platform::Error(QStringLiteral("Cannot create file %1").arg(stage));
    return stage;
}

// Decodes one raw message into `stage`: its body and attachments as the decoder
// writes them, and its header record file.
void stageMessage(const QString &rawPath, const QString &stage, Batch &batch)
{
    makeStage(stage);
    QFile raw(rawPath);
    if (!raw.open(QIODevice::ReadOnly))
        throw platform::Error(QStringLiteral("Cannot open file %1").arg(rawPath));
    QStringList bodies, attachments;
    const DecodedMessage msg = DecodeMessageStream(
        raw, stage + QStringLiteral("files/"), UniqueIdOfRawFile(rawPath), [&](const QString &path, DecodedFileKind kind) {
            (kind == DecodedFileKind::Body ? bodies : attachments) << path;
            batch.bytes += QFileInfo(path).size();
        });
    const QString record = stage + QStringLiteral("record/") + msg.identifier;
    WriteTemporaryFile(record, FormatHeaderRecord(msg.date, msg.ownMail, kStatusNew,
                                                  msg.descriptor().toUtf8(), msg.rawHeader,
                                                  msg.subject, msg.from));
    batch.bodies << bodies;
    batch.attachments << attachments;
    batch.headers << record;
}

// Stages the raw text of a message the decoder could not take as the body of a mail
// of its own, so that it is kept where the user finds it.
void stageRawMessage(const QString &rawPath, const QString &stage, Batch &batch)
{
    makeStage(stage);
    QString id = UniqueIdOfRawFile(rawPath);
    id = platform::sanitizeFileName(id.isEmpty() ? TimeStampName() : id);
    const QString body = stage + QStringLiteral("files/") + id;
    if (!QFile::copy(rawPath, body))
        throw platform::Error(QStringLiteral("Cannot create file %1").arg(body));
    const QString record = stage + QStringLiteral("record/") + id;
    WriteTemporaryFile(record, FormatHeaderRecord(today(), false, kStatusNew, "0     ", {},
                                                  "Message " + id.toUtf8() + " as it arrived",
                                                  {}));
    batch.bodies << body;
    batch.headers << record;
    batch.bytes += QFileInfo(rawPath).size();
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
        id = QFileInfo(batch.headers.first()).fileName();
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
