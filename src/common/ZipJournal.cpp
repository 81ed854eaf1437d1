#include "common/ZipJournal.h"

#include "common/ZipFormat.h"
#include "common/ZipIo.h"
#include "platform/Error.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <map>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace zipjournal {

namespace {

// Record layout: magic, kind, boot id, device, inode, old length, directory offset,
// tail length, tail (the bytes from the directory offset to the old end), CRC-32 of
// everything before it.
constexpr char kMagic[4] = {'Q', 'V', 'J', '1'};
constexpr char kBatch = 'B';
constexpr char kOperation = 'K';
constexpr int kBootIdSize = 36;
constexpr int kHeaderSize = 4 + 1 + kBootIdSize + 5 * 8;
// Journal and temporary names must fit NAME_MAX with their dot and tags.
constexpr int kMaxBaseBytes = 200;

struct Record {
    char kind = 0;
    QByteArray bootId;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 oldSize = 0;
    qint64 directoryOffset = 0;
    QByteArray tail;
};

// Per archive changed since the last sync: whether this process holds its journal,
// for which files (inodes) the journal has a batch record, and how many appends are
// running on it.
struct State {
    bool journal = false;
    qint64 journalLength = 0;
    std::set<std::pair<quint64, quint64>> batchFiles;
    int running = 0;
};

using Registry = std::map<QString, State>;

bool flush(Registry &reg, QString *failure);

// A process that ends normally leaves no batch journal: whatever it changed since the
// last sync is synced as its statics go.
struct ExitSync {
    Registry archives;
    ~ExitSync()
    {
        if (!archives.empty())
            flush(archives, nullptr);
    }
};

Registry &registry()
{
    static ExitSync r;
    return r.archives;
}

QByteArray &bootIdOverride()
{
    static QByteArray id;
    return id;
}

std::function<void(const char *)> &stepHook()
{
    static std::function<void(const char *)> hook;
    return hook;
}

QByteArray bootId()
{
    if (!bootIdOverride().isEmpty())
        return bootIdOverride().leftJustified(kBootIdSize, ' ', true);
    static const QByteArray real = [] {
        QFile f(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        QByteArray id;
        if (f.open(QIODevice::ReadOnly))
            id = f.readAll().trimmed();
        return id.leftJustified(kBootIdSize, ' ', true);
    }();
    return real;
}

QString key(const QString &archive)
{
    return QFileInfo(archive).absoluteFilePath();
}

QByteArray encode(const Record &r)
{
    QByteArray out;
    out.reserve(kHeaderSize + r.tail.size() + 4);
    out.append(kMagic, 4);
    out.append(r.kind);
    out.append(r.bootId.leftJustified(kBootIdSize, ' ', true));
    zipfmt::put64(out, r.device);
    zipfmt::put64(out, r.inode);
    zipfmt::put64(out, quint64(r.oldSize));
    zipfmt::put64(out, quint64(r.directoryOffset));
    zipfmt::put64(out, quint64(r.tail.size()));
    out.append(r.tail);
    zipfmt::put32(out, quint32(crc32(0, reinterpret_cast<const Bytef *>(out.constData()),
                                     uInt(out.size()))));
    return out;
}

// The whole records at the front of `data`; a torn or foreign one ends the list.
QList<Record> decode(const QByteArray &data)
{
    QList<Record> records;
    qsizetype pos = 0;
    while (data.size() - pos >= kHeaderSize + 4) {
        const char *p = data.constData() + pos;
        if (memcmp(p, kMagic, 4) != 0)
            break;
        Record r;
        r.kind = p[4];
        r.bootId = QByteArray(p + 5, kBootIdSize);
        const char *f = p + 5 + kBootIdSize;
        r.device = zipfmt::get64(f);
        r.inode = zipfmt::get64(f + 8);
        r.oldSize = qint64(zipfmt::get64(f + 16));
        r.directoryOffset = qint64(zipfmt::get64(f + 24));
        const quint64 tailSize = zipfmt::get64(f + 32);
        if (tailSize > quint64(data.size() - pos - kHeaderSize - 4))
            break;
        const qsizetype total = kHeaderSize + qsizetype(tailSize);
        const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(p), uInt(total)));
        if (crc != zipfmt::get32(p + total))
            break;
        if (r.oldSize < 0 || r.directoryOffset < 0
            || r.directoryOffset + qint64(tailSize) != r.oldSize)
            break;
        r.tail = QByteArray(p + kHeaderSize, qsizetype(tailSize));
        records.append(std::move(r));
        pos += total + 4;
    }
    return records;
}

