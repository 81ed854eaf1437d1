#pragma once
// The program-level archive operations. Each clears FSpecArgs, puts exactly one
// entry into it and works on the given component (the control centre's ZipArchive1,
// or setup's). Members are always bare file names.

#include <QString>

class TZipArchive;

// Adds `file` to `archive` (creating it, replacing a member of the same name).
// Errors pass to the caller.
void ZipFile(TZipArchive &zip, const QString &archive, const QString &file);

// Extracts `member` of `archive` into `targetDir` (never overwriting an existing file).
// Errors pass to the caller.
void ExtractFile(TZipArchive &zip, const QString &archive, const QString &member,
                 const QString &targetDir);

// As ExtractFile when `archive` exists; otherwise shows the information message
// "File " + archive + " is missing" and returns false.
bool ExtractFromArchive(TZipArchive &zip, const QString &archive, const QString &member,
                        const QString &targetDir);

// Adds `file` to `archive`; any error is caught and gives false.
bool AddToArchive(TZipArchive &zip, const QString &archive, const QString &file);

// Deletes `member` from `archive` when it exists; otherwise shows the information
// message "File " + archive + " is missing" and returns false.
bool DeleteFromArchive(TZipArchive &zip, const QString &archive, const QString &member);

// setup's two operations: both return true and let errors pass.
bool SetupExtractFile(TZipArchive &zip, const QString &archive, const QString &member,
                      const QString &targetDir);
bool SetupAddFile(TZipArchive &zip, const QString &archive, const QString &file);

// Makes every archive change since the last call durable (flushes the archives and
// their directories, then drops their journals). Changes are atomic against a kill
// without it; against a power loss only once it has run. Run it once after a batch
// of changes, e.g. before deleting the raw messages a fetch run has stored.
// False when a flush failed.
bool syncArchives();
