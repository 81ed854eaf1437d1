#pragma once
// File names in the installed tree are matched without regard to letter case:
// setup may create "inbox.hdr" where the program opens "INBOX.hdr".

#include <QString>

namespace platform {

// Returns `path` when it exists as spelled. Otherwise each component that does not
// exist as spelled is replaced by an existing entry of its directory whose name
// differs only in letter case (the first in name order when there are several).
// Components with no such entry keep their spelling, so the result is also the
// path under which a new file should be created.
QString resolveCase(const QString &path);

} // namespace platform
