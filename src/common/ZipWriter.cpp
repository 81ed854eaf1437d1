#include "common/ZipWriter.h"

#include "common/ZipFormat.h"
#include "common/ZipIo.h"
#include "common/ZipJournal.h"
#include "platform/Error.h"
#include "platform/Sanitiser.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <map>
#include <set>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace zipwrite {

namespace {

using zipfmt::CentralDirectory;
using zipfmt::CentralEntry;

constexpr qint64 kChunk = 256 * 1024;
constexpr quint16 kMadeByUnix = (3 << 8) | 20;

struct Source {
    QByteArray name;   // member name, UTF-8
    QString path;      // the file, or the name given to bytes in memory
    QByteArray data;
    bool inMemory = false;
    std::shared_ptr<const PreparedData> prepared;
    struct stat st {};
};

[[noreturn]] void cannotAdd(const QString &file, const QString &archive, const QString &reason)
{
    throw zipio::FinalError("Cannot add " + file + " to " + archive + ": " + reason);
}

[[noreturn]] void cannotChange(const QString &archive, const QString &reason)
{
    throw zipio::FinalError("Cannot change zip file " + archive + ": " + reason);
}

// A temporary file beside the archive, removed unless it was renamed into place.
class TempFile {
public:
    explicit TempFile(const QString &archive)
    {
        QByteArray name = QFile::encodeName(zipjournal::sideName(archive, "qvtmp")) + ".XXXXXX";
        fd_.reset(::mkostemp(name.data(), O_CLOEXEC));
        if (!fd_.valid())
            throw platform::Error(zipio::systemReason());
        path_ = name;
    }
    ~TempFile()
    {
        fd_.reset();
        if (!path_.isEmpty())
            ::unlink(path_.constData());
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    int fd() const { return fd_.get(); }
    // The new file is on disk before its name is: a power loss after the rename
    // must not find a name for data that never got there. The directory is synced
    // with the command's sync.
    void renameTo(const QString &archive, unsigned mode)
    {
        if (::fchmod(fd_.get(), mode_t(mode)) != 0 || ::fsync(fd_.get()) != 0 || !fd_.close())
            throw platform::Error(zipio::systemReason());
        zipjournal::step("rewrite-written");
        if (::rename(path_.constData(), QFile::encodeName(archive).constData()) != 0)
            throw platform::Error(zipio::systemReason());
        path_.clear();
        zipjournal::step("renamed");
    }

private:
    zipio::Fd fd_;
    QByteArray path_;
};

// A deflating pass looks at this much of a member first: when that does not shrink
// by at least 1/64, the member is stored instead (data that is already compressed
// costs deflate's time and gains nothing).
constexpr qint64 kProbe = 64 * 1024;

// Buffers and the deflate state, made once for all members of one change.
struct Scratch {
    explicit Scratch(int level) : level(std::min(level, 9)) {}
    ~Scratch()
    {
        if (ready)
            deflateEnd(&z);
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;

    z_stream &deflater()
    {
        if (!ready) {
            if (deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
                throw platform::Error(QStringLiteral("out of memory"));
            ready = true;
        } else if (deflateReset(&z) != Z_OK) {
            throw platform::Error(QStringLiteral("compression failed"));
        }
        return z;
    }

    const int level;
    z_stream z {};
    bool ready = false;
    QByteArray in = QByteArray(kChunk, Qt::Uninitialized);
    QByteArray out = QByteArray(kChunk, Qt::Uninitialized);
};

// A member's content read front to back, from its file or from memory.
class SourceReader {
public:
    explicit SourceReader(const Source &src) : src_(src)
    {
        if (src.inMemory)
            return;
        fd_ = zipio::openFile(src.path, O_RDONLY);
        if (!fd_.valid())
            throw platform::Error(zipio::systemReason());
    }
    // Up to `max` bytes into `buf`; 0 at the end.
    qint64 read(char *buf, qint64 max)
    {
        if (src_.inMemory) {
            const qint64 n = std::min<qint64>(max, src_.data.size() - pos_);
            memcpy(buf, src_.data.constData() + pos_, size_t(n));
            pos_ += n;
            return n;
        }
        for (;;) {
            const ssize_t n = ::read(fd_.get(), buf, size_t(max));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throw platform::Error(zipio::systemReason());
            return n;
        }
    }
    // Fills `buf` with up to `max` bytes, fewer only at the end.
    qint64 readFull(char *buf, qint64 max)
    {
        qint64 done = 0;
        while (done < max) {
            const qint64 n = read(buf + done, max - done);
            if (n == 0)
                break;
            done += n;
        }
        return done;
    }
    void rewind()
    {
        pos_ = 0;
        if (!src_.inMemory && ::lseek(fd_.get(), 0, SEEK_SET) != 0)
            throw platform::Error(zipio::systemReason());
    }

private:
    const Source &src_;
    zipio::Fd fd_;
    qint64 pos_ = 0;
};

// Deflates `n` bytes of `in` as a whole stream into `out`; false when `out`
// (sized for a useful result) is too small.
bool deflateWhole(z_stream &z, const char *in, qint64 n, QByteArray &out)
{
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in));
    z.avail_in = uInt(n);
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    const int rc = ::deflate(&z, Z_FINISH);
    if (rc == Z_STREAM_ERROR)
        throw platform::Error(QStringLiteral("compression failed"));
    if (rc != Z_STREAM_END)
        return false;
    out.resize(out.size() - qsizetype(z.avail_out));
    return true;
}

// Writes `src` as a member at `offset` of `out`: a local header, then the data,
// then the header again with the real CRC and sizes. Returns the end offset.
qint64 writeMember(const Source &src, Scratch &scratch, int out, qint64 offset, CentralEntry &e)
{
    SourceReader reader(src);

    e = CentralEntry();
    e.name = src.name;
    e.madeBy = kMadeByUnix;
    const bool ascii = std::all_of(src.name.begin(), src.name.end(),
                                   [](char c) { return uchar(c) < 0x80; });
    e.flags = ascii ? 0 : zipfmt::kFlagUtf8;
    zipfmt::toDosTime(QDateTime::fromSecsSinceEpoch(src.st.st_mtim.tv_sec), e.modTime, e.modDate);
    e.externalAttributes = quint32(S_IFREG | (src.st.st_mode & 0777)) << 16;
    e.localOffset = quint64(offset);
    const qint64 headerSize = zipfmt::kLocalHeaderSize + e.name.size();
    auto setMethod = [&e](bool deflated) {
        e.method = deflated ? zipfmt::kMethodDeflated : zipfmt::kMethodStored;
        e.versionNeeded = deflated ? 20 : 10;
    };

    if (src.prepared && src.prepared->level == scratch.level) {
        const PreparedData &ready = *src.prepared;
        setMethod(ready.deflated);
        const QByteArray &body = ready.deflated ? ready.compressed : ready.data;
        e.crc = ready.crc;
        e.uncompressedSize = quint64(ready.data.size());
        e.compressedSize = quint64(body.size());
        zipio::writeAt(out, offset, zipfmt::encodeLocalHeader(e));
        zipio::writeAt(out, offset + headerSize, body.constData(), body.size());
        return offset + headerSize + body.size();
    }

    bool deflate = scratch.level > 0 && src.st.st_size > 0;
    if (deflate) {
        // The first block decides; a member no longer than it is written in one go.
        const qint64 n = reader.readFull(scratch.in.data(), kProbe);
        QByteArray probe(n - n / 64, Qt::Uninitialized);
        const bool shrinks = n > 0 && deflateWhole(scratch.deflater(), scratch.in.constData(), n, probe);
        if (n < kProbe) {
            const bool useDeflate = shrinks;
            setMethod(useDeflate);
            e.crc = quint32(crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef *>(scratch.in.constData()), uInt(n)));
            e.uncompressedSize = quint64(n);
            const QByteArray &body = useDeflate ? probe : QByteArray::fromRawData(scratch.in.constData(), n);
            e.compressedSize = quint64(body.size());
            QByteArray member = zipfmt::encodeLocalHeader(e);
            member.append(body);
            zipio::writeAt(out, offset, member);
            return offset + member.size();
        }
        deflate = shrinks;
        reader.rewind();
    }
    setMethod(deflate);
    zipio::writeAt(out, offset, zipfmt::encodeLocalHeader(e));
    qint64 pos = offset + headerSize;

