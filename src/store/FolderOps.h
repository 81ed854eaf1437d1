#pragma once
// The folder window's store operations: listing a folder, reading a mail for the
// editor, rewriting its status, moving (filing) and trashing it, and adding, renaming
// and deleting folders. Each operation that changes the store is one user command
// (StoreCommand): durable when it returns, and nested in a larger command (View reads,
// marks and files a mail) it costs that command's one sync only.
//
// A mail is its header record and its body member (both named by its identifier) and
// the attachment members its descriptor names. An attachment member belongs to one
// mail; in a store written before names were kept apart two mails of a folder may
// name the same member, and then neither move nor trash takes it from the other mail.
// Operations raise platform::Error when an archive cannot be read or changed or the
// sync fails; a missing body or attachment archive is reported ("File ... is
// missing") and the operation goes on without it, as the archive operations do.
// Every member read goes to memory or to the private working directory of the inbox,
// never beside the store's own archives, under its bare, sanitised name.
//
// Taking a mail out of a folder removes its record first, then its body and
// attachments. A removal that a kill or a power loss cuts short in between is finished
// at the folder's next move (from or to it), trash, rename or deletion: the members it
// was taking go unless a record of the folder names them.

#include "store/HeaderRecord.h"
#include "store/MailContent.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class TZipArchive;

// ---- Mails -------------------------------------------------------------------------

struct FolderMail {
    QString mailId;
    HeaderRecord record;
};

// The mails of `folder` (in `inboxDir`, ending in "/") in the header archive's member
// order, the placeholder left out: one pass over the archive, records read in memory.
// A missing header archive is reported ("File ... is missing") and lists nothing.
QList<FolderMail> ListFolder(const QString &inboxDir, const QString &folder);

// A header field as the user reads it: encoded words decoded.
QString DisplayText(const QByteArray &field);

// The address a reply goes to, from a From value: the text in its last "<...>", else
// the value trimmed ("Bob <bob@x>" gives "bob@x"), so the posting run can send to it.
QString ReplyAddress(const QString &from);

enum class OpenMode { View, Reply, Forward };

// Mail `mailId` of `folder` as the editor shows it. View: one recipient row holding
// the sender as stored (decoded); Reply: the sender's address; Forward: none, and the
// subject gains "FW:". A quorvel mail's body is its package's RTF document, other
// mails' their body member as text. Attachment rows are the descriptor's entries (a
// quorvel mail's after its package). Nothing when the folder has no such record.
std::optional<MailContent> ReadMail(TZipArchive &zip, const QString &inboxDir,
                                    const QString &folder, const QString &mailId,
                                    OpenMode mode);

// Rewrites the record's status: code 'F' "FORWARD", 'R' "REPLIED", ' ' "READ"; any
// other code keeps it. Every other byte of the record stays (a fetched mail keeps its
// raw header lines). False, changing nothing, when there is no record `mailId`.
bool SetMailStatus(TZipArchive &zip, const QString &inboxDir, const QString &folder,
                   const QString &mailId, QChar code);

// Deletes mail `mailId` of `folder`: its header record, its body member, and the
// attachment members of its descriptor that no other mail of the folder names. False,
// changing nothing, when the folder has no record `mailId`.
bool deleteMail(TZipArchive &zip, const QString &inboxDir, const QString &folder,
                const QString &mailId);

// Moves mail `mailId` from folder `from` to folder `to` and returns its identifier in
// `to`. In `to` it is named by the rules of FolderNames.h: a taken identifier gives a
// distinct one, taken attachment names give distinct member names that its descriptor
// then records (a renamed package keeps opening as a package). When `to` holds the same
// message already (same identifier, same raw header), the mail only leaves `from` and
// that identifier is returned.
// Order: attachments, body, then the record are added to `to`; then the record, the
// body and the attachments leave `from`. Cut short anywhere, the mail is whole in one
// folder at least: before its record is in `to` only `from` lists it (the copies
// already in `to` are members nobody names); after that both may list it, and moving
// it again finds the same message in `to` and only takes it out of `from`.
// Returns an empty text, changing nothing, when `from` has no record `mailId`;
// `mailId` when both are one folder (names compared without regard to case).
QString moveMail(TZipArchive &zip, const QString &inboxDir, const QString &from,
                 const QString &to, const QString &mailId);

// Test seam: called with the name of each step of a move ("attachments-added",
// "body-added", "record-added", "record-removed", "body-removed"); a hook that
// throws cuts the move short there, as a kill would.
void setMoveStepHookForTesting(std::function<void(const char *step)> hook);

// ---- Folders -----------------------------------------------------------------------

// The folders: base names of the header archives in `inboxDir`, in alphabetical order.
QStringList ListFolders(const QString &inboxDir);

// INBOX, READ and SENT, letter case ignored.
bool IsDefaultFolder(const QString &folder);

// A typed folder name made usable: trimmed, cut at its first "." and passed through
// the sanitiser (it names files in the inbox). Empty when nothing is left.
QString FolderNameFromInput(const QString &typed);

// The placeholder member of the INBOX header archive, which new folders and new sticker
// collections copy; a stand-in when that archive has none (a missing archive is
// reported, "File ... is missing").
QByteArray InboxPlaceholder(TZipArchive &zip, const QString &inboxDir);

// Adds folder `name` (as FolderNameFromInput gives it): its header archive with the
// placeholder. Warns and changes nothing for INBOX or SENT (name + " is a default
// folder!") and for an existing folder, letter case ignored (path + " is an existing
// folder!"). True when the folder was created.
bool AddFolder(TZipArchive &zip, const QString &inboxDir, const QString &name);

// Renames folder `folder`'s three archives to `name`. Refuses the default folders
// ("INBOX is the default folder, renaming is not permitted") and a name whose body or
// header archive exists (path + " is an existing folder!"). An archive that does not
// exist is passed over; a rename that fails puts back the ones done. True when done.
bool RenameFolder(const QString &inboxDir, const QString &folder, const QString &name);

// Deletes folder `folder`'s three archives, header archive first so that the folder is
// gone at once. Refuses the default folders ("INBOX is the default folder, deletion is
// not permitted"). True when done.
bool DeleteFolder(const QString &inboxDir, const QString &folder);
