#include "common/ZipScan.h"

#include "common/ZipFormat.h"
#include "common/ZipIo.h"
#include "platform/Error.h"

#include <QSet>


namespace zipscan {

namespace {

constexpr int kFixedSize = 26;   // local header after its signature, before the name
const char kSignature[4] = {'P', 'K', 3, 4};

[[noreturn]] void fail(const char *text)
{
    throw platform::Error(QString::fromLatin1(text));
}

// Search mode: looks for "PK\3\4" one byte at a time. A byte that breaks the
// sequence is not looked at again as the start of a new one. `counted` carries the
// bytes read in search mode across calls; false when the limit or the end came first.
template <class In>
bool findSignature(In &in, qint64 &counted)
{
    int matched = 0;
    char c;
    while (in.getChar(&c)) {
        if (++counted > kSearchLimit)
            return false;
        if (c == kSignature[matched]) {
            if (++matched == 4)
                return true;
        } else {
            matched = 0;
        }
    }
    return false;
}

template <class In>
bool skipTo(In &in, qint64 target)
{
    return in.seek(target) && in.pos() == target;
}

// `offsets`, when given, receives the offset of each listed entry's local header.
template <class In>
void scan(In &in, qint64 start, QList<ZipDirEntry> &list, QList<qint64> *offsets = nullptr)
{
    const qint64 fileSize = in.size();
    if (!in.seek(start))
        return;
    qint64 counted = 0;
    while (findSignature(in, counted)) {
        quint32 signature = zipfmt::kLocalHeaderSig;
        bool backToSearch = false;
        while (!backToSearch) {
            if (signature == zipfmt::kLocalHeaderSig) {
                const qint64 headerAt = in.pos() - 4;
                char fixed[kFixedSize];
                ZipDirEntry e;
                bool whole = in.read(fixed, kFixedSize) == kFixedSize;
                QByteArray name;
                if (whole) {
                    e.versionNeeded = zipfmt::get16(fixed);
                    e.flags = zipfmt::get16(fixed + 2);
                    e.compressionMethod = zipfmt::get16(fixed + 4);
                    e.modTime = zipfmt::get16(fixed + 6);
                    e.modDate = zipfmt::get16(fixed + 8);
                    e.crc32 = zipfmt::get32(fixed + 10);
                    e.compressedSize = zipfmt::get32(fixed + 14);
                    e.uncompressedSize = zipfmt::get32(fixed + 18);
                    e.fileNameLength = zipfmt::get16(fixed + 22);
                    e.extraFieldLength = zipfmt::get16(fixed + 24);
                    name = in.read(e.fileNameLength);
                    whole = name.size() == e.fileNameLength;
                }
                if (!whole) {
                    if (!list.isEmpty())
                        fail("Error 2 reading Zip file");
                    backToSearch = true;
                    continue;
                }
                e.fileName = zipfmt::decodeName(name, e.flags);
                const qint64 dataStart = in.pos() + e.extraFieldLength;
                const qint64 dataEnd = dataStart + qint64(e.compressedSize);
                if (dataEnd > fileSize - zipfmt::kEndSize) {
                    if (!list.isEmpty())
                        fail("Error 3 reading Zip file");
                    backToSearch = true;
                    continue;
                }
                if (!skipTo(in, dataStart))
                    fail("Error 4 reading Zip file");
                if (!skipTo(in, dataEnd))
                    fail("Error 5 reading Zip file");
                list.append(std::move(e));
                if (offsets)
                    offsets->append(headerAt);
            } else if (signature == zipfmt::kCentralHeaderSig || signature == zipfmt::kEndSig) {
                return;
            }
            char next[4];
            if (in.read(next, 4) != 4)
                fail("Error reading Zip File");
            signature = zipfmt::get32(next);
        }
    }
}

} // namespace

void scanLocalHeaders(QIODevice &in, qint64 start, QList<ZipDirEntry> &list)
{
    scan(in, start, list);
}

void scanLocalHeaders(int fd, qint64 start, QList<ZipDirEntry> &list)
{
    zipio::BlockReader in(fd);
    scan(in, start, list);
}

void scanMembers(int fd, qint64 start, QList<ZipDirEntry> &list)
{
    zipio::BlockReader in(fd);
    QList<ZipDirEntry> found;
    QList<qint64> offsets;
    // A scan that breaks off still hands out what it read.
    const struct Out {
        QList<ZipDirEntry> &found, &list;
        ~Out() { list.append(found); }
    } out{found, list};
    scan(in, start, found, &offsets);

    // As many members as the end record counts: nothing is left over (the common
    // case, read from the last 22 bytes without the directory itself).
    if (in.size() >= zipfmt::kEndSize) {
        const QByteArray end = in.readExactly(in.size() - zipfmt::kEndSize, zipfmt::kEndSize);
        const quint16 count = zipfmt::get16(end.constData() + 10);
        if (zipfmt::get32(end.constData()) == zipfmt::kEndSig && count != 0xFFFF
            && count == found.size())
            return;
    }
    zipfmt::CentralDirectory cd;
    try {
        cd = zipfmt::readCentralDirectory(fd, in.size());
    } catch (const platform::Error &) {
        return;   // no directory to go by: every local entry counts
    }
    QSet<qint64> named;
    for (const zipfmt::CentralEntry &e : cd.entries)
        named.insert(qint64(e.localOffset));
    // Only a directory that names local headers the scan found tells which ones are
    // left over; offsets counted from elsewhere (a self-extractor's) say nothing.
    qsizetype matched = 0;
    for (const qint64 at : offsets)
        matched += named.contains(at);
    if (matched != named.size())
        return;
    QList<ZipDirEntry> kept;
    for (qsizetype i = 0; i < found.size(); ++i) {
        if (named.contains(offsets[i]))
            kept.append(std::move(found[i]));
    }
    found = std::move(kept);
}

} // namespace zipscan