    z_stream *z = deflate ? &scratch.deflater() : nullptr;
    QByteArray &inBuf = scratch.in;
    QByteArray &outBuf = scratch.out;
    uLong crc = crc32(0, nullptr, 0);
    quint64 total = 0;
    for (;;) {
        const qint64 n = reader.read(inBuf.data(), kChunk);
        total += quint64(n);
        if (total > zipfmt::kMaxMemberSize)
            throw platform::Error(QStringLiteral("the file is too large"));
        crc = crc32(crc, reinterpret_cast<const Bytef *>(inBuf.constData()), uInt(n));
        if (!deflate) {
            zipio::writeAt(out, pos, inBuf.constData(), n);
            pos += n;
        } else {
            z->next_in = reinterpret_cast<Bytef *>(inBuf.data());
            z->avail_in = uInt(n);
            const int flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
            int rc;
            do {
                z->next_out = reinterpret_cast<Bytef *>(outBuf.data());
                z->avail_out = uInt(kChunk);
                rc = ::deflate(z, flush);
                if (rc == Z_STREAM_ERROR)
                    throw platform::Error(QStringLiteral("compression failed"));
                const qint64 produced = kChunk - z->avail_out;
                zipio::writeAt(out, pos, outBuf.constData(), produced);
                pos += produced;
            } while (z->avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
        }
        if (n == 0)
            break;
    }
    e.crc = quint32(crc);
    e.uncompressedSize = total;
    e.compressedSize = quint64(pos - offset - headerSize);
    if (e.compressedSize > zipfmt::kMaxMemberSize)
        throw platform::Error(QStringLiteral("the file is too large"));
    zipio::writeAt(out, offset, zipfmt::encodeLocalHeader(e));
    return pos;
}

// Copies member `e` of the archive read by `in` to `out` without recompressing,
// under a fresh local header with its real sizes.
void copyMember(zipio::BlockReader &in, const CentralDirectory &cd, CentralEntry &e,
                zipio::BlockWriter &out)
{
    zipfmt::LocalHeader local;
    if (!zipfmt::decodeLocalHeader(
            in.readExactly(qint64(e.localOffset), zipfmt::kLocalHeaderSize).constData(), local))
        throw platform::Error(QStringLiteral("a local header is damaged"));
    const qint64 dataStart = qint64(e.localOffset) + local.size();
    if (dataStart + qint64(e.compressedSize) > qint64(cd.offset))
        throw platform::Error(QStringLiteral("a member lies outside the archive"));
    if (e.compressedSize > zipfmt::kMaxMemberSize || e.uncompressedSize > zipfmt::kMaxMemberSize)
        throw platform::Error(QStringLiteral("a member is too large"));

    // Sizes go into the local header, so no data descriptor follows the data; only
    // traditionally encrypted members keep the flag, since it keys their check byte.
    const bool descriptor = (e.flags & zipfmt::kFlagDescriptor) && (e.flags & zipfmt::kFlagEncrypted);
    if (!descriptor)
        e.flags &= quint16(~zipfmt::kFlagDescriptor);
    e.localOffset = quint64(out.pos());
    out.append(zipfmt::encodeLocalHeader(e));
    for (qint64 done = 0; done < qint64(e.compressedSize);) {
        const qint64 n = std::min<qint64>(kChunk, qint64(e.compressedSize) - done);
        out.append(in.readExactly(dataStart + done, n));
        done += n;
    }
    if (descriptor) {
        QByteArray d;
        zipfmt::put32(d, zipfmt::kDescriptorSig);
        zipfmt::put32(d, e.crc);
        zipfmt::put32(d, quint32(e.compressedSize));
        zipfmt::put32(d, quint32(e.uncompressedSize));
        out.append(d);
    }
}

// The archive as opened for a change: its descriptor (invalid when it does not
// exist yet), its size, mode and directory.
struct Opened {
    zipio::Fd fd;
    struct stat st {};
    bool exists = false;
    CentralDirectory cd;
};

// Temporary files of rewrites that a killed process left beside the archive.
void removeStaleTemporaries(const QString &archive)
{
    const QFileInfo temp(zipjournal::sideName(archive, "qvtmp"));
    const QString prefix = temp.fileName() + '.';
    QDir dir(temp.absolutePath());
    const QStringList hidden = dir.entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden);
    for (const QString &name : hidden) {
        if (name.size() == prefix.size() + 6 && name.startsWith(prefix))
            dir.remove(name);
    }
}

void openArchive(const QString &archive, Opened &a)
{
    zipjournal::recoverArchive(archive);
    removeStaleTemporaries(archive);
    a.fd = zipio::openFile(archive, O_RDWR);
    if (!a.fd.valid()) {
        if (errno != ENOENT)
            throw platform::Error(zipio::systemReason());
        return;
    }
    if (::fstat(a.fd.get(), &a.st) != 0)
        throw platform::Error(zipio::systemReason());
    if (!S_ISREG(a.st.st_mode))
        throw platform::Error(QStringLiteral("it is not a file"));
    a.exists = true;
    // An empty file holds nothing to keep; it becomes an archive.
    if (a.st.st_size > 0)
        a.cd = zipfmt::readCentralDirectory(a.fd.get(), a.st.st_size);
}

// Writes the archive anew: the old members in order, `replace` taking the place of
// those it names, those in `drop` left out, `added` after them.
void rewrite(const QString &archive, const Opened &a, const std::map<QByteArray, Source> &replace,
             const std::set<qsizetype> &drop, const QList<Source> &added, int level,
             const Announce &announce)
{
    TempFile temp(archive);
    QList<CentralEntry> entries;
    entries.reserve(a.cd.entries.size() + added.size());
    zipio::BlockReader in(a.fd.get());
    zipio::BlockWriter out(temp.fd(), 0);
    Scratch scratch(level);
    auto compress = [&](const Source &s, CentralEntry &e) {
        if (announce)
            announce(QString::fromUtf8(s.name), s.st.st_size);
        out.flush();
        out.moveTo(writeMember(s, scratch, temp.fd(), out.pos(), e));
    };
    for (qsizetype i = 0; i < a.cd.entries.size(); ++i) {
        if (drop.count(i))
            continue;
        CentralEntry e = a.cd.entries[i];
        const auto r = replace.find(e.name);
        if (r != replace.end())
            compress(r->second, e);
        else
            copyMember(in, a.cd, e, out);
        entries.append(std::move(e));
    }
    for (const Source &s : added) {
        CentralEntry e;
        compress(s, e);
        entries.append(std::move(e));
    }
    out.append(zipfmt::encodeCentralDirectory(entries, quint64(out.pos()), a.cd.comment));
    out.flush();
    temp.renameTo(archive, a.exists ? unsigned(a.st.st_mode & 07777) : zipio::defaultFileMode());
    zipjournal::noteRewrite(archive);
}

// Writes `added` where the directory stands and a new directory after them: the
// old central headers as they were, the new ones, then new end records.
void append(const QString &archive, const Opened &a, const QList<Source> &added, int level,
            const Announce &announce)
{
    zipjournal::AppendGuard guard(archive, a.fd.get(), a.st.st_size, qint64(a.cd.offset), a.cd.tail);
    QList<CentralEntry> entries;
    qint64 offset = qint64(a.cd.offset);
    Scratch scratch(level);
    for (const Source &s : added) {
        if (announce)
            announce(QString::fromUtf8(s.name), s.st.st_size);
        CentralEntry e;
        offset = writeMember(s, scratch, a.fd.get(), offset, e);
        entries.append(std::move(e));
    }
    zipjournal::step("members");
    zipio::writeAt(a.fd.get(), offset, a.cd.tail.constData(), a.cd.headersSize);
    QByteArray more;
    zipfmt::encodeCentralHeaders(entries, more);
    const quint64 size = quint64(a.cd.headersSize + more.size());
    zipfmt::encodeEndRecords(quint64(a.cd.entries.size() + entries.size()), size, quint64(offset),
                             a.cd.comment, more);
    zipio::writeAt(a.fd.get(), offset + a.cd.headersSize, more);
    zipio::truncateTo(a.fd.get(), offset + a.cd.headersSize + more.size());
    zipjournal::step("directory");
    guard.commit();
}

// Whether the sizes of `e` follow its data, in a descriptor that a rewrite folds into
// its local header (a traditionally encrypted member keeps its descriptor).
bool sizesFollowData(const CentralEntry &e)
{
    return (e.flags & zipfmt::kFlagDescriptor) && !(e.flags & zipfmt::kFlagEncrypted);
}

// Unused space up to this size stays in any archive: a small archive emptied and
// filled again costs no rewrite (and its flush) each time.
constexpr qint64 kKeptUnusedSpace = 256 * 1024;

// Whether removing `drop` should rewrite the archive rather than leave the members'
// bytes behind as space no header names: when that space would pass a quarter of the
// file and kKeptUnusedSpace, or the archive has members whose sizes follow their data
// (the rewrite moves those sizes into the local headers, as an append does), and
// when no member is left.
bool compactionDue(const Opened &a, const std::set<qsizetype> &drop)
{
    if (qsizetype(drop.size()) == a.cd.entries.size())
        return true;   // nothing left: the empty archive is 22 bytes (unzip takes an
                       // empty directory after unused bytes for a damaged archive)
    qint64 live = 0;
    for (qsizetype i = 0; i < a.cd.entries.size(); ++i) {
        const CentralEntry &e = a.cd.entries[i];
        if (sizesFollowData(e))
            return true;
        if (!drop.count(i))
            live += zipfmt::kLocalHeaderSize + e.name.size() + e.extra.size()
                + qint64(e.compressedSize);
    }
    const qint64 unused = qint64(a.cd.offset) - live;
    return unused > kKeptUnusedSpace && unused * 4 > qint64(a.cd.offset) + a.cd.headersSize;
}

// Removes the central headers of `drop` and writes the shorter directory where the
// old one stood; the members' local entries stay as unreferenced bytes until a later
// removal compacts the archive. Readers go by the central directory (the member-list
// scan too, see zipscan::scanMembers), so the archive reads as it would after a
// rewrite, at the cost of the directory alone. The journal of appends guards it:
// only bytes from the directory on change.
void removeInPlace(const QString &archive, const Opened &a, const std::set<qsizetype> &drop)
{
    zipjournal::AppendGuard guard(archive, a.fd.get(), a.st.st_size, qint64(a.cd.offset), a.cd.tail);
    QList<CentralEntry> kept;
    kept.reserve(a.cd.entries.size() - qsizetype(drop.size()));
    for (qsizetype i = 0; i < a.cd.entries.size(); ++i) {
        if (!drop.count(i))
            kept.append(a.cd.entries[i]);
    }
    const QByteArray directory = zipfmt::encodeCentralDirectory(kept, a.cd.offset, a.cd.comment);
    zipio::writeAt(a.fd.get(), qint64(a.cd.offset), directory);
    zipio::truncateTo(a.fd.get(), qint64(a.cd.offset) + directory.size());
    zipjournal::step("directory");
    guard.commit();
}

} // namespace

