#include "store/FolderOps.h"

#include "store/AttachmentDescriptor.h"
#include "store/FolderNames.h"
#include "store/HeaderRecord.h"
#include "store/MailIdentifier.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "store/TextOps.h"

#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "common/ZipJournal.h"
#include "common/ZipReader.h"
#include "mime/EncodedWords.h"
#include "platform/Error.h"
#include "platform/FileUtil.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"
#include "platform/Sanitiser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <limits>

#include <unistd.h>

namespace {

QString folded(const QString &name) { return name.toCaseFolded(); }

// A record is a few lines and a mail's raw header; anything far larger is no record.
constexpr qint64 kMaxRecordBytes = 16 * 1024 * 1024;

// The archive component's level, which every store archive is written with.
constexpr int kCompressionLevel = 9;

std::function<void(const char *)> &moveStepHook()
{
    static std::function<void(const char *)> hook;
    return hook;
}

void step(const char *name)
{
    if (moveStepHook())
        moveStepHook()(name);
}

// A private scratch directory below the inbox's working directory, gone with the object.
class Scratch {
public:
    explicit Scratch(const QString &inboxDir)
        : dir_(platform::workDir(inboxDir) + QStringLiteral("folder-XXXXXX"))
    {
        if (!dir_.isValid())
            throw platform::Error("Cannot create file " + dir_.path());
    }
    // A fresh subdirectory `name`/.
    QString sub(const QString &name) const
    {
        const QString path = dir_.path() + '/' + name + '/';
        if (!QDir().mkpath(path))
            throw platform::Error("Cannot create file " + path);
        return path;
    }

private:
    QTemporaryDir dir_;
};

// Member `name` of `archive`, read in memory without listing the archive's members
// first; nothing when there is no such member. A missing archive is reported.
std::optional<QByteArray> readMember(const QString &archive, const QString &name)
{
    if (!QFileInfo(archive).isFile()) {
        platform::prompts().information("File " + archive + " is missing");
        return std::nullopt;
    }
    std::optional<QByteArray> out;
    zipread::readMembers(archive, {name}, std::numeric_limits<qint64>::max(),
                         [&](const QString &, const QByteArray &data) { out = data; });
    return out;
}

// The descriptor entries that name members of the folder's attachment archive (a SENT
// copy's attached files are paths on disk and name none), each once.
QStringList memberEntries(const HeaderRecord &record)
{
    QStringList out;
    for (const QString &entry : DescriptorEntries(record.attach)) {
        if (IsMemberName(entry) && !out.contains(entry))
            out << entry;
    }
    return out;
}

// The mail's own record and, when it names attachment members, the attachment names
// every other record of the folder gives (letter case ignored). Only a mail with
// attachment members costs a reading of all records, in one pass in memory.
struct FolderRecords {
    bool found = false;
    QByteArray bytes;        // the mail's record as stored
    HeaderRecord record;
    QSet<QString> othersEntries;
};

FolderRecords readRecords(const QString &inboxDir, const QString &folder,
                          const QString &mailId)
{
    FolderRecords out;
    const QString archive = HeaderArchivePath(inboxDir, folder);
    const std::optional<QByteArray> bytes = readMember(archive, mailId);
    if (!bytes)
        return out;
    out.found = true;
    out.bytes = *bytes;
    out.record = ParseHeaderRecord(out.bytes);
    if (memberEntries(out.record).isEmpty())
        return out;

    // A record is parsed only when it may name one of them: it holds one of the
    // ASCII names in any letter case, or bytes outside ASCII (whose case folding the
    // byte test cannot follow).
    QList<QByteArray> wanted;
    for (const QString &entry : memberEntries(out.record))
        wanted << entry.toUtf8().toLower();
    const auto ascii = [](const QByteArray &b) {
        return std::all_of(b.begin(), b.end(), [](char c) { return uchar(c) < 0x80; });
    };
    const bool byBytes = std::all_of(wanted.begin(), wanted.end(), ascii);
    zipread::readMembers(archive, {}, kMaxRecordBytes, [&](const QString &name, const QByteArray &data) {
        if (name == kPlaceholderMember || name == mailId)
            return;
        if (byBytes && ascii(data)) {
            const QByteArray lower = data.toLower();
            if (std::none_of(wanted.begin(), wanted.end(), [&](const QByteArray &w) { return lower.contains(w); }))
                return;
        }
        for (const QString &entry : DescriptorEntries(ParseHeaderRecord(data).attach))
            out.othersEntries.insert(folded(entry));
    });
    return out;
}

// Members of the folder's attachment archive that no record names: copies a move cut
// short left behind. They belong to no mail, so a move may replace them.
QStringList unnamedAttachments(TZipArchive &zip, const QString &inboxDir, const QString &folder)
{
    const QString attachments = AttachmentArchivePath(inboxDir, folder);
    const QString records = HeaderArchivePath(inboxDir, folder);
    if (!QFileInfo(attachments).isFile() || !QFileInfo(records).isFile())
        return {};
    QSet<QString> named;
    zipread::readMembers(records, {}, kMaxRecordBytes, [&](const QString &, const QByteArray &data) {
        for (const QString &entry : DescriptorEntries(ParseHeaderRecord(data).attach))
            named.insert(folded(entry));
    });
    QStringList unnamed;
    zip.setZipFilename(attachments);
    for (const ZipDirEntry &member : zip.MemberList()) {
        const QString name = platform::bareFileName(member.fileName);
        if (!named.contains(folded(name)))
            unnamed << name;
    }
    return unnamed;
}

// Deletes `names` from `archive` as DeleteFromArchive does, without the component's
// member-list reads before and after (a scan of every local header of a ten-thousand
// member archive, twice), which nothing here looks at.
void deleteMembers(const QString &archive, const QStringList &names)
{
    if (names.isEmpty())
        return;
    if (!QFileInfo(archive).isFile()) {
        platform::prompts().information("File " + archive + " is missing");
        return;
    }
    zipwrite::deleteMembers(archive, names);
}

// Adds `members` to `archive` (creating it), straight through the writer for the same
// reason as deleteMembers.
void addMembers(const QString &archive, const QList<zipwrite::MemberSource> &members)
{
    if (members.isEmpty())
        return;
    if (zipwrite::addMembers(archive, members, kCompressionLevel) != members.size())
        throw platform::Error("Unable to add to " + archive);
}

// The record with the line of `key` (the one the record's writer puts at the start of
// a line, before "HEADER:") holding `value`; every other byte stays as stored.
QByteArray withField(const QByteArray &record, const QByteArray &key, const QByteArray &value)
{
    QByteArrayList lines = record.split('\n');
    for (QByteArray &line : lines) {
        if (line.startsWith("HEADER:"))
            break;
        if (line.startsWith(key)) {
            line = key + value + (line.endsWith('\r') ? "\r" : "");
            return lines.join('\n');
        }
    }
    HeaderRecord r = ParseHeaderRecord(record);
    (key == "STATUS:" ? r.status : r.attach) = value;
    return FormatHeaderRecord(r.date, r.ownMail(), r.status, r.attach, r.rawHeader, r.subject,
                              r.from);
}

// ---- Removals cut short --------------------------------------------------------------
//
// Between a mail's record leaving its folder and its body and attachments following,
// a note beside the folder's header archive names those members (one per line,
// percent-encoded, the mail identifier first). A note still there at the folder's next
// move or trash means that a kill or a power loss cut the removal short: the members
// it names that no record of the folder names now are removed then. A member that a
// record names always stays.

QString removalNotePath(const QString &inboxDir, const QString &folder)
{
    return zipjournal::sideName(HeaderArchivePath(inboxDir, folder), QStringLiteral("qvremoving"));
}

// The note's data is on disk before the record goes (a power loss must not keep the
// one without the other); its name gets there with the flush of the directory that
// zipjournal::prepareChanges makes before any archive changes.
void writeRemovalNote(const QString &note, const QString &mailId, const QStringList &attachments)
{
    QByteArray text = mailId.toUtf8().toPercentEncoding();
    for (const QString &name : attachments)
        text += '\n' + name.toUtf8().toPercentEncoding();
    QFile file(note);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size()
        || !file.flush() || ::fdatasync(file.handle()) != 0)
        throw platform::Error("Cannot create file " + note);
}

