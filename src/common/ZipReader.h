#pragma once
// Extracting archive members, through libzip.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

namespace zipread {

// Called before each member is written: its bare name and size.
using Announce = std::function<void(const QString &name, qint64 size)>;

// Extracts the members named by `names` (see zipfmt::nameMatches; every member when
// `names` is empty) into the existing directory `dir`, each under its bare,
// sanitised name. A file that exists already is never replaced: the member is
// skipped (also on file systems without hard links or a no-replace rename). Returns
// the number of files written. A member that cannot be read (damaged data, unknown
// method, a password) is skipped too, and after the others are done a
// platform::Error names it; an archive that cannot be opened throws at once.
int extractMembers(const QString &archive, const QStringList &names, const QString &dir,
                   const Announce &announce = {});

// Reads the members named by `names` (every member when `names` is empty) into
// memory, in archive order, handing each to `take` with its bare, sanitised name.
// Nothing is written to disk: listing a folder of ten thousand records costs one
// pass over its archive. A member larger than `maxBytes` is passed over. Failures
// are raised as by extractMembers.
using Take = std::function<void(const QString &name, const QByteArray &data)>;
void readMembers(const QString &archive, const QStringList &names, qint64 maxBytes,
                 const Take &take);

// Test seam: makes the no-replace rename fail as on a file system without it.
void refuseNoReplaceRenameForTesting(bool refuse);

} // namespace zipread
