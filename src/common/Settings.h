#pragma once
// The settings file "quorvel.ini" in the configuration directory: sections and keys
// matched without regard to letter case, CR LF lines, values cut at 1023 characters
// when read. Each call opens and closes the file; nothing is cached between calls.

#include <QString>

// Longest value a read returns; longer values are cut.
inline constexpr int kMaxIniValueLength = 1023;

// Reads [section] key, or `def` when absent. When the value read equals `def`
// (always so for a missing key), writes `def` back under that key, so the key is
// present in the file afterwards.
QString ReadIniString(const QString &section, const QString &key, const QString &def);

// Writes [section] key = value, creating section and key as needed and keeping every
// other line. Raises platform::Error("Unable to write to " + file name) when the file
// cannot be written.
void WriteIniString(const QString &section, const QString &key, const QString &value);