// Gone with the command's own sync, or at worst back after a power loss to be read
// again, which removes nothing a record names.
void dropRemovalNote(const QString &note)
{
    if (!QFile::remove(note) && QFileInfo::exists(note))
        throw platform::Error("Cannot delete " + note);
}

void finishCutShortRemoval(const QString &inboxDir, const QString &folder)
{
    const QString note = removalNotePath(inboxDir, folder);
    QFile file(note);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArrayList lines = file.readAll().split('\n');
    file.close();
    const QString mailId = QString::fromUtf8(QByteArray::fromPercentEncoding(lines.value(0)));
    QStringList attachments;
    for (qsizetype i = 1; i < lines.size(); ++i)
        attachments << QString::fromUtf8(QByteArray::fromPercentEncoding(lines[i]));

    const QString records = HeaderArchivePath(inboxDir, folder);
    if (QFileInfo(records).isFile()) {
        // Every record's name, and what the records read here name; a record too large
        // to read leaves the attachments alone.
        TZipArchive zip;
        zip.setZipFilename(records);
        QSet<QString> recordNames;
        for (const ZipDirEntry &e : zip.MemberList())
            recordNames.insert(folded(platform::bareFileName(e.fileName)));
        QSet<QString> named;
        qsizetype read = 0;
        zipread::readMembers(records, {}, kMaxRecordBytes, [&](const QString &, const QByteArray &data) {
            ++read;
            for (const QString &entry : DescriptorEntries(ParseHeaderRecord(data).attach))
                named.insert(folded(entry));
        });
        const QString body = BodyArchivePath(inboxDir, folder);
        if (!mailId.isEmpty() && !recordNames.contains(folded(mailId)) && QFileInfo(body).isFile())
            zipwrite::deleteMembers(body, {mailId});
        QStringList unnamed;
        for (const QString &name : attachments) {
            if (!name.isEmpty() && !named.contains(folded(name)))
                unnamed << name;
        }
        const QString att = AttachmentArchivePath(inboxDir, folder);
        if (read == zip.MemberList().size() && !unnamed.isEmpty() && QFileInfo(att).isFile())
            zipwrite::deleteMembers(att, unnamed);
    }
    dropRemovalNote(note);
}

