#include "common/ZipJournal.h"

#include "common/ZipFormat.h"
#include "common/ZipIo.h"
#include "platform/Error.h"

#include <QFile>
#include <QFileInfo>

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

// Per archive changed since the last sync: whether this process holds its journal
// and for which files (inodes) the journal has a batch record.
struct State {
    bool journal = false;
    qint64 journalLength = 0;
    std::set<std::pair<quint64, quint64>> batchFiles;
};

std::map<QString, State> &registry()
{
    static std::map<QString, State> r;
    return r;
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
            // cut off needs undoing. After a reboot only the synced batch state counts.
            if (sameBoot ? r.kind == kOperation : r.kind == kBatch) {
                if (!use || sameBoot)
                    use = &r;
            }
        }
        try {
            if (use)
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
    const bool created = !state.journal;
    zipio::Fd jfd = zipio::openFile(journal_, O_RDWR | O_CREAT, 0600);
    if (!jfd.valid())
        throw platform::Error(zipio::systemReason());
    if (created) {
        // A journal of our own starts empty; one of a dead process was recovered already.
        zipio::truncateTo(jfd.get(), 0);
        state.journal = true;
        state.journalLength = 0;
    }

    Record r;
    r.bootId = bootId();
    r.device = quint64(st.st_dev);
    r.inode = quint64(st.st_ino);
    r.oldSize = oldSize;
    r.directoryOffset = directoryOffset;
    r.tail = oldTail_;
    const std::pair<quint64, quint64> file(r.device, r.inode);
    try {
        if (!state.batchFiles.count(file)) {
            // The batch record must describe what is on disk, and be there itself,
            // before the first overwrite since the last sync.
            zipio::syncFd(fd);
            r.kind = kBatch;
            const QByteArray batch = encode(r);
            zipio::writeAt(jfd.get(), state.journalLength, batch);
            zipio::syncFd(jfd.get());
            if (created && !zipio::syncDirectory(QFileInfo(journal_).absolutePath()))
                throw platform::Error(zipio::systemReason());
            state.journalLength += batch.size();
            state.batchFiles.insert(file);
        }
        r.kind = kOperation;
        zipio::writeAt(jfd.get(), state.journalLength, encode(r));
    } catch (...) {
        ::ftruncate(jfd.get(), off_t(state.journalLength));
        throw;
    }
    journalLength_ = state.journalLength;
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
        registry()[key(archive_)].journal = false;
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
    zipio::Fd jfd = zipio::openFile(journal_, O_RDWR);
    if (jfd.valid() && ::ftruncate(jfd.get(), off_t(journalLength_)) == 0)
        return true;
    // The record left behind undoes the append at the next open, this process's too.
    registry()[key(archive_)].journal = false;
    return false;
}

void noteRewrite(const QString &archive)
{
    registry()[key(archive)];
}

bool syncArchives()
{
    bool ok = true;
    std::set<QString> dirs;
    auto &reg = registry();
    for (auto it = reg.begin(); it != reg.end();) {
        const QString &archive = it->first;
        zipio::Fd fd = zipio::openFile(archive, O_RDONLY);
        const bool flushed = fd.valid() ? ::fsync(fd.get()) == 0 : errno == ENOENT;
        if (!flushed) {
            ok = false;
            ++it;
            continue;
        }
        if (it->second.journal)
            ::unlink(QFile::encodeName(journalPath(archive)).constData());
        dirs.insert(QFileInfo(archive).absolutePath());
        it = reg.erase(it);
    }
    for (const QString &dir : dirs)
        ok = (zipio::syncDirectory(dir) || !QFileInfo::exists(dir)) && ok;
    return ok;
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
