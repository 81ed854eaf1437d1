#pragma once
// The folder window's store operations on one mail: trashing it and moving (filing)
// it to another folder. Each is one user command: it changes the folder archives and
// ends with one store sync, so the change is durable when it returns.
//
// A mail is its header record and its body member (both named by its identifier) and
// the attachment members its descriptor names. An attachment member belongs to one
// mail; in a store written before names were kept apart two mails of a folder may
// name the same member, and then neither operation takes it from the other mail.
// Both raise platform::Error when an archive cannot be read or changed or the sync
// fails; a missing body or attachment archive is reported ("File ... is missing")
// and the operation goes on without it, as the archive operations do.

#include <QString>

class TZipArchive;

// Deletes mail `mailId` of `folder` (in `inboxDir`, ending in "/"): its header record,
// its body member, and the attachment members of its descriptor that no other mail of
// the folder names. False, changing nothing, when the folder has no record `mailId`.
bool deleteMail(TZipArchive &zip, const QString &inboxDir, const QString &folder,
                const QString &mailId);

// Moves mail `mailId` from folder `from` to folder `to` and returns its identifier in
// `to`. In `to` it is named by the rules of FolderNames.h: a taken identifier gives a
// distinct one, taken attachment names give distinct member names that its descriptor
// then records (a renamed package keeps opening as a package). When `to` holds the same
// message already (same identifier, same raw header), the mail only leaves `from` and
// that identifier is returned. Members are added to `to` before they leave `from`, so
// a move cut short leaves the mail in both folders, never in neither. Returns an empty
// text, changing nothing, when `from` has no record `mailId`; `mailId` when both are
// one folder (names compared without regard to case).
QString moveMail(TZipArchive &zip, const QString &inboxDir, const QString &from,
                 const QString &to, const QString &mailId);
