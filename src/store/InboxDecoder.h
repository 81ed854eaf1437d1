#pragma once
// Stores fetched raw messages ("Msg" + unique-id + ".txt" in the inbox directory) as
// INBOX mails, records them in the fetch history, and only then deletes them.
//
// Nothing fetched is lost: a raw file is deleted only after the archives holding its
// mail and the history have been flushed to disk, once for the whole batch; a raw
// file left behind by a run that ended early is decoded by the next run; a message
// that cannot be decoded is reported once and stored with its raw text as body.

#include <QString>
#include <QStringList>

class TZipArchive;

// The unique-id in a raw message file's name ("Msg" + U + ".txt" gives U).
QString UniqueIdOfRawFile(const QString &rawPath);

// Raw message files waiting in `inboxDir` (ending in "/"), oldest first.
QStringList PendingRawMessages(const QString &inboxDir);

// Stores the raw message `rawPath` in the INBOX folder of `inboxDir`: its body,
// attachments and header record. Returns the mail identifier. Raises
// platform::Error when the mail cannot be stored; whatever it added stays.
QString DecodeMessage(TZipArchive &zip, const QString &inboxDir, const QString &rawPath);

// What the control centre lends the decoding run.
struct InboxDecodeTarget {
    TZipArchive &zip;
    QString inboxDir;        // ends in "/"
    QString historyFile;     // AppPath + "/quorvel.hst"
    QStringList &newMailList;
    QStringList &history;
};

// Decodes every raw file of `rawFiles` in order. Each is added to newMailList,
// stored (or, when that fails, reported once and stored with its raw text as body),
// and its history line appended and saved. Then the store and the history are
// flushed to disk and the raw files of the stored mails are deleted. A raw file
// whose mail could not be stored at all stays for the next run. Returns how many
// raw files were stored and deleted.
int DecodeAllMessages(const InboxDecodeTarget &target, const QStringList &rawFiles);
