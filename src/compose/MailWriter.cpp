#include "compose/MailWriter.h"

#include "common/ArchiveOps.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/FileUtil.h"
#include "platform/Paths.h"
#include "rtf/Rtf.h"
#include "store/AttachmentDescriptor.h"
#include "store/HeaderRecord.h"
#include "store/MailIdentifier.h"
#include "store/OutgoingHeader.h"
#include "store/QueueFile.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "store/TextOps.h"

#include <QFile>
#include <QFileInfo>
#include <QTextDocument>

#include <cerrno>
#include <cstdio>

namespace {

const QString kSentFolder = QStringLiteral("SENT");
// How many seconds FreshMailName steps on before it gives up.
constexpr int kMaxNameSteps = 24 * 60 * 60;

// Rows left blank (a row added by double-click and never typed into) name nothing.
QStringList filledRows(const QStringList &rows)
{
    QStringList filled;
    for (const QString &row : rows)
        if (!row.trimmed().isEmpty())
            filled += row;
    return filled;
}

// Moves `from` onto `to`, replacing a file there; across file systems by an atomic copy.
void moveReplacing(const QString &from, const QString &to)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return;
    if (errno == EXDEV) {
        QFile source(from);
        if (source.open(QIODevice::ReadOnly)
            && platform::writeFileAtomically(to, source.readAll(), 0, true)) {
            source.remove();
            return;
        }
    }
    QFile::remove(from);
    throw platform::Error("Cannot create file " + to);
}

} // namespace

MailWriter::MailWriter(ControlCentreState &state) : state_(state) {}

QString MailWriter::FreshMailName() const
{
    const QDateTime start = platform::now();
    for (int step = 0; step < kMaxNameSteps; ++step) {
        const QString stamp = start.addSecs(step).toString("yyMMddHHmmss");
        const QString name = MakeMailName(stamp + "." + state_.EmailAddress, state_.EmailAddress);
        if (!NameInUse(name))
            return name;
    }
    throw platform::Error("No free name for a new mail in " + state_.OutboxDir);
}

bool MailWriter::NameInUse(const QString &mailName) const
{
    const QString &outbox = state_.OutboxDir;
    if (QFileInfo::exists(OutgoingHeaderPath(outbox, mailName))
        || QFileInfo::exists(PackagePath(outbox, mailName))
        || QFileInfo::exists(BodyDocumentPath(outbox, mailName)))
        return true;
    const QStringList lines = LoadQueue(QueueFilePath(outbox));
    return std::any_of(lines.begin(), lines.end(),
                       [&](const QString &line) { return ParseQueueLine(line).name == mailName; });
}

void MailWriter::SaveMailHeader(const OutgoingMail &mail) const
{
    WriteOutgoingHeader(OutgoingHeaderPath(state_.OutboxDir, mail.mailName), mail.subject,
                        filledRows(mail.recipients));
}

void MailWriter::writeMailFiles(const OutgoingMail &mail, const QTextDocument &body)
{
    const QString &outbox = state_.OutboxDir;
    const QString &name = mail.mailName;
    const QStringList recipients = filledRows(mail.recipients);
    const QStringList attachments = filledRows(mail.attachments);

    // The plain files are flushed once, below, with the archives' sync.
    const QString header = OutgoingHeaderPath(outbox, name);
    WriteStoreFile(header, FormatOutgoingHeader(mail.subject, recipients), false);
    const QString document = BodyDocumentPath(outbox, name);
    WriteStoreFile(document, rtf::writeRtf(body), false);
    const QString package = PackagePath(outbox, name);
    ZipFile(state_.ZipArchive1, package, document);

    if (state_.KeepCopyOn()) {
        QString from;
        for (const QString &r : recipients)
            from += r + ";";
        const QByteArray attach =
            FormatAttachmentDescriptor(1, QStringList{PackageName(name)} + attachments);
        const QByteArray date = platform::now().toString("yyyyMMdd").toUtf8();
        if (!WriteHeaderRecord(state_.ZipArchive1, state_.InboxDir, kSentFolder, name, date, true,
                               kStatusNew, attach, {}, mail.subject.toUtf8(), from.toUtf8()))
            throw platform::Error("Cannot create file " + HeaderArchivePath(state_.InboxDir, kSentFolder));
        ZipFile(state_.ZipArchive1, AttachmentArchivePath(state_.InboxDir, kSentFolder), package);
    }

    const QString &kept = mail.otherMail ? document : package;
    QFile::remove(mail.otherMail ? package : document);
    if (!platform::syncPath(header) || !platform::syncPath(kept))
        throw platform::Error("Cannot create file " + kept);
}

void MailWriter::FileSave(const OutgoingMail &mail, const QTextDocument &body)
{
    StoreCommand command;
    writeMailFiles(mail, body);
    command.finish();
}

QString MailWriter::AttachmentPathProblem(const QString &path)
{
    if (!path.contains(';') && !path.contains('='))
        return {};
    return "The file " + path
           + " cannot be sent: its path contains \";\" or \"=\".\r"
             "Rename the file or its folder, or copy it elsewhere, and attach it again.";
}

void MailWriter::Queue(const OutgoingMail &mail, bool queueAttachments, const QTextDocument &body)
{
    const QStringList attachments = filledRows(mail.attachments);
    if (queueAttachments)
        for (const QString &path : attachments)
            if (const QString problem = AttachmentPathProblem(path); !problem.isEmpty())
                throw platform::Error(problem);

    FileSave(mail, body);
    // A mail opened from its package and queued again keeps one line, or it would be
    // posted twice.
    const QString queue = QueueFilePath(state_.OutboxDir);
    const QString line = FormatQueueLine(mail.mailName, queueAttachments ? attachments : QStringList{});
    QStringList lines = LoadQueue(queue);
    const auto same = std::find_if(lines.begin(), lines.end(), [&](const QString &l) {
        return ParseQueueLine(l).name == mail.mailName;
    });
    if (same != lines.end())
        *same = line;
    else
        lines += line;
    SaveQueue(queue, lines);
}

QString MailWriter::PerformFileOpen(const QString &path, QTextDocument &body)
{
    const QString name = MailIdFromPackageName(path);
    const QString package = platform::joinPath(QFileInfo(path).absolutePath(), PackageName(name));
    const QString copy =
        ExtractMemberCopy(state_.ZipArchive1, package, PackageBodyName(name), state_.OutboxDir);
    if (copy.isEmpty())
        throw platform::Error("Cannot open file " + BodyDocumentPath(state_.OutboxDir, name));
    QByteArray rtfBytes;
    try {
        rtfBytes = ReadStoreFile(copy);
    } catch (...) {
        QFile::remove(copy);
        throw;
    }
    QFile::remove(copy);

    // Read once aside, so a damaged body leaves the editor's content as it was.
    QTextDocument scratch;
    const rtf::ReadResult check = rtf::readRtf(rtfBytes, scratch);
    if (!check.ok)
        throw platform::Error("Cannot read " + path + ": " + check.error);
    rtf::readRtf(rtfBytes, body);
    return name;
}

bool MailWriter::SaveAttachment(const QString &sourceFolder, const QString &member,
                                const QString &target)
{
    const QString archive = AttachmentArchivePath(state_.InboxDir, sourceFolder);
    if (!QFileInfo::exists(archive))
        return ExtractFromArchive(state_.ZipArchive1, archive, member, state_.InboxDir);
    const QString copy = ExtractMemberCopy(state_.ZipArchive1, archive, member, state_.InboxDir);
    if (copy.isEmpty())
        throw platform::Error("Cannot find " + member + " in " + archive);
    moveReplacing(copy, target);
    return true;
}