// Puts the archive back as the record saw it. Appends only write past the record's
// directory offset, so the bytes before it are still the old ones.
void restore(int fd, const Record &r)
{
    zipio::writeAt(fd, r.directoryOffset, r.tail);
    zipio::truncateTo(fd, r.oldSize);
    zipio::syncFd(fd);
}

// The size and count of the central headers at the front of a directory tail (the
// headers, then the end records) that starts at `offset` of its file; false when its
// end records cannot be read.
bool oldHeaders(const QByteArray &tail, qint64 offset, qsizetype commentSize, qint64 &size,
                quint64 &count)
{
    using namespace zipfmt;
    const qsizetype end = tail.size() - kEndSize - commentSize;
    if (end < 0 || get32(tail.constData() + end) != kEndSig)
        return false;
    const char *e = tail.constData() + end;
    count = get16(e + 10);
    quint64 bytes = get32(e + 12);
    if (count == 0xFFFF || bytes == 0xFFFFFFFFu || get32(e + 16) == 0xFFFFFFFFu) {
        const qsizetype locator = end - kZip64LocatorSize;
        if (locator < 0 || get32(tail.constData() + locator) != kZip64LocatorSig)
            return false;
        const qint64 record = qint64(get64(tail.constData() + locator + 8)) - offset;
        if (record < 0 || record + kZip64EndSize > locator
            || get32(tail.constData() + record) != kZip64EndSig)
            return false;
        count = get64(tail.constData() + record + 32);
        bytes = get64(tail.constData() + record + 40);
    }
    if (bytes > quint64(end))
        return false;
    size = qint64(bytes);
    return true;
}

// Whether the data of member `e`, `start` bytes into the file, has the length and
// CRC-32 its headers give.
bool dataChecksOut(zipio::BlockReader &in, qint64 start, const zipfmt::CentralEntry &e)
{
    const bool deflated = e.method == zipfmt::kMethodDeflated;
    if (!deflated && e.method != zipfmt::kMethodStored)
        return false;
    z_stream z {};
    if (deflated && inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return false;
    const struct End {
        z_stream &z;
        bool on;
        ~End()
        {
            if (on)
                inflateEnd(&z);
        }
    } end{z, deflated};

    constexpr qint64 kChunk = 256 * 1024;
    QByteArray out(kChunk, Qt::Uninitialized);
    uLong crc = crc32(0, nullptr, 0);
    quint64 total = 0;
    bool ended = !deflated;
    for (qint64 done = 0; done < qint64(e.compressedSize);) {
        const qint64 n = std::min<qint64>(kChunk, qint64(e.compressedSize) - done);
        const QByteArray chunk = in.readExactly(start + done, n);
        done += n;
        if (!deflated) {
            crc = crc32(crc, reinterpret_cast<const Bytef *>(chunk.constData()), uInt(n));
            total += quint64(n);
            continue;
        }
        if (ended)
            return false;   // bytes after the end of the deflate stream
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(chunk.constData()));
        z.avail_in = uInt(n);
        // Until the input is used up and the output drained, or the stream ends.
        for (;;) {
            z.next_out = reinterpret_cast<Bytef *>(out.data());
            z.avail_out = uInt(kChunk);
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (rc == Z_BUF_ERROR)
                break;   // nothing more without more input
            if (rc != Z_OK && rc != Z_STREAM_END)
                return false;
            const qint64 produced = kChunk - z.avail_out;
            crc = crc32(crc, reinterpret_cast<const Bytef *>(out.constData()), uInt(produced));
            total += quint64(produced);
            ended = rc == Z_STREAM_END;
            if (ended || (z.avail_in == 0 && z.avail_out > 0))
                break;
        }
        if (ended && z.avail_in > 0)
            return false;
    }
    return ended && total == e.uncompressedSize && quint32(crc) == e.crc;
}

