#include "store/FolderOps.h"

#include "store/AttachmentDescriptor.h"
#include "store/FolderNames.h"
#include "store/HeaderRecord.h"
#include "store/StorePaths.h"
#include "store/TextOps.h"

#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>

namespace {

QString folded(const QString &name) { return name.toCaseFolded(); }

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
// attachments costs a reading of all records, in one extraction.
struct FolderRecords {
    bool found = false;
    QByteArray bytes;        // the mail's record as stored
    HeaderRecord record;
    QSet<QString> othersEntries;
};

FolderRecords readRecords(TZipArchive &zip, const QString &inboxDir, const QString &folder,
                          const QString &mailId, const Scratch &scratch)
{
    FolderRecords out;
    const QString archive = HeaderArchivePath(inboxDir, folder);
    const QString copy = ExtractMemberCopy(zip, archive, mailId, inboxDir);
    if (copy.isEmpty())
        return out;
    out.found = true;
    out.bytes = ReadStoreFile(copy);
    QFile::remove(copy);
    out.record = ParseHeaderRecord(out.bytes);
    if (memberEntries(out.record).isEmpty())
        return out;

    const QString dir = scratch.sub(QStringLiteral("records"));
    zip.setZipFilename(archive);
    zip.FSpecArgs.clear();
    zip.setExtrBaseDir(dir);
    zip.Extract();
    for (const QString &name : QDir(dir).entryList(QDir::Files | QDir::Hidden)) {
        if (name == kPlaceholderMember || name == mailId)
            continue;
        for (const QString &entry : DescriptorEntries(ParseHeaderRecord(ReadStoreFile(dir + name)).attach))
            out.othersEntries.insert(folded(entry));
    }
    return out;
}

void deleteMembers(TZipArchive &zip, const QString &archive, const QStringList &names)
{
    if (names.isEmpty())
        return;
    if (!QFileInfo(archive).isFile()) {
        platform::prompts().information("File " + archive + " is missing");
        return;
    }
    zip.FSpecArgs = names;
    zip.setZipFilename(archive);
    zip.Delete();
}

void addMembers(TZipArchive &zip, const QString &archive,
                const QList<zipwrite::MemberSource> &members)
{
    if (members.isEmpty())
        return;
    zip.setZipFilename(archive);
    zip.AddMembers(members);
    if (zip.SuccessCount() != members.size())
        throw platform::Error("Unable to add to " + archive);
}

// The record with its "ATTACH:" line (the one the record's writer puts at the start of
// a line, before "HEADER:") holding `descriptor`; every other byte stays as stored.
QByteArray withDescriptor(const QByteArray &record, const QByteArray &descriptor)
{
    QByteArrayList lines = record.split('\n');
    for (QByteArray &line : lines) {
        if (line.startsWith("HEADER:"))
            break;
        if (line.startsWith("ATTACH:")) {
            line = "ATTACH:" + descriptor + (line.endsWith('\r') ? "\r" : "");
            return lines.join('\n');
        }
    }
    const HeaderRecord r = ParseHeaderRecord(record);
    return FormatHeaderRecord(r.date, r.ownMail(), r.status, descriptor, r.rawHeader, r.subject,
                              r.from);
}

void syncStore()
{
    if (!syncArchives())
        throw platform::Error(QStringLiteral("The mail store could not be saved to disk"));
}

// Takes the mail out of `folder`: record first, so it is no longer listed, then its
// body and the attachment members no other mail names.
void removeMail(TZipArchive &zip, const QString &inboxDir, const QString &folder,
                const QString &mailId, const FolderRecords &records)
{
    DeleteFromArchive(zip, HeaderArchivePath(inboxDir, folder), mailId);
    DeleteFromArchive(zip, BodyArchivePath(inboxDir, folder), mailId);
    QStringList own;
    for (const QString &entry : memberEntries(records.record)) {
        if (!records.othersEntries.contains(folded(entry)))
            own << entry;
    }
    deleteMembers(zip, AttachmentArchivePath(inboxDir, folder), own);
}

} // namespace

bool deleteMail(TZipArchive &zip, const QString &inboxDir, const QString &folder,
                const QString &mailId)
{
    const Scratch scratch(inboxDir);
    const FolderRecords records = readRecords(zip, inboxDir, folder, mailId, scratch);
    if (!records.found)
        return false;
    removeMail(zip, inboxDir, folder, mailId, records);
    syncStore();
    return true;
}

QString moveMail(TZipArchive &zip, const QString &inboxDir, const QString &from,
                 const QString &to, const QString &mailId)
{
    if (folded(from) == folded(to))
        return mailId;
    const Scratch scratch(inboxDir);
    const FolderRecords records = readRecords(zip, inboxDir, from, mailId, scratch);
    if (!records.found)
        return {};
    const HeaderRecord &record = records.record;

    FolderNames target = FolderNames::read(zip, inboxDir, to);
    const auto choice = target.claimIdentifier(mailId, record.rawHeader, [&](const QString &member) {
        HeaderRecord other;
        return ReadHeaderRecord(zip, inboxDir, to, member, other) ? other.rawHeader : QByteArray();
    });
    if (choice.sameMessage) {
        removeMail(zip, inboxDir, from, mailId, records);
        syncStore();
        return choice.mailId;
    }

    // Attachments: extracted under their names, then given their names in the target.
    const QString sourceAtt = AttachmentArchivePath(inboxDir, from);
    const QStringList entries = memberEntries(record);
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
        recordBytes = withDescriptor(
            records.bytes, FormatAttachmentDescriptor(DescriptorCount(record.attach), newEntries));

    QList<zipwrite::MemberSource> body;
    const QString bodyCopy = ExtractMemberCopy(zip, BodyArchivePath(inboxDir, from), mailId, inboxDir);
    if (!bodyCopy.isEmpty()) {
        const QString bodyFile = scratch.sub(QStringLiteral("body")) + choice.mailId;
        const bool moved = QFile::rename(bodyCopy, bodyFile);
        QFile::remove(bodyCopy);
        if (!moved)
            throw platform::Error("Cannot create file " + bodyFile);
        body << zipwrite::MemberSource::file(bodyFile);
    }

    // The record goes in last, so the target lists the mail only once it is whole.
    addMembers(zip, AttachmentArchivePath(inboxDir, to), attachments);
    addMembers(zip, BodyArchivePath(inboxDir, to), body);
    addMembers(zip, HeaderArchivePath(inboxDir, to),
               {zipwrite::MemberSource::bytes(choice.mailId, recordBytes)});
    // Members another mail of the source folder still names stay there for it.
    FolderRecords leaving = records;
    leaving.record.attach = FormatAttachmentDescriptor(0, renamed.keys());
    removeMail(zip, inboxDir, from, mailId, leaving);
    syncStore();
    return choice.mailId;
}
