#pragma once
// The one place where names from outside (Message-IDs, attachment names,
// unique-ids, archive member names, folder and collection names typed by the user)
// become file names.

#include <QString>

namespace platform {

// Longest file name the store writes, in UTF-8 bytes (the file system's NAME_MAX).
inline constexpr int kMaxFileNameBytes = 255;

// Maps `name` to a bare file name that cannot leave the directory it is used in:
// "/", "\" and NUL and other control characters become "_"; "." and ".." become
// "_" and "__"; a leading "-" becomes "_"; an empty name becomes "_"; a name longer
// than kMaxFileNameBytes is shortened, keeping its extension where possible.
// A name that is already safe is returned unchanged.
QString sanitizeFileName(const QString &name);

// The bare name of a path that may use "/" or "\" separators ("C:\docs\a.txt" and
// "/tmp/a.txt" both give "a.txt"), then sanitised.
QString bareFileName(const QString &path);

} // namespace platform
