#pragma once
// Small file operations that more than one layer needs.

#include <QByteArray>
#include <QString>

namespace platform {

// Writes `data` to `path` by writing a temporary file in the same directory and
// renaming it over `path`, so a reader sees the old or the new content, never a
// part. `mode` (octal permissions, e.g. 0600) is applied to the new file when
// non-zero. With `sync`, the file and its directory are flushed to disk first.
// Returns false (and leaves `path` untouched) when anything fails.
bool writeFileAtomically(const QString &path, const QByteArray &data, int mode = 0,
                         bool sync = false);

// fsync of a file or a directory; false when it cannot be opened or synced.
bool syncPath(const QString &path);

} // namespace platform
