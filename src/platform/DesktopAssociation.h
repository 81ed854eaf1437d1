#pragma once
// The desktop's file associations, read the freedesktop way: a file name extension
// gives a MIME type (the MIME globs, then Qt's MIME database), the MIME type gives
// the default application (the [Default Applications] group of mimeapps.list), and
// that application's desktop entry gives the command that opens a file.

#include <QString>
#include <QStringList>

namespace platform {

// The MIME type of files ending in `extension` (".chm" or "chm"), or empty when
// the desktop knows none. The user's and the system's MIME globs come first, so a
// type registered after the program started is seen at once.
QString mimeTypeForExtension(const QString &extension);

// The desktop file id (e.g. "viewer.desktop") of the default application for
// `mimeType`: the first installed entry listed for it under [Default Applications]
// in the first mimeapps.list that lists an installed one. Empty when none.
QString defaultApplicationFor(const QString &mimeType);

// The path of the installed desktop entry with file id `desktopId`, or empty.
QString desktopEntryPath(const QString &desktopId);

// The unescaped Exec value of the desktop entry at `path`; empty when it has none or
// is marked hidden.
QString desktopEntryExec(const QString &path);

// The Exec line of the application that opens files ending in `extension`;
// empty when no association exists.
QString openCommandForExtension(const QString &extension);

// Splits an Exec line into program and arguments, cuts it before its first file
// placeholder (%f, %F, %u or %U, quoted or not), drops the other field codes, and
// appends `path` as one argument of its own. Empty when `exec` holds no program.
QStringList commandLineForFile(const QString &exec, const QString &path);

enum class OpenResult { NoAssociation, Started, StartFailed };

// Opens `path` with the default application for files ending in `extension`,
// as a detached process.
OpenResult openWithAssociation(const QString &extension, const QString &path);

} // namespace platform
