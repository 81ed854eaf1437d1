#include "store/FolderNames.h"

#include "store/HeaderRecord.h"
#include "store/MailIdentifier.h"
#include "store/StorePaths.h"
#include "store/TextOps.h"

#include "common/ZipArchive.h"
#include "common/ZipReader.h"
#include "common/ZipScan.h"
#include "common/ZipWriter.h"
#include "platform/Error.h"
#include "platform/Sanitiser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

// Numbering gives up here: a name that still collides is a store gone wrong.
constexpr int kMaxNumbered = 100000;

// stem + suffix + tail, the stem shortened until the whole fits in a file name.
QString fitted(QString stem, const QString &suffix, const QString &tail)
{
    auto bytes = [&] { return (stem + suffix + tail).toUtf8().size(); };
    while (!stem.isEmpty() && bytes() > platform::kMaxFileNameBytes)
        stem.chop(1);
    return platform::sanitizeFileName(stem + suffix + tail);
}

QString folded(const QString &name) { return name.toCaseFolded(); }

QStringList memberNames(TZipArchive &zip, const QString &archive)
{
    zip.setZipFilename(archive);
    QStringList names;
    for (const ZipDirEntry &e : zip.MemberList())
        names << platform::bareFileName(e.fileName);
    return names;
}

} // namespace

QString NumberedIdentifier(const QString &mailId, int k)
{
    return fitted(mailId, '-' + QString::number(k), {});
}

QString NumberedPackageName(const QString &packageName, int k)
{
    const qsizetype dot = packageName.indexOf('.');
    return fitted(packageName.left(dot), '-' + QString::number(k),
                  dot < 0 ? QString() : packageName.mid(dot));
}

QString NumberedAttachmentName(const QString &name, int k)
{
    const qsizetype dot = name.lastIndexOf('.');
    const bool hasExtension = dot > 0;
    return fitted(hasExtension ? name.left(dot) : name, " (" + QString::number(k) + ')',
                  hasExtension ? name.mid(dot) : QString());
}

bool IsPackageName(const QString &name)
{
    return name.endsWith(QLatin1String(".m"), Qt::CaseInsensitive) && name.size() > 2;
}

void RenamePackageFile(const QString &packagePath, const QString &targetPath)
{
    auto bodyOf = [](const QString &path) {
        QString base = QFileInfo(path).fileName();
        CutAtDot(base);
        return PackageBodyName(base);
    };
    const QString body = bodyOf(packagePath);
    // Only a package that is exactly what the editor writes (one member, its body) is
    // rewritten; anything else is kept as it came.
    bool isPackage = false;
    {
        QFile in(packagePath);
        QList<ZipDirEntry> list;
        if (in.open(QIODevice::ReadOnly)) {
            try {
                zipscan::scanLocalHeaders(in, 0, list);
                isPackage = list.size() == 1 && platform::bareFileName(list[0].fileName) == body;
            } catch (const platform::Error &) {
            }
        }
    }
    QFile::remove(targetPath);
    QTemporaryDir scratch(QFileInfo(targetPath).absolutePath() + "/package-XXXXXX");
    if (isPackage && scratch.isValid()) {
        try {
            if (zipread::extractMembers(packagePath, {body}, scratch.path()) == 1) {
                const QString renamed = scratch.filePath(bodyOf(targetPath));
                if (QFile::rename(scratch.filePath(body), renamed)) {
                    zipwrite::addFiles(targetPath, {renamed}, 9);
                    return;
                }
            }
        } catch (const platform::Error &) {
            QFile::remove(targetPath);
        }
    }
    if (!QFile::copy(packagePath, targetPath))
        throw platform::Error("Cannot create file " + targetPath);
}

FolderNames FolderNames::read(TZipArchive &zip, const QString &inboxDir, const QString &folder)
{
    FolderNames names;
    for (const QString &m : memberNames(zip, HeaderArchivePath(inboxDir, folder))) {
        if (m != kPlaceholderMember)
            names.identifiers_.insert(folded(m), m);
    }
    for (const QString &m : memberNames(zip, AttachmentArchivePath(inboxDir, folder)))
        names.attachments_.insert(folded(m), m);
    return names;
}

FolderNames::IdentifierChoice
FolderNames::claimIdentifier(const QString &mailId, const QByteArray &rawHeader,
                             const std::function<QByteArray(const QString &)> &rawHeaderOf)
{
    for (int k = 1; k <= kMaxNumbered; ++k) {
        const QString candidate = k == 1 ? mailId : NumberedIdentifier(mailId, k);
        const QString member = identifierMember(candidate);
        if (member.isEmpty()) {
            identifiers_.insert(folded(candidate), candidate);
            return {candidate, false};
        }
        // Without a raw header (a copy kept from the editor) nothing tells two mails
        // apart, so such a mail is never taken for one already stored.
        if (!rawHeader.isEmpty() && rawHeaderOf(member) == rawHeader)
            return {member, true};
    }
    throw platform::Error("No free mail identifier for " + mailId);
}

QString FolderNames::claimAttachment(const QString &given, bool package)
{
    // The descriptor lists entries each ended by ";", its list trimmed at the front: a
    // name must survive both to keep naming its member.
    QString name = given;
    name.replace(';', '_');
    while (name.startsWith(' '))
        name.remove(0, 1);
    name = platform::sanitizeFileName(name);

    // Numbering goes on where it stopped for this name: a thousand image001.png in one
    // folder must not try a thousand numbers each.
    int &next = nextNumber_[QString(package ? u'p' : u'a') + folded(name)];
    for (int k = next > 1 ? next : 1; k <= kMaxNumbered; ++k) {
        const QString candidate = k == 1 ? name
            : package                    ? NumberedPackageName(name, k)
                                         : NumberedAttachmentName(name, k);
        if (!attachmentTaken(candidate)) {
            attachments_.insert(folded(candidate), candidate);
            next = k + 1;
            return candidate;
        }
    }
    throw platform::Error("No free attachment name for " + name);
}

void FolderNames::release(const QString &mailId, const QStringList &attachments)
{
    identifiers_.remove(folded(mailId));
    for (const QString &name : attachments)
        attachments_.remove(folded(name));
}

QString FolderNames::identifierMember(const QString &mailId) const
{
    return identifiers_.value(folded(mailId));
}

bool FolderNames::attachmentTaken(const QString &name) const
{
    return attachments_.contains(folded(name));
}