// What taking a mail out of `folder` removes: its record and body (named by its
// identifier) and the attachment members of `records` that no other mail names.
struct Removal {
    QString folder;
    QString mailId;
    QStringList attachments;
    QString note;
};

Removal planRemoval(const QString &inboxDir, const QString &folder, const QString &mailId,
                    const FolderRecords &records)
{
    Removal r{folder, mailId, {}, removalNotePath(inboxDir, folder)};
    for (const QString &entry : memberEntries(records.record)) {
        if (!records.othersEntries.contains(folded(entry)))
            r.attachments << entry;
    }
    return r;
}

// Before a command changes anything: the removal's note, and the journals of the
// archives it and the command (`alsoChanged`) will change, flushed together.
void beginRemoval(const QString &inboxDir, const Removal &r, QStringList alsoChanged)
{
    writeRemovalNote(r.note, r.mailId, r.attachments);
    alsoChanged << HeaderArchivePath(inboxDir, r.folder) << BodyArchivePath(inboxDir, r.folder);
    if (!r.attachments.isEmpty())
        alsoChanged << AttachmentArchivePath(inboxDir, r.folder);
    zipjournal::prepareChanges(alsoChanged);
}

// Takes the mail out: record first, so it is no longer listed, then its body and
// attachments.
void removeMail(const QString &inboxDir, const Removal &r)
{
    deleteMembers(HeaderArchivePath(inboxDir, r.folder), {r.mailId});
    step("record-removed");
    deleteMembers(BodyArchivePath(inboxDir, r.folder), {r.mailId});
    step("body-removed");
    deleteMembers(AttachmentArchivePath(inboxDir, r.folder), r.attachments);
    dropRemovalNote(r.note);
}

} // namespace

