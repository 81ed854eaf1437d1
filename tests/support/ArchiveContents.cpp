#include "support/ArchiveContents.h"

#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFileInfo>

namespace testsupport {

QStringList memberNames(const QString &archivePath)
{
    if (!QFileInfo::exists(archivePath))
        return {};
    TZipArchive zip;
    zip.setZipFilename(archivePath);
    QStringList names;
    for (const ZipDirEntry &e : zip.MemberList())
        names << e.fileName;
    return names;
}

QByteArray memberData(TZipArchive &zip, const QString &archivePath, const QString &name,
                      const QString &scratchDir)
{
    const QString out = QDir(scratchDir).absolutePath() + '/';
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    ExtractFile(zip, archivePath, name, out);
    return readFile(out + name);
}

} // namespace testsupport
