#pragma once
// Stores fetched raw messages ("Msg" + unique-id + ".txt" in the inbox directory) as
// INBOX mails, records them in the fetch history, and only then deletes them.
//
// Nothing fetched is lost: a raw file is deleted only after the archives holding its
// mail and the history have been flushed to disk, once for the whole batch; a raw
// file left behind by a run that ended early is decoded by the next run; a message
// that cannot be decoded is reported once and stored with its raw text as body.
// A message the server keeps may come held in memory instead of as a file: until
// its mail is stored and in the history, the server's copy is the one that counts.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <utility>

class TZipArchive;
struct PredecodedMessage;
namespace zipwrite {
class DataPreparer;
}

// A fetched message waiting to be stored: the raw file `path`, or, when `held`, the
// text of a message that stays on the server, named by the raw file it would have
// been written to (which does not exist). With `decoded` it was decoded ahead (see
// MessagePredecoder); a held message then comes without its text.
struct RawMessage {
    QString path;
    QByteArray text;
    bool held = false;
    std::shared_ptr<const PredecodedMessage> decoded;

    static RawMessage file(const QString &path) { return {path, {}, false, {}}; }
    static RawMessage inMemory(const QString &path, QByteArray text)
    {
        return {path, std::move(text), true, {}};
    }
};

// The unique-id in a raw message file's name ("Msg" + U + ".txt" gives U).
QString UniqueIdOfRawFile(const QString &rawPath);

// Raw message files waiting in `inboxDir` (ending in "/"), oldest first.
QStringList PendingRawMessages(const QString &inboxDir);

// Stores the raw message `rawPath` in the INBOX folder of `inboxDir`: its body,
// attachments and header record, under names no other mail of INBOX holds (see
// FolderNames.h; the descriptor names the attachment members as stored). A message
// INBOX already holds (same identifier, same raw header) is not stored again.
// Returns the identifier of its mail in INBOX. Raises
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

// Decodes every message of `messages` in order, in batches, naming members as
// DecodeMessage does (INBOX's member names are listed once per call). Each is stored (or, when
// that fails, reported once and stored with its raw text as body); once a batch's
// mails are flushed to disk they are added to newMailList, their history lines are
// appended and saved, and then their raw files are deleted. A raw file whose mail
// could not be stored at all stays for the next run (a held message stays on the
// server). A message INBOX already holds is not stored again nor added to newMailList;
// it goes into the history and its raw file is deleted like the others. Returns how
// many messages were handled so (stored, or found stored already).
int DecodeAllMessages(const InboxDecodeTarget &target, QList<RawMessage> messages);
// The same for raw files only.
int DecodeAllMessages(const InboxDecodeTarget &target, const QStringList &rawFiles);

// Decodes fetched messages on a thread of its own while the fetch goes on, so that
// storing them afterwards only names and writes their pieces: each piece is also
// compressed for archives at `archiveLevel`. Every piece is held in memory, up to
// `memoryBudget` bytes for all messages together; a message that does not fit, or
// does not decode, is decoded again as it is stored, which reports what fails. It
// reads a held message's text (shared, never changed) or its raw file.
class MessagePredecoder {
public:
    MessagePredecoder(qint64 memoryBudget, int archiveLevel);
    // Stops after the message in progress; what it decoded is dropped.
    ~MessagePredecoder();
    MessagePredecoder(const MessagePredecoder &) = delete;
    MessagePredecoder &operator=(const MessagePredecoder &) = delete;

    void post(const RawMessage &message);
    // The held messages decoded since the last call (their text is no longer needed).
    QStringList takeDecodedHeld();
    // Waits until every message posted is decoded, then gives each of `messages` its
    // result (matched by path) and drops the text of the held ones that have one.
    void attachTo(QList<RawMessage> &messages);

private:
    struct Shared;
    void work();
    // Decodes the oldest message waiting (the newest with `newest`), unlocking while
    // it runs; false when none waits.
    bool decodeNext(std::unique_lock<std::mutex> &lock, bool newest, zipwrite::DataPreparer &preparer);

    std::unique_ptr<Shared> d_;
};