bool deleteMail(TZipArchive &, const QString &inboxDir, const QString &folder,
                const QString &mailId)
{
    StoreCommand command;
    finishCutShortRemoval(inboxDir, folder);
    const FolderRecords records = readRecords(inboxDir, folder, mailId);
    if (!records.found)
        return false;
    const Removal removal = planRemoval(inboxDir, folder, mailId, records);
    beginRemoval(inboxDir, removal, {});
    removeMail(inboxDir, removal);
    command.finish();
    return true;
}

QString moveMail(TZipArchive &zip, const QString &inboxDir, const QString &from,
                 const QString &to, const QString &mailId)
{
    if (folded(from) == folded(to))
        return mailId;
    StoreCommand command;
    finishCutShortRemoval(inboxDir, from);
    finishCutShortRemoval(inboxDir, to);
    const Scratch scratch(inboxDir);
    const FolderRecords records = readRecords(inboxDir, from, mailId);
    if (!records.found)
        return {};
    const HeaderRecord &record = records.record;

    FolderNames target = FolderNames::read(zip, inboxDir, to);
    const auto choice = target.claimIdentifier(mailId, record.rawHeader, [&](const QString &member) {
        HeaderRecord other;
        return ReadHeaderRecord(zip, inboxDir, to, member, other) ? other.rawHeader : QByteArray();
    });
    if (choice.sameMessage) {
        const Removal removal = planRemoval(inboxDir, from, mailId, records);
        beginRemoval(inboxDir, removal, {});
        removeMail(inboxDir, removal);
        command.finish();
        return choice.mailId;
    }

    // Attachments: extracted under their names, then given their names in the target.
    const QString sourceAtt = AttachmentArchivePath(inboxDir, from);
    const QStringList entries = memberEntries(record);
    // Only a name already taken in the target costs a reading of its records.
    if (std::any_of(entries.begin(), entries.end(), [&](const QString &e) { return target.attachmentTaken(e); }))
        target.release({}, unnamedAttachments(zip, inboxDir, to));
    QHash<QString, QString> renamed;   // entry -> member name in the target
    QList<zipwrite::MemberSource> attachments;
    if (!entries.isEmpty() && QFileInfo(sourceAtt).isFile()) {
        const QString extracted = scratch.sub(QStringLiteral("from"));
        const QString named = scratch.sub(QStringLiteral("to"));
        zip.FSpecArgs = entries;
        zip.setZipFilename(sourceAtt);
        zip.setExtrBaseDir(extracted);
        zip.Extract();
        const QString package = record.ownMail() ? DescriptorPackageName(record.attach) : QString();
        for (const QString &entry : entries) {
            if (!QFileInfo(extracted + entry).isFile())
                continue;   // named by the descriptor, but not in the archive
            const bool isPackage = entry == package && IsPackageName(entry);
            const QString name = target.claimAttachment(entry, isPackage);
            if (isPackage && name != entry)
                RenamePackageFile(extracted + entry, named + name);
            else if (!QFile::rename(extracted + entry, named + name))
                throw platform::Error("Cannot create file " + named + name);
            renamed.insert(entry, name);
            attachments << zipwrite::MemberSource::file(named + name);
        }
    } else if (!entries.isEmpty()) {
        platform::prompts().information("File " + sourceAtt + " is missing");
    }

    QByteArray recordBytes = records.bytes;
    bool descriptorChanged = false;
    QStringList newEntries;
    for (const QString &entry : DescriptorEntries(record.attach)) {
        newEntries << renamed.value(entry, entry);
        descriptorChanged |= newEntries.last() != entry;
    }
    if (descriptorChanged)
        recordBytes = withField(
            records.bytes, "ATTACH:", FormatAttachmentDescriptor(DescriptorCount(record.attach), newEntries));

    QList<zipwrite::MemberSource> body;
    const QString sourceBody = BodyArchivePath(inboxDir, from);
    if (!QFileInfo(sourceBody).isFile()) {
        platform::prompts().information("File " + sourceBody + " is missing");
    } else {
        // Extracted under its own name, then given the name it has in the target.
        const QString extracted = scratch.sub(QStringLiteral("body"));
        const QString bodyFile = scratch.sub(QStringLiteral("body-to")) + choice.mailId;
        if (platform::sanitizeFileName(mailId) == mailId
            && zipread::extractMembers(sourceBody, {mailId}, extracted) == 1) {
            if (!QFile::rename(extracted + mailId, bodyFile))
                throw platform::Error("Cannot create file " + bodyFile);
            body << zipwrite::MemberSource::file(bodyFile);
        }
    }

    // Members another mail of the source folder still names stay there for it.
    FolderRecords leaving = records;
    leaving.record.attach = FormatAttachmentDescriptor(0, renamed.keys());
    const Removal removal = planRemoval(inboxDir, from, mailId, leaving);
    QStringList targets{HeaderArchivePath(inboxDir, to)};
    if (!body.isEmpty())
        targets << BodyArchivePath(inboxDir, to);
    if (!attachments.isEmpty())
        targets << AttachmentArchivePath(inboxDir, to);
    beginRemoval(inboxDir, removal, targets);

    // The record goes in last, so the target lists the mail only once it is whole.
    addMembers(AttachmentArchivePath(inboxDir, to), attachments);
    step("attachments-added");
    addMembers(BodyArchivePath(inboxDir, to), body);
    step("body-added");
    addMembers(HeaderArchivePath(inboxDir, to),
               {zipwrite::MemberSource::bytes(choice.mailId, recordBytes)});
    step("record-added");
    removeMail(inboxDir, removal);
    command.finish();
    return choice.mailId;
}

