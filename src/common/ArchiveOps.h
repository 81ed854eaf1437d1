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
// without it; against a power loss only once it has run. Store commands run it
// through StoreCommand; the fetch run calls it once per batch, before it deletes the
// raw messages it has stored. False when a flush failed.
bool syncArchives();

// One user command that changes the store: moving, deleting or filing mails, a status
// change, a SENT copy, a sticker change. Each archive change is atomic as it runs; the
// command makes all of them durable together with one sync as it ends, so a command
// costs a few flushes, not a few per member:
//
//     void TfrmFolder::DeleteSelected()
//     {
//         StoreCommand command;
//         for (...)
//             DeleteFromArchive(zip, archive, member);
//         command.finish();   // raises platform::Error when the sync fails
//     }
//
// Commands nest: only the outermost one syncs, so an operation that opens its own
// command costs nothing extra inside a larger one. A command that ends without
// finish() (an error raised, an early return) still syncs what it changed, quietly.
class StoreCommand {
public:
    StoreCommand();
    ~StoreCommand();
    StoreCommand(const StoreCommand &) = delete;
    StoreCommand &operator=(const StoreCommand &) = delete;

    // Makes the changes durable (the outermost command only). Raises
    // platform::Error("Cannot save changes to <path>: <reason>") when a flush fails;
    // the changes stay in place and the next sync tries again.
    void finish();

private:
    bool finished_ = false;
};
