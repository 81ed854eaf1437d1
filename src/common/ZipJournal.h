#pragma once
// Crash safety of in-place appends and deletions, and the store-level sync.
//
// An append writes the new member where the old central directory stood and then a
// new central directory, and a deletion writes a shorter directory in the same place
// (both through AppendGuard), so for a moment the archive is broken. Beside the archive
// (".<name>.qvjournal") a journal keeps what the append overwrites:
//
// - an operation record, written before each append and dropped after it, holds the
//   archive's old length and old central directory. It is not synced: a killed
//   process leaves its writes in the page cache, so on the same boot the record and
//   the archive are exactly as the process left them.
// - a batch record, written and synced before the first append to an archive after
//   the last syncArchives(), holds the archive as it was on disk then. Appends only
//   ever write past that record's directory offset, so after a power loss (a new
//   boot) restoring it gives back a whole archive, whatever reached the disk.
//
// Every operation runs recoverArchive() first; a journal left by a process that is
// gone is then applied and removed: on the same boot an interrupted operation is
// undone; after a reboot the archive is kept when it is whole (every member the
// batch state had or an append wrote checks out), and only an archive that unsynced
// appends or deletions left broken goes back to the batch state. So nothing that
// completed is ever undone. syncArchives() makes every change since the last call
// durable and removes the journals; a process that ends normally runs it on exit.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

namespace zipjournal {

// Brings the archive back to a whole state when a journal left by another process
// shows an interrupted append (same boot) or appends that did not fully reach the
// disk (after a reboot).
// Throws platform::Error when the repair itself fails.
void recoverArchive(const QString &archive);

// Wraps one in-place append to the archive open (read-write) in `fd`, which is
// `oldSize` bytes long with its central directory at `directoryOffset` and `oldTail`
// (the bytes from there to the end) after it. The
// constructor writes the journal (throws platform::Error when it cannot); commit()
// ends the append; destruction without commit() puts the old bytes back.
class AppendGuard {
public:
    AppendGuard(const QString &archive, int fd, qint64 oldSize, qint64 directoryOffset,
                const QByteArray &oldTail);
    ~AppendGuard();
    AppendGuard(const AppendGuard &) = delete;
    AppendGuard &operator=(const AppendGuard &) = delete;
    // Ends the append; throws when the journal cannot be closed (the append is then
    // undone at the next open).
    void commit();

private:
    bool dropOperation();

    QString archive_;
    QString journal_;
    int fd_;
    qint64 oldSize_;
    qint64 directoryOffset_;
    QByteArray oldTail_;
    qint64 journalLength_ = 0;
    bool done_ = false;
};

// Writes the batch records of the existing `archives` that a command is about to
// change, then flushes their directories once for all of them, rather than once per
// archive as each first changes; files created beside them before the call are then
// on disk by name as well. Optional: an append or deletion writes its record itself
// when none is there. Throws platform::Error when a record cannot be written.
void prepareChanges(const QStringList &archives);

// Records that `archive` was replaced by a rewritten file (rename), so the next sync
// flushes it.
void noteRewrite(const QString &archive);

// Flushes every archive changed since the last call, then removes their journals
// and flushes their directories. Callers run it once after a batch of changes (a
// store command as it ends, the fetch run before it deletes raw messages). False when
// a flush failed, with "<path>: <reason>" of the first failure in `failure`; the
// journals of the archives that failed are kept.
bool syncArchives(QString *failure = nullptr);

// The journal path of an archive; a temporary file name beside it starts with
// sideName(archive, "qvtmp").
QString journalPath(const QString &archive);
QString sideName(const QString &archive, const QString &tag);

// Test seams: the boot identity (empty restores the real one), and a hook called at
// the named steps of an append or rewrite.
void setBootIdForTesting(const QByteArray &id);
// Forgets which journals this process holds, as a new process would.
void forgetJournalsForTesting();
void setStepHookForTesting(std::function<void(const char *step)> hook);
void step(const char *name);

} // namespace zipjournal