struct DataPreparer::State {
    explicit State(int level) : scratch(level) {}
    Scratch scratch;
};

DataPreparer::DataPreparer(int level) : state_(std::make_unique<State>(std::max(level, 0))) {}

DataPreparer::~DataPreparer() = default;

std::shared_ptr<const PreparedData> DataPreparer::prepare(const QByteArray &data)
{
    if (quint64(data.size()) > zipfmt::kMaxMemberSize)
        return nullptr;
    Scratch &scratch = state_->scratch;
    auto ready = std::make_shared<PreparedData>();
    ready->level = scratch.level;
    ready->data = data;
    ready->crc = quint32(crc32_z(crc32(0, nullptr, 0), reinterpret_cast<const Bytef *>(data.constData()),
                                 size_t(data.size())));
    if (scratch.level == 0 || data.isEmpty())
        return ready;
    // The rule of writeMember: deflated when its first block shrinks.
    const qint64 n = std::min<qint64>(kProbe, data.size());
    QByteArray probe(n - n / 64, Qt::Uninitialized);
    if (!deflateWhole(scratch.deflater(), data.constData(), n, probe))
        return ready;
    if (n < data.size()) {
        z_stream &z = scratch.deflater();
        probe = QByteArray(qsizetype(deflateBound(&z, uLong(data.size()))), Qt::Uninitialized);
        if (!deflateWhole(z, data.constData(), data.size(), probe))
            throw platform::Error(QStringLiteral("compression failed"));
    }
    probe.squeeze();
    ready->compressed = std::move(probe);
    ready->deflated = true;
    return ready;
}