// The central headers at the front of `headers` (`count` of them), each as its bytes;
// false when one runs past the end.
bool splitHeaders(const char *headers, qint64 size, quint64 count, QList<QByteArrayView> &out)
{
    qint64 pos = 0;
    for (quint64 i = 0; i < count; ++i) {
        if (pos + zipfmt::kCentralHeaderSize > size)
            return false;
        const char *h = headers + pos;
        const qint64 length = zipfmt::kCentralHeaderSize + zipfmt::get16(h + 28)
            + zipfmt::get16(h + 30) + zipfmt::get16(h + 32);
        if (zipfmt::get32(h) != zipfmt::kCentralHeaderSig || pos + length > size)
            return false;
        out.append(QByteArrayView(h, length));
        pos += length;
    }
    return true;
}

// Whether the archive open in `fd` (`size` bytes) is whole as far as appends and
// deletions since the batch record `r` can have changed it: its directory reads;
// each of its central headers is either one of the record's, unchanged (a member
// before the record's directory offset, which nothing overwrote), or a member written
// past that offset whose local header agrees with its central header and whose data
// has the right length and CRC-32. An append or deletion that did not fully reach the
// disk fails one of these.
bool wholeSince(int fd, qint64 size, const Record &r)
{
    try {
        const zipfmt::CentralDirectory cd = zipfmt::readCentralDirectory(fd, size);
        qint64 headersSize = 0;
        quint64 count = 0;
        QList<QByteArrayView> before, now;
        if (qint64(cd.offset) < r.directoryOffset
            || !oldHeaders(r.tail, r.directoryOffset, cd.comment.size(), headersSize, count)
            || !splitHeaders(r.tail.constData(), headersSize, count, before)
            || !splitHeaders(cd.tail.constData(), cd.headersSize, quint64(cd.entries.size()), now))
            return false;
        const QSet<QByteArrayView> kept(before.begin(), before.end());
        zipio::BlockReader in(fd);
        for (qsizetype i = 0; i < cd.entries.size(); ++i) {
            if (kept.contains(now[i]))
                continue;
            const zipfmt::CentralEntry &e = cd.entries[i];
            const qint64 at = qint64(e.localOffset);
            if (at < r.directoryOffset)
                return false;
            zipfmt::LocalHeader h;
            const bool read = zipfmt::decodeLocalHeader(
                in.readExactly(at, zipfmt::kLocalHeaderSize).constData(), h);
            const qint64 start = at + h.size();
            if (!read || h.flags != e.flags || h.method != e.method || h.crc != e.crc
                || h.compressedSize != e.compressedSize
                || h.uncompressedSize != e.uncompressedSize
                || (e.flags & zipfmt::kFlagEncrypted)
                || in.readExactly(at + zipfmt::kLocalHeaderSize, h.nameLength) != e.name
                || start + qint64(e.compressedSize) > qint64(cd.offset)
                || !dataChecksOut(in, start, e))
                return false;
        }
        return true;
    } catch (const platform::Error &) {
        return false;
    }
}

[[noreturn]] void repairFailed(const QString &archive, const QString &reason)
{
    throw zipio::FinalError("Cannot repair zip file " + archive + ": " + reason);
}

} // namespace

QString sideName(const QString &archive, const QString &tag)
{
    const QFileInfo info(archive);
    QString base = info.fileName();
    const QByteArray utf8 = base.toUtf8();
    if (utf8.size() > kMaxBaseBytes) {
        // Long names keep a prefix and a checksum of the whole name.
        const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(utf8.constData()),
                                          uInt(utf8.size())));
        base = QString::fromUtf8(utf8.left(kMaxBaseBytes / 2)) + '~'
            + QString::number(crc, 16);
    }
    return info.absolutePath() + "/." + base + '.' + tag;
}

QString journalPath(const QString &archive)
{
    return sideName(archive, QStringLiteral("qvjournal"));
}

