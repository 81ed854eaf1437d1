#include "common/ZipReader.h"

#include "common/ZipFormat.h"
#include "common/ZipIo.h"
#include "common/ZipJournal.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Sanitiser.h"

#include <QFile>

#include <algorithm>

#include <zip.h>
#include <zlib.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zipread {

namespace {

constexpr qint64 kChunk = 256 * 1024;

struct ZipCloser {
    void operator()(zip_t *z) const { zip_discard(z); }
};
struct FileCloser {
    void operator()(zip_file_t *f) const { zip_fclose(f); }
};

QString libzipReason(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromLocal8Bit(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

// The permissions a member asks for when it was stored on Unix, kept readable and
// writable for us and narrowed by the umask.
unsigned memberMode(zip_t *z, zip_uint64_t index)
{
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    unsigned mode = 0666;
    if (zip_file_get_external_attributes(z, index, 0, &system, &attributes) == 0
        && system == ZIP_OPSYS_UNIX && (attributes >> 16) != 0)
        mode = ((attributes >> 16) & 0777) | 0600;
    return mode & ~zipio::currentUmask();
}

bool refuseNoReplaceRename = false;

// A rename that never replaces an existing file.
int renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (refuseNoReplaceRename) {
        errno = EINVAL;
        return -1;
    }
    return ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
}

// Copies the `size` bytes of the file `from` into a new file `target`, which the
// call creates itself and so never replaces; false when `target` exists.
bool copyExclusively(const QByteArray &from, qint64 size, const QString &target, unsigned mode)
{
    zipio::Fd in(::open(from.constData(), O_RDONLY | O_CLOEXEC));
    if (!in.valid())
        throw platform::Error(zipio::systemReason());
    zipio::Fd out = zipio::openFile(target, O_WRONLY | O_CREAT | O_EXCL, int(mode));
    if (!out.valid()) {
        if (errno == EEXIST)
            return false;
        throw platform::Error(zipio::systemReason());
    }
    try {
        for (qint64 pos = 0; pos < size;) {
            const QByteArray data = zipio::readAt(in.get(), pos, std::min(kChunk, size - pos));
            zipio::writeAt(out.get(), pos, data);
            pos += data.size();
        }
        if (!out.close())
            throw platform::Error(zipio::systemReason());
    } catch (...) {
        out.reset();
        ::unlink(QFile::encodeName(target).constData());
        throw;
    }
    return true;
}

// Writes member `index` to `target` through a hidden temporary file in the same
// directory, then moves it into place so that an existing file is never replaced.
// False when `target` exists; throws with the reason when the member cannot be read.
bool extractOne(zip_t *z, zip_uint64_t index, const QString &dir, const QString &target)
{
    QByteArray tempName = QFile::encodeName(platform::joinPath(dir, ".quorvel-extract.XXXXXX"));
    zipio::Fd out(::mkostemp(tempName.data(), O_CLOEXEC));
    if (!out.valid())
        throw platform::Error(zipio::systemReason());
    struct Remove {
        QByteArray path;
        ~Remove()
        {
            if (!path.isEmpty())
                ::unlink(path.constData());
        }
    } remove{tempName};

    std::unique_ptr<zip_file_t, FileCloser> in(zip_fopen_index(z, index, 0));
    if (!in)
        throw platform::Error(QString::fromLocal8Bit(zip_strerror(z)));
    QByteArray buf(kChunk, Qt::Uninitialized);
    qint64 pos = 0;
    for (;;) {
        const zip_int64_t n = zip_fread(in.get(), buf.data(), zip_uint64_t(kChunk));
        if (n < 0)
            throw platform::Error(QString::fromLocal8Bit(zip_file_strerror(in.get())));
        if (n == 0)
            break;
        zipio::writeAt(out.get(), pos, buf.constData(), n);
        pos += n;
    }
    // File systems without Unix modes (FAT, exFAT) refuse a mode they cannot keep.
    const unsigned mode = memberMode(z, index);
    if ((::fchmod(out.get(), mode_t(mode)) != 0 && errno != EPERM) || !out.close())
        throw platform::Error(zipio::systemReason());
    if (renameNoReplace(tempName, QFile::encodeName(target)) == 0) {
        remove.path.clear();
        return true;
    }
    if (errno == EEXIST)
        return false;
    // Where the file system has no such rename (some network and FUSE file systems),
    // the target is created exclusively and filled from the temporary file.
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EPERM)
        throw platform::Error(zipio::systemReason());
    return copyExclusively(tempName, pos, target, mode);
}

// Reading members through libzip costs its parsing of the whole central directory
// into its own tables, and a stream set-up per member: for one record of a header
// archive of ten thousand, or for all of them, more than the reading itself. Here the
// central directory is read by our own code and each member's data inflated with one
// reused stream; all members come from one read of the archive. It is used only when
// every local header it needs agrees with its central header, with sizes known up
// front (what our writer leaves; space left by deletions between members is passed
// over), and when each name asked for is a member's exact name; otherwise it hands
// out nothing and returns false, and the caller goes through libzip.
constexpr qint64 kOnePassLimit = 64 * 1024 * 1024;

bool readDirect(const QString &archive, const QStringList &names, qint64 maxBytes, const Take &take)
{
    struct Member {
        QString name;
        const char *data;
        qint64 compressed, size;
        quint16 method;
        quint32 crc;
    };
    std::vector<Member> members;
    std::vector<QByteArray> buffers;
    try {
        const zipio::Fd fd = zipio::openFile(archive, O_RDONLY);
        struct stat st;
        const bool all = names.isEmpty();
        if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || (all && st.st_size > kOnePassLimit))
            return false;
        const zipfmt::CentralDirectory cd = zipfmt::readCentralDirectory(fd.get(), st.st_size);
        std::vector<qsizetype> chosen;
        if (all) {
            for (qsizetype i = 0; i < cd.entries.size(); ++i)
                chosen.push_back(i);
            buffers.push_back(zipio::readAt(fd.get(), 0, qint64(cd.offset)));
        } else {
            for (const QString &name : names) {
                const QByteArray raw = name.toUtf8();
                const auto at = std::find_if(cd.entries.begin(), cd.entries.end(),
                                             [&](const zipfmt::CentralEntry &e) { return e.name == raw; });
                if (at == cd.entries.end())
                    return false;
                chosen.push_back(at - cd.entries.begin());
            }
            std::sort(chosen.begin(), chosen.end());
            chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
        }
        members.reserve(chosen.size());
        for (const qsizetype i : chosen) {
            const zipfmt::CentralEntry &e = cd.entries[i];
            const qint64 pos = qint64(e.localOffset);
            const qint64 headerSize = zipfmt::kLocalHeaderSize + e.name.size();
            if (pos + headerSize > qint64(cd.offset))
                return false;
            // The member area read whole, or this member's header with its name.
            const QByteArray header = all ? QByteArray() : zipio::readAt(fd.get(), pos, headerSize);
            const char *h = all ? buffers.front().constData() + pos : header.constData();
            zipfmt::LocalHeader local;
            if (!zipfmt::decodeLocalHeader(h, local))
                return false;
            const quint32 compressed = local.compressedSize;
            const qint64 data = pos + local.size();
            if ((local.flags & (zipfmt::kFlagEncrypted | zipfmt::kFlagDescriptor)) != 0
                || (local.method != zipfmt::kMethodStored && local.method != zipfmt::kMethodDeflated)
                || local.method != e.method || compressed == 0xFFFFFFFFu
                || compressed != e.compressedSize || local.nameLength != e.name.size()
                || QByteArrayView(h + zipfmt::kLocalHeaderSize, local.nameLength) != QByteArrayView(e.name)
                || data + qint64(compressed) > qint64(cd.offset))
                return false;
            const char *bytes = nullptr;
            if (all) {
                bytes = buffers.front().constData() + data;
            } else if (qint64(e.uncompressedSize) <= maxBytes) {
                buffers.push_back(zipio::readAt(fd.get(), data, compressed));
                bytes = buffers.back().constData();
            }
            members.push_back({zipfmt::decodeName(e.name, local.flags), bytes, compressed,
                               qint64(e.uncompressedSize), local.method, e.crc});
        }
    } catch (const platform::Error &) {
        return false;
    }

    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    struct End {
        z_stream &s;
        ~End() { inflateEnd(&s); }
    } end{stream};
    QString firstFailure;
    for (const Member &m : members) {
        if (m.name.endsWith('/') || m.size > maxBytes)
            continue;
        QByteArray out;
        if (m.method == zipfmt::kMethodStored) {
            out = QByteArray(m.data, m.compressed);
        } else {
            out.resize(m.size);
            inflateReset(&stream);
            stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(m.data));
            stream.avail_in = uInt(m.compressed);
            stream.next_out = reinterpret_cast<Bytef *>(out.data());
            stream.avail_out = uInt(m.size);
            const int result = inflate(&stream, Z_FINISH);
            if (result != Z_STREAM_END || stream.avail_out != 0)
                out.clear();
        }
        if (out.size() != m.size || crc32(0, reinterpret_cast<const Bytef *>(out.constData()), uInt(out.size())) != m.crc) {
            if (firstFailure.isEmpty())
                firstFailure = "Cannot extract " + m.name + " from " + archive;
            continue;
        }
        take(platform::bareFileName(m.name), out);
    }
    if (!firstFailure.isEmpty())
        throw platform::Error(firstFailure);
    return true;
}