int addFiles(const QString &archive, const QStringList &files, int level, const Announce &announce)
{
    QList<MemberSource> members;
    members.reserve(files.size());
    for (const QString &file : files)
        members.append(MemberSource::file(file));
    return addMembers(archive, members, level, announce);
}

int addMembers(const QString &archive, const QList<MemberSource> &members, int level,
               const Announce &announce)
{
    // One member per bare name: a later file of the same name replaces an earlier one.
    QList<Source> sources;
    std::map<QByteArray, qsizetype> byName;
    const struct timespec now = [] {
        struct timespec t {};
        ::clock_gettime(CLOCK_REALTIME, &t);
        return t;
    }();
    const mode_t newFileMode = mode_t(zipio::defaultFileMode());
    for (const MemberSource &member : members) {
        const QString &file = member.path;
        Source s;
        s.path = file;
        s.name = platform::bareFileName(file).toUtf8();
        if (member.inMemory) {
            s.data = member.data;
            s.inMemory = true;
            s.prepared = member.prepared;
            s.st.st_mode = S_IFREG | newFileMode;
            s.st.st_size = off_t(s.data.size());
            s.st.st_mtim = now;
        } else if (::stat(QFile::encodeName(file).constData(), &s.st) != 0) {
            cannotAdd(file, archive, zipio::systemReason());
        }
        if (!S_ISREG(s.st.st_mode))
            cannotAdd(file, archive, QStringLiteral("it is not a file"));
        if (quint64(s.st.st_size) > zipfmt::kMaxMemberSize)
            cannotAdd(file, archive, QStringLiteral("the file is too large"));
        const auto known = byName.find(s.name);
        if (known != byName.end()) {
            sources[known->second] = s;
        } else {
            byName[s.name] = sources.size();
            sources.append(s);
        }
    }
    if (sources.isEmpty())
        return 0;

    try {
        Opened a;
        openArchive(archive, a);
        for (const Source &s : sources) {
            if (a.exists && !s.inMemory && s.st.st_dev == a.st.st_dev && s.st.st_ino == a.st.st_ino)
                cannotAdd(s.path, archive, QStringLiteral("it is the archive itself"));
        }
        std::map<QByteArray, Source> replace;
        QList<Source> added;
        QSet<QByteArray> present;
        for (const CentralEntry &e : a.cd.entries)
            present.insert(e.name);
        for (const Source &s : sources) {
            if (present.contains(s.name))
                replace[s.name] = s;
            else
                added.append(s);
        }
        // Members followed by data descriptors get their sizes into their local
        // headers by one rewrite; after that new members are appended.
        const bool descriptors =
            std::any_of(a.cd.entries.begin(), a.cd.entries.end(), sizesFollowData);
        if (a.exists && a.st.st_size > 0 && replace.empty() && !descriptors)
            append(archive, a, added, level, announce);
        else
            rewrite(archive, a, replace, {}, added, level, announce);
    } catch (const zipio::FinalError &) {
        throw;
    } catch (const platform::Error &e) {
        cannotChange(archive, e.message());
    }
    return int(sources.size());
}

int deleteMembers(const QString &archive, const QStringList &names)
{
    try {
        Opened a;
        openArchive(archive, a);
        if (!a.exists)
            return 0;
        std::set<qsizetype> drop;
        for (qsizetype i = 0; i < a.cd.entries.size(); ++i) {
            const QString name = zipfmt::decodeName(a.cd.entries[i].name, a.cd.entries[i].flags);
            for (const QString &wanted : names) {
                if (zipfmt::nameMatches(name, wanted)) {
                    drop.insert(i);
                    break;
                }
            }
        }
        if (drop.empty())
            return 0;
        if (compactionDue(a, drop))
            rewrite(archive, a, {}, drop, {}, 0, {});
        else
            removeInPlace(archive, a, drop);
        return int(drop.size());
    } catch (const zipio::FinalError &) {
        throw;
    } catch (const platform::Error &e) {
        cannotChange(archive, e.message());
    }
}

} // namespace zipwrite
