#include "compose/StickerCollection.h"

#include "common/ArchiveOps.h"
#include "common/ZipReader.h"
#include "platform/CaseResolver.h"
#include "platform/Error.h"
#include "platform/FileUtil.h"
#include "platform/Paths.h"
#include "platform/Sanitiser.h"
#include "rtf/Rtf.h"
#include "store/FolderOps.h"
#include "store/HeaderRecord.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "store/TextOps.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace {

const QString kZipMask = QStringLiteral("*.zip");

// A picture's size is read from its header; one that does not say, or is larger than
// the bound, is never decoded.
bool withinBounds(QImageReader &reader)
{
    if (!reader.canRead())
        return false;
    const QSize size = reader.size();
    return size.isValid() && size.width() <= StickerCollections::kMaxStickerSide
           && size.height() <= StickerCollections::kMaxStickerSide;
}

// Removes the unpacked copies and, when nothing else is left in it, the working
// directory that holds them.
void removeUnpacked(const QString &dir)
{
    if (dir.isEmpty())
        return;
    QDir(dir).removeRecursively();
    QDir().rmdir(QFileInfo(QDir::cleanPath(dir)).path());
}

} // namespace

StickerCollections::StickerCollections(const ControlCentreState &state) : state_(state)
{
    removeUnpacked(unpackDir(false));
}

StickerCollections::~StickerCollections()
{
    Clean();
}

QString StickerCollections::stickerDir() const
{
    return StickerDir(state_.AppPath);
}

QString StickerCollections::archivePath(const QString &collection) const
{
    return CollectionArchivePath(stickerDir(), collection);
}

bool StickerCollections::Exists(const QString &name) const
{
    return QFileInfo(archivePath(name)).isFile();
}

QString StickerCollections::unpackDir(bool create) const
{
    const QString dir = stickerDir();
    if (!create && !QFileInfo(dir).isDir())
        return {};
    const QString path = platform::workDir(dir) + QStringLiteral("strip/");
    if (create && !QDir().mkpath(path))
        throw platform::Error("Cannot create file " + path);
    return path;
}

QStringList StickerCollections::List() const
{
    QStringList names;
    for (QString file : ControlCentreState::FileListBox1(stickerDir(), kZipMask)) {
        CutAtDot(file);
        names << file.toLower();
    }
    return names;
}

bool StickerCollections::FitsBounds(const QByteArray &data)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return withinBounds(reader);
}

void StickerCollections::Clean()
{
    files_.clear();
    bodyPictures_.clear();
    // The directory itself is remembered: at program end the state may be gone.
    removeUnpacked(unpacked_);
}

StickerCollections::Unpacked StickerCollections::Unpack(const QString &name)
{
    const QString archive = archivePath(name);
    Unpacked out;
    zip_.setZipFilename(archive);
    out.memberCount = int(zip_.MemberList().size());
    for (const ZipDirEntry &member : zip_.MemberList()) {
        const QString bare = platform::bareFileName(member.fileName);
        if (bare != kPlaceholderMember)
            out.names << bare.toLower();
    }

    Clean();
    const QString dir = unpackDir(true);
    unpacked_ = dir;
    auto take = [&](const QString &bare, const QByteArray &data) {
        const QString key = bare.toLower();
        if (bare == kPlaceholderMember || files_.contains(key) || !FitsBounds(data))
            return;
        const QString path = platform::joinPath(dir, bare);
        QFile file(path);
        // A name taken already (letter case folded by the file system) keeps its file.
        const bool opened = file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
        if (!opened && QFileInfo::exists(path))
            return;
        if (!opened || file.write(data) != data.size() || !file.flush()) {
            if (opened)
                file.remove();
            if (out.failure.isEmpty())
                out.failure = "Cannot create file " + path;
            return;
        }
        files_.insert(key, path);
    };
    try {
        zipread::readMembers(archive, {}, kMaxStickerBytes, take);
    } catch (const platform::Error &e) {
        out.failure = e.message();
    }
    return out;
}

StickerCollections::Picture StickerCollections::Load(const QString &name)
{
    const QString key = name.toLower();
    QFile file(files_.value(key));
    if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const bool png = reader.format() == "png";
    Picture picture;
    if (!withinBounds(reader) || (picture.image = reader.read()).isNull())
        return {};
    const auto made = bodyPictures_.constFind(key);
    picture.body = made != bodyPictures_.cend() ? *made : png ? bytes : rtf::pngFile(picture.image);
    bodyPictures_.insert(key, picture.body);
    return picture;
}

QStringList StickerCollections::membersNamed(const QString &archive, const QString &name)
{
    QStringList members;
    if (!QFileInfo(archive).isFile())
        return members;
    zip_.setZipFilename(archive);
    for (const ZipDirEntry &entry : zip_.MemberList()) {
        if (platform::bareFileName(entry.fileName).compare(name, Qt::CaseInsensitive) == 0
            && !members.contains(entry.fileName))
            members << entry.fileName;
    }
    return members;
}

void StickerCollections::AddSticker(const QString &collection, const QString &file)
{
    const QString archive = archivePath(collection);
    // The strip ignores letter case, so a member spelt otherwise would keep showing in
    // place of the new one: it is replaced as a member of the same spelling is.
    const QString bare = platform::bareFileName(file);
    QStringList others = membersNamed(archive, bare);
    others.removeAll(bare);
    StoreCommand command;
    if (!others.isEmpty()) {
        zip_.FSpecArgs = others;
        zip_.Delete();
    }
    ZipFile(zip_, archive, file);
    command.finish();
}

void StickerCollections::DeleteSticker(const QString &collection, const QString &name)
{
    const QString archive = archivePath(collection);
    // The member's own spelling, which may differ from the strip's lower-case name.
    const QString member = membersNamed(archive, name).value(0, name);
    StoreCommand command;
    DeleteFromArchive(zip_, archive, member);
    const QString key = name.toLower();
    QFile::remove(files_.take(key));
    bodyPictures_.remove(key);
    command.finish();
}

void StickerCollections::NewCollection(const QString &name)
{
    const QString dir = stickerDir();
    if (!QDir().mkpath(dir))
        throw platform::Error("Cannot create file " + dir);
    StoreCommand command;
    const QByteArray placeholder = InboxPlaceholder(zip_, state_.InboxDir);
    const QString archive = archivePath(name);
    zip_.setZipFilename(archive);
    zip_.AddMembers({zipwrite::MemberSource::bytes(kPlaceholderMember, placeholder)});
    if (zip_.SuccessCount() != 1)
        throw platform::Error("Unable to add to " + archive);
    command.finish();
}

void StickerCollections::DeleteCollection(const QString &name)
{
    const QString archive = archivePath(name);
    // A whole archive goes past the archive component: its journal must be gone first.
    StoreCommand settle;
    settle.finish();
    if (QFileInfo::exists(archive) && !QFile::remove(archive))
        throw platform::Error("Cannot delete " + archive);
    if (!platform::syncPath(stickerDir()))
        throw platform::Error("Cannot save changes to " + stickerDir());
}
