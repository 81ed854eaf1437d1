#include "common/ArchiveOps.h"

#include "common/ZipArchive.h"
#include "common/ZipJournal.h"
#include "platform/CaseResolver.h"
#include "platform/Error.h"
#include "platform/Prompts.h"

#include <QFileInfo>

namespace {

void oneEntry(TZipArchive &zip, const QString &name)
{
    zip.FSpecArgs.clear();
    zip.FSpecArgs.append(name);
}

// Store commands open on the (single) GUI thread.
int commandDepth = 0;

bool archiveExists(const QString &archive)
{
    return !archive.isEmpty() && QFileInfo(platform::resolveCase(archive)).isFile();
}

} // namespace

void ZipFile(TZipArchive &zip, const QString &archive, const QString &file)
{
    oneEntry(zip, file);
    zip.setZipFilename(archive);
    zip.Add();
}

void ExtractFile(TZipArchive &zip, const QString &archive, const QString &member,
                 const QString &targetDir)
{
    oneEntry(zip, member);
    zip.setZipFilename(archive);
    zip.setExtrBaseDir(targetDir);
    zip.Extract();
}

bool ExtractFromArchive(TZipArchive &zip, const QString &archive, const QString &member,
                        const QString &targetDir)
{
    if (!archiveExists(archive)) {
        platform::prompts().information("File " + archive + " is missing");
        return false;
    }
    ExtractFile(zip, archive, member, targetDir);
    return true;
}

bool AddToArchive(TZipArchive &zip, const QString &archive, const QString &file)
{
    try {
        ZipFile(zip, archive, file);
    } catch (const std::exception &) {
        return false;
    }
    return true;
}

bool DeleteFromArchive(TZipArchive &zip, const QString &archive, const QString &member)
{
    if (!archiveExists(archive)) {
        platform::prompts().information("File " + archive + " is missing");
        return false;
    }
    oneEntry(zip, member);
    zip.setZipFilename(archive);
    zip.Delete();
    return true;
}

bool SetupExtractFile(TZipArchive &zip, const QString &archive, const QString &member,
                      const QString &targetDir)
{
    ExtractFile(zip, archive, member, targetDir);
    return true;
}

bool SetupAddFile(TZipArchive &zip, const QString &archive, const QString &file)
{
    ZipFile(zip, archive, file);
    return true;
}

bool syncArchives()
{
    return zipjournal::syncArchives();
}

StoreCommand::StoreCommand()
{
    ++commandDepth;
}

StoreCommand::~StoreCommand()
{
    --commandDepth;
    if (!finished_ && commandDepth == 0)
        zipjournal::syncArchives();
}

void StoreCommand::finish()
{
    if (finished_)
        return;
    finished_ = true;
    if (commandDepth > 1)
        return;
    QString failure;
    if (!zipjournal::syncArchives(&failure))
        throw platform::Error("Cannot save changes to " + failure);
}