void setMoveStepHookForTesting(std::function<void(const char *)> hook)
{
    moveStepHook() = std::move(hook);
}

// ---- Listing and reading ------------------------------------------------------------

QList<FolderMail> ListFolder(const QString &inboxDir, const QString &folder)
{
    const QString archive = HeaderArchivePath(inboxDir, folder);
    QList<FolderMail> mails;
    if (!QFileInfo(archive).isFile()) {
        platform::prompts().information("File " + archive + " is missing");
        return mails;
    }
    // A file that is no archive at all lists nothing, as the archive component's
    // member list of such a file holds nothing.
    QFile file(archive);
    if (!file.open(QIODevice::ReadOnly) || !file.read(2).startsWith("PK"))
        return mails;
    file.close();
    zipread::readMembers(archive, {}, kMaxRecordBytes, [&](const QString &name, const QByteArray &data) {
        if (name != kPlaceholderMember)
            mails.append({name, ParseHeaderRecord(data)});
    });
    return mails;
}

QString DisplayText(const QByteArray &field)
{
    return mime::decodeHeaderText(field);
}

QString ReplyAddress(const QString &from)
{
    const qsizetype close = from.lastIndexOf('>');
    const qsizetype open = close < 0 ? -1 : from.lastIndexOf('<', close);
    if (open >= 0) {
        const QString address = from.mid(open + 1, close - open - 1).trimmed();
        if (!address.isEmpty())
            return address;
    }
    return from.trimmed();
}

