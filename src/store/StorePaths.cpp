#include "store/StorePaths.h"

#include "platform/CaseResolver.h"
#include "platform/Paths.h"
#include "platform/Sanitiser.h"

namespace {

QString inDir(const QString &dir, const QString &name)
{
    return platform::resolveCase(platform::joinPath(dir, platform::sanitizeFileName(name)));
}

} // namespace

QString HeaderArchivePath(const QString &inboxDir, const QString &folder)
{
    return inDir(inboxDir, folder + ".hdr");
}

QString BodyArchivePath(const QString &inboxDir, const QString &folder)
{
    return inDir(inboxDir, folder + ".fdr");
}

QString AttachmentArchivePath(const QString &inboxDir, const QString &folder)
{
    return inDir(inboxDir, folder + ".att");
}

QString QueueFilePath(const QString &outboxDir) { return inDir(outboxDir, "quorvel.que"); }

QString OutgoingHeaderPath(const QString &outboxDir, const QString &mailName)
{
    return inDir(outboxDir, mailName + ".hdr");
}

QString PackagePath(const QString &outboxDir, const QString &mailName)
{
    return inDir(outboxDir, mailName + ".m");
}

QString BodyDocumentPath(const QString &outboxDir, const QString &mailName)
{
    return inDir(outboxDir, mailName + ".doc");
}

QString HistoryFilePath(const QString &appPath) { return inDir(appPath, "quorvel.hst"); }

QString StickerDir(const QString &appPath)
{
    return platform::resolveCase(platform::joinPath(appPath, QStringLiteral("sticker"))) + '/';
}

QString CollectionArchivePath(const QString &stickerDir, const QString &name)
{
    return inDir(stickerDir, name + ".zip");
}