void recoverArchive(const QString &archive)
{
    const auto held = registry().find(key(archive));
    if (held != registry().end() && held->second.journal)
        return;
    const QString journal = journalPath(archive);
    zipio::Fd jfd = zipio::openFile(journal, O_RDONLY);
    if (!jfd.valid()) {
        if (errno == ENOENT)
            return;
        repairFailed(archive, zipio::systemReason());
    }
    struct stat jst;
    if (::fstat(jfd.get(), &jst) != 0)
        repairFailed(archive, zipio::systemReason());
    QList<Record> records;
    try {
        records = decode(zipio::readAt(jfd.get(), 0, jst.st_size));
    } catch (const platform::Error &e) {
        repairFailed(archive, e.message());
    }
    jfd.reset();

    zipio::Fd afd = zipio::openFile(archive, O_RDWR);
    if (afd.valid()) {
        struct stat st;
        if (::fstat(afd.get(), &st) != 0)
            repairFailed(archive, zipio::systemReason());
        const bool sameBoot = [&] {
            for (const Record &r : records)
                if (r.bootId != bootId())
                    return false;
            return !records.isEmpty();
        }();
        const Record *use = nullptr;
        for (const Record &r : records) {
            if (r.device != quint64(st.st_dev) || r.inode != quint64(st.st_ino)
                || r.directoryOffset > st.st_size)
                continue;
            // Same boot: the page cache kept every write, so only an append that was
            // cut off needs undoing. After a reboot the synced batch state is what
            // the archive can fall back to.
            if (sameBoot ? r.kind == kOperation : r.kind == kBatch) {
                if (!use || sameBoot)
                    use = &r;
            }
        }
        try {
            // After a reboot a finished append is kept: only an archive that some
            // unsynced write left broken goes back to the batch state.
            if (use && (sameBoot || !wholeSince(afd.get(), st.st_size, *use)))
                restore(afd.get(), *use);
        } catch (const platform::Error &e) {
            repairFailed(archive, e.message());
        }
    } else if (errno != ENOENT) {
        repairFailed(archive, zipio::systemReason());
    }
    if (::unlink(QFile::encodeName(journal).constData()) != 0 && errno != ENOENT)
        repairFailed(archive, zipio::systemReason());
    zipio::syncDirectory(QFileInfo(archive).absolutePath());
}

namespace {

// The journal of `archive`, opened for writing; a journal of our own starts empty
// (one of a dead process was recovered already). `created` tells whether this
// process had none, so that its name still needs a flush of the directory.
zipio::Fd openJournal(const QString &archive, State &state, bool &created)
{
    created = !state.journal;
    zipio::Fd jfd = zipio::openFile(journalPath(archive), O_RDWR | O_CREAT, 0600);
    if (!jfd.valid())
        throw platform::Error(zipio::systemReason());
    if (created) {
        zipio::truncateTo(jfd.get(), 0);
        state.journal = true;
        state.journalLength = 0;
    }
    return jfd;
}

// Writes and flushes the batch record of the archive open in `fd` unless this batch
// has one for that file already. The record must describe what is on disk, and be
// there itself, before the first overwrite since the last sync. On failure the
// journal is cut back to what it held.
void writeBatch(State &state, int jfd, int fd, const Record &base)
{
    const std::pair<quint64, quint64> file(base.device, base.inode);
    if (state.batchFiles.count(file))
        return;
    try {
        zipio::syncFd(fd);
        Record r = base;
        r.kind = kBatch;
        const QByteArray batch = encode(r);
        zipio::writeAt(jfd, state.journalLength, batch);
        zipio::syncFd(jfd);
        state.journalLength += batch.size();
        state.batchFiles.insert(file);
    } catch (...) {
        ::ftruncate(jfd, off_t(state.journalLength));
        throw;
    }
}

Record recordOf(const struct stat &st, qint64 oldSize, qint64 directoryOffset, const QByteArray &tail)
{
    Record r;
    r.bootId = bootId();
    r.device = quint64(st.st_dev);
    r.inode = quint64(st.st_ino);
    r.oldSize = oldSize;
    r.directoryOffset = directoryOffset;
    r.tail = tail;
    return r;
}

} // namespace

void prepareChanges(const QStringList &archives)
{
    std::set<QString> dirs;
    for (const QString &archive : archives) {
        recoverArchive(archive);
        zipio::Fd fd = zipio::openFile(archive, O_RDONLY);
        struct stat st;
        if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
            continue;   // what the change creates, or reports
        zipfmt::CentralDirectory cd;
        try {
            cd = zipfmt::readCentralDirectory(fd.get(), st.st_size);
        } catch (const platform::Error &) {
            continue;   // the change itself reports it
        }
        State &state = registry()[key(archive)];
        bool created = false;
        zipio::Fd jfd = openJournal(archive, state, created);
        writeBatch(state, jfd.get(), fd.get(), recordOf(st, st.st_size, qint64(cd.offset), cd.tail));
        dirs.insert(QFileInfo(archive).absolutePath());
    }
    for (const QString &dir : dirs) {
        if (!zipio::syncDirectory(dir))
            throw platform::Error("Cannot save changes to " + dir + ": " + zipio::systemReason());
    }
}