namespace {

// The record `mailId` of `folder` as stored; nothing when there is none.
std::optional<QByteArray> recordBytes(const QString &inboxDir, const QString &folder,
                                      const QString &mailId)
{
    return readMember(HeaderArchivePath(inboxDir, folder), mailId);
}

// A quorvel mail's body: the RTF document P.doc of its package P.m, the package
// extracted from the folder's attachment archive into a private scratch directory.
QByteArray packageBody(TZipArchive &zip, const QString &inboxDir, const QString &folder,
                       const QString &packageName)
{
    if (!IsMemberName(packageName))
        return {};
    const QString archive = AttachmentArchivePath(inboxDir, folder);
    const Scratch scratch(inboxDir);
    const QString dir = scratch.sub(QStringLiteral("package"));
    if (!ExtractFromArchive(zip, archive, packageName, dir) || !QFileInfo(dir + packageName).isFile())
        return {};
    QString p = packageName;
    CutAtDot(p);
    QByteArray body;
    zipread::readMembers(dir + packageName, {PackageBodyName(p)}, std::numeric_limits<qint64>::max(),
                         [&](const QString &, const QByteArray &data) { body = data; });
    return body;
}

} // namespace

std::optional<MailContent> ReadMail(TZipArchive &zip, const QString &inboxDir,
                                    const QString &folder, const QString &mailId,
                                    OpenMode mode)
{
    const std::optional<QByteArray> bytes = recordBytes(inboxDir, folder, mailId);
    if (!bytes)
        return std::nullopt;
    const HeaderRecord record = ParseHeaderRecord(*bytes);

    MailContent mail;
    const QString from = DisplayText(record.from);
    mail.subject = DisplayText(record.subject);
    if (mode == OpenMode::View)
        mail.recipients << from;
    else if (mode == OpenMode::Reply)
        mail.recipients << ReplyAddress(from);
    else
        mail.subject.prepend(QStringLiteral("FW:"));

    if (record.ownMail()) {
        mail.richText = true;
        mail.body = packageBody(zip, inboxDir, folder, DescriptorPackageName(record.attach));
        mail.attachments = DescriptorEntriesAfterPackage(record.attach);
    } else {
        mail.attachments = DescriptorEntries(record.attach);
        if (const auto body = readMember(BodyArchivePath(inboxDir, folder), mailId))
            mail.body = TextFromStore(*body).toUtf8();
    }
    return mail;
}

bool SetMailStatus(TZipArchive &, const QString &inboxDir, const QString &folder,
                   const QString &mailId, QChar code)
{
    StoreCommand command;
    const std::optional<QByteArray> bytes = recordBytes(inboxDir, folder, mailId);
    if (!bytes)
        return false;
    QByteArray status;
    if (code == u'F')
        status = kStatusForward;
    else if (code == u'R')
        status = kStatusReplied;
    else if (code == u' ')
        status = kStatusRead;
    if (status.isEmpty() || ParseHeaderRecord(*bytes).status == status)
        return true;
    addMembers(HeaderArchivePath(inboxDir, folder),
               {zipwrite::MemberSource::bytes(mailId, withField(*bytes, "STATUS:", status))});
    command.finish();
    return true;
}

// ---- Folders -----------------------------------------------------------------------

namespace {

const QStringList kExtensions = {QStringLiteral(".hdr"), QStringLiteral(".fdr"), QStringLiteral(".att")};

QString archivePath(const QString &inboxDir, const QString &folder, const QString &extension)
{
    return extension == kExtensions[0]   ? HeaderArchivePath(inboxDir, folder)
           : extension == kExtensions[1] ? BodyArchivePath(inboxDir, folder)
                                         : AttachmentArchivePath(inboxDir, folder);
}

// Renames and deletions of whole archives bypass the archive component: its journals
// must be gone first, and the directory flushed after. A removal cut short in the
// folder is finished first, so that its note does not outlive the folder's name.
void settleArchives(const QString &inboxDir, const QString &folder)
{
    StoreCommand command;
    finishCutShortRemoval(inboxDir, folder);
    command.finish();
}

void syncInbox(const QString &inboxDir)
{
    if (!platform::syncPath(inboxDir))
        throw platform::Error("Cannot save changes to " + inboxDir);
}

} // namespace

