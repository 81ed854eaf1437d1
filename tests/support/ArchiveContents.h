#pragma once
// What the tests read back from archives: member names, and one member's bytes.

#include <QByteArray>
#include <QString>
#include <QStringList>

class TZipArchive;

namespace testsupport {

// The member names of the archive at `archivePath`, in archive order; empty when the
// archive does not exist.
QStringList memberNames(const QString &archivePath);

// The bytes of member `name`, extracted through `zip` into `scratchDir` (emptied and
// created first); empty when there is no such member.
QByteArray memberData(TZipArchive &zip, const QString &archivePath, const QString &name,
                      const QString &scratchDir);

} // namespace testsupport