AppendGuard::AppendGuard(const QString &archive, int fd, qint64 oldSize, qint64 directoryOffset,
                         const QByteArray &oldTail)
    : archive_(archive), journal_(journalPath(archive)), fd_(fd), oldSize_(oldSize),
      directoryOffset_(directoryOffset), oldTail_(oldTail)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw platform::Error(zipio::systemReason());
    if (directoryOffset + oldTail.size() != oldSize)
        throw platform::Error(QStringLiteral("the directory is out of place"));

    State &state = registry()[key(archive)];
    bool created = false;
    zipio::Fd jfd = openJournal(archive, state, created);
    Record r = recordOf(st, oldSize, directoryOffset, oldTail_);
    const bool batched = state.batchFiles.count({r.device, r.inode});
    writeBatch(state, jfd.get(), fd, r);
    try {
        if (!batched && created && !zipio::syncDirectory(QFileInfo(journal_).absolutePath()))
            throw platform::Error(zipio::systemReason());
        r.kind = kOperation;
        zipio::writeAt(jfd.get(), state.journalLength, encode(r));
    } catch (...) {
        ::ftruncate(jfd.get(), off_t(state.journalLength));
        throw;
    }
    journalLength_ = state.journalLength;
    ++state.running;
    step("journal");
}

AppendGuard::~AppendGuard()
{
    if (done_)
        return;
    // The append failed: put the old directory back, then forget the operation.
    try {
        zipio::writeAt(fd_, directoryOffset_, oldTail_);
        zipio::truncateTo(fd_, oldSize_);
    } catch (const platform::Error &) {
        // The operation record stays: the next open repairs the archive from it.
        State &state = registry()[key(archive_)];
        state.journal = false;
        --state.running;
        return;
    }
    dropOperation();
}

void AppendGuard::commit()
{
    if (!dropOperation())
        throw platform::Error(zipio::systemReason());
}

bool AppendGuard::dropOperation()
{
    done_ = true;
    State &state = registry()[key(archive_)];
    --state.running;
    zipio::Fd jfd = zipio::openFile(journal_, O_RDWR);
    if (jfd.valid() && ::ftruncate(jfd.get(), off_t(journalLength_)) == 0)
        return true;
    // The record left behind undoes the append at the next open, this process's too.
    state.journal = false;
    return false;
}

void noteRewrite(const QString &archive)
{
    registry()[key(archive)];
}

namespace {

bool flush(Registry &reg, QString *failure)
{
    bool ok = true;
    const auto fail = [&](const QString &path, const QString &reason) {
        if (ok && failure)
            *failure = path + ": " + reason;
        ok = false;
    };
    std::set<QString> dirs;
    for (auto it = reg.begin(); it != reg.end();) {
        const QString &archive = it->first;
        if (it->second.running > 0) {
            // Only a program that ends in the middle of an append gets here; the
            // journal must stay to undo it.
            fail(archive, QStringLiteral("an append is still running"));
            ++it;
            continue;
        }
        zipio::Fd fd = zipio::openFile(archive, O_RDONLY);
        const bool flushed = fd.valid() ? ::fsync(fd.get()) == 0 : errno == ENOENT;
        if (!flushed) {
            fail(archive, zipio::systemReason());
            ++it;
            continue;
        }
        if (it->second.journal)
            ::unlink(QFile::encodeName(journalPath(archive)).constData());
        dirs.insert(QFileInfo(archive).absolutePath());
        it = reg.erase(it);
    }
    for (const QString &dir : dirs) {
        if (!zipio::syncDirectory(dir) && QFileInfo::exists(dir))
            fail(dir, zipio::systemReason());
    }
    return ok;
}

} // namespace

bool syncArchives(QString *failure)
{
    return flush(registry(), failure);
}

void setBootIdForTesting(const QByteArray &id)
{
    bootIdOverride() = id;
}

void forgetJournalsForTesting()
{
    registry().clear();
}

void setStepHookForTesting(std::function<void(const char *)> hook)
{
    stepHook() = std::move(hook);
}

void step(const char *name)
{
    if (stepHook())
        stepHook()(name);
}

} // namespace zipjournal