QStringList ListFolders(const QString &inboxDir)
{
    QStringList folders;
    for (QString name : ControlCentreState::FileListBox1(inboxDir, QStringLiteral("*.hdr"))) {
        CutAtDot(name);
        folders << name;
    }
    return folders;
}

bool IsDefaultFolder(const QString &folder)
{
    for (const char *name : {"INBOX", "READ", "SENT"}) {
        if (folder.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString FolderNameFromInput(const QString &typed)
{
    QString name = typed;
    CutAtDot(name);
    name = TrimControl(name);
    return name.isEmpty() ? QString() : platform::sanitizeFileName(name);
}

QByteArray InboxPlaceholder(TZipArchive &zip, const QString &inboxDir)
{
    QByteArray placeholder = "placeholder";
    const QString copy = ExtractMemberCopy(zip, HeaderArchivePath(inboxDir, QStringLiteral("INBOX")),
                                           kPlaceholderMember, inboxDir);
    if (!copy.isEmpty()) {
        placeholder = ReadStoreFile(copy);
        QFile::remove(copy);
    }
    return placeholder;
}

bool AddFolder(TZipArchive &zip, const QString &inboxDir, const QString &name)
{
    if (name.isEmpty())
        return false;
    if (name.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0
        || name.compare(QLatin1String("SENT"), Qt::CaseInsensitive) == 0) {
        platform::prompts().warning(name + " is a default folder!");
        return false;
    }
    const QString archive = HeaderArchivePath(inboxDir, name);
    if (QFileInfo::exists(archive)) {
        platform::prompts().warning(archive + " is an existing folder!");
        return false;
    }
    StoreCommand command;
    addMembers(archive,
               {zipwrite::MemberSource::bytes(kPlaceholderMember, InboxPlaceholder(zip, inboxDir))});
    command.finish();
    return true;
}

bool RenameFolder(const QString &inboxDir, const QString &folder, const QString &name)
{
    if (IsDefaultFolder(folder)) {
        platform::prompts().warning(QStringLiteral("INBOX is the default folder, renaming is not permitted"));
        return false;
    }
    if (name.isEmpty())
        return false;
    for (const QString &path : {BodyArchivePath(inboxDir, name), HeaderArchivePath(inboxDir, name)}) {
        if (QFileInfo::exists(path)) {
            platform::prompts().warning(path + " is an existing folder!");
            return false;
        }
    }
    settleArchives(inboxDir, folder);
    QList<QPair<QString, QString>> done;
    for (const QString &extension : kExtensions) {
        const QString from = archivePath(inboxDir, folder, extension);
        if (!QFileInfo::exists(from))
            continue;
        const QString to = archivePath(inboxDir, name, extension);
        if (!QFile::rename(from, to)) {
            for (const auto &[renamedFrom, renamedTo] : done)
                QFile::rename(renamedTo, renamedFrom);
            throw platform::Error("Cannot rename " + from + " to " + to);
        }
        done.append({from, to});
    }
    syncInbox(inboxDir);
    return true;
}

bool DeleteFolder(const QString &inboxDir, const QString &folder)
{
    if (IsDefaultFolder(folder)) {
        platform::prompts().warning(QStringLiteral("INBOX is the default folder, deletion is not permitted"));
        return false;
    }
    settleArchives(inboxDir, folder);
    for (const QString &extension : kExtensions) {
        const QString path = archivePath(inboxDir, folder, extension);
        if (QFileInfo::exists(path) && !QFile::remove(path))
            throw platform::Error("Cannot delete " + path);
    }
    syncInbox(inboxDir);
    return true;
}