// Whether `names` (see zipfmt::nameMatches; empty for all) asks for the member `name`.
bool selected(const QStringList &names, const QString &name)
{
    return names.isEmpty()
        || std::any_of(names.begin(), names.end(),
                       [&](const QString &s) { return zipfmt::nameMatches(name, s); });
}

// The archive through libzip; the caller has recovered it.
std::unique_ptr<zip_t, ZipCloser> openForReading(const QString &archive)
{
    int error = 0;
    std::unique_ptr<zip_t, ZipCloser> z(
        zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &error));
    if (!z)
        throw platform::Error("Cannot read zip file " + archive + ": " + libzipReason(error));
    return z;
}

} // namespace

int extractMembers(const QString &archive, const QStringList &names, const QString &dir,
                   const Announce &announce)
{
    zipjournal::recoverArchive(archive);
    const std::unique_ptr<zip_t, ZipCloser> z = openForReading(archive);

    int written = 0;
    QString firstFailure;
    const zip_int64_t count = zip_get_num_entries(z.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char *raw = zip_get_name(z.get(), zip_uint64_t(i), ZIP_FL_ENC_RAW);
        if (!raw)
            continue;
        const QString name = zipfmt::decodeName(QByteArray(raw), 0);
        if (name.endsWith('/'))
            continue;   // a directory entry
        if (!selected(names, name))
            continue;
        const QString bare = platform::bareFileName(name);
        const QString target = platform::joinPath(dir, bare);
        struct stat st;
        if (::lstat(QFile::encodeName(target).constData(), &st) == 0)
            continue;
        if (announce) {
            zip_stat_t zs;
            zip_stat_init(&zs);
            zip_stat_index(z.get(), zip_uint64_t(i), 0, &zs);
            announce(bare, (zs.valid & ZIP_STAT_SIZE) ? qint64(zs.size) : 0);
        }
        try {
            if (extractOne(z.get(), zip_uint64_t(i), dir, target))
                ++written;
        } catch (const platform::Error &e) {
            if (firstFailure.isEmpty())
                firstFailure = "Cannot extract " + name + " from " + archive + ": " + e.message();
        }
    }
    if (!firstFailure.isEmpty())
        throw platform::Error(firstFailure);
    return written;
}

void readMembers(const QString &archive, const QStringList &names, qint64 maxBytes,
                 const Take &take)
{
    zipjournal::recoverArchive(archive);
    if (readDirect(archive, names, maxBytes, take))
        return;
    const std::unique_ptr<zip_t, ZipCloser> z = openForReading(archive);

    // Named members are looked up by name; only a name stored some other way (with a
    // directory part, say) costs a look at every member.
    std::vector<zip_uint64_t> wanted;
    const zip_int64_t count = zip_get_num_entries(z.get(), 0);
    for (const QString &name : names) {
        const zip_int64_t at = zip_name_locate(z.get(), name.toUtf8().constData(), ZIP_FL_ENC_RAW);
        if (at < 0) {
            wanted.clear();
            break;
        }
        wanted.push_back(zip_uint64_t(at));
    }
    if (wanted.empty()) {
        for (zip_int64_t i = 0; i < count; ++i) {
            const char *raw = zip_get_name(z.get(), zip_uint64_t(i), ZIP_FL_ENC_RAW);
            if (!raw)
                continue;
            const QString name = zipfmt::decodeName(QByteArray(raw), 0);
            if (!selected(names, name))
                continue;
            wanted.push_back(zip_uint64_t(i));
        }
    } else {
        std::sort(wanted.begin(), wanted.end());
    }

    QString firstFailure;
    for (const zip_uint64_t i : wanted) {
        const QString name = zipfmt::decodeName(QByteArray(zip_get_name(z.get(), i, ZIP_FL_ENC_RAW)), 0);
        if (name.endsWith('/'))
            continue;
        zip_stat_t zs;
        zip_stat_init(&zs);
        if (zip_stat_index(z.get(), i, 0, &zs) != 0 || !(zs.valid & ZIP_STAT_SIZE)
            || qint64(zs.size) > maxBytes)
            continue;
        QByteArray data(qsizetype(zs.size), Qt::Uninitialized);
        std::unique_ptr<zip_file_t, FileCloser> in(zip_fopen_index(z.get(), i, 0));
        qint64 got = 0;
        while (in && got < data.size()) {
            const zip_int64_t n = zip_fread(in.get(), data.data() + got, zip_uint64_t(data.size() - got));
            if (n <= 0)
                break;
            got += n;
        }
        if (!in || got != data.size()) {
            if (firstFailure.isEmpty())
                firstFailure = "Cannot extract " + name + " from " + archive;
            continue;
        }
        take(platform::bareFileName(name), data);
    }
    if (!firstFailure.isEmpty())
        throw platform::Error(firstFailure);
}

void refuseNoReplaceRenameForTesting(bool refuse)
{
    refuseNoReplaceRename = refuse;
}

} // namespace zipread
