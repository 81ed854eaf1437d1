#include "common/ZipFormat.h"

#include "common/ZipIo.h"
#include "platform/Error.h"
#include "platform/Sanitiser.h"

#include <QStringDecoder>


namespace zipfmt {

quint16 get16(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return quint16(u[0] | (u[1] << 8));
}

quint32 get32(const char *p)
{
    return quint32(get16(p)) | (quint32(get16(p + 2)) << 16);
}

quint64 get64(const char *p)
{
    return quint64(get32(p)) | (quint64(get32(p + 4)) << 32);
}

void put16(QByteArray &out, quint16 v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

void put32(QByteArray &out, quint32 v)
{
    put16(out, quint16(v & 0xFFFF));
    put16(out, quint16(v >> 16));
}

void put64(QByteArray &out, quint64 v)
{
    put32(out, quint32(v & 0xFFFFFFFFu));
    put32(out, quint32(v >> 32));
}

namespace {

constexpr quint16 kZip64ExtraId = 0x0001;
constexpr quint16 kVersionZip64 = 45;
constexpr quint32 kMax32 = 0xFFFFFFFFu;
constexpr quint16 kMax16 = 0xFFFF;
// The end record's comment is at most 65535 bytes, so it lies in this many last bytes.
constexpr qint64 kEndSearchSpan = kEndSize + 0xFFFF;

[[noreturn]] void damaged(const char *why)
{
    throw platform::Error(QString::fromLatin1(why));
}

// Takes the zip64 extended information out of `extra`, filling the fields that the
// fixed part of the header marked as too large. Other extra fields are kept.
void takeZip64Extra(CentralEntry &e, bool needUsize, bool needCsize, bool needOffset)
{
    if (e.extra.isEmpty() && !needUsize && !needCsize && !needOffset)
        return;
    QByteArray kept;
    const QByteArray &x = e.extra;
    qsizetype i = 0;
    bool found = false;
    while (i + 4 <= x.size()) {
        const quint16 id = get16(x.constData() + i);
        const quint16 len = get16(x.constData() + i + 2);
        if (i + 4 + len > x.size())
            break;
        if (id == kZip64ExtraId) {
            found = true;
            const char *p = x.constData() + i + 4;
            qsizetype left = len;
            auto take = [&](quint64 &field) {
                if (left < 8)
                    damaged("a zip64 field is short");
                field = get64(p);
                p += 8;
                left -= 8;
            };
            if (needUsize)
                take(e.uncompressedSize);
            if (needCsize)
                take(e.compressedSize);
            if (needOffset)
                take(e.localOffset);
        } else {
            kept.append(x.constData() + i, 4 + len);
        }
        i += 4 + len;
    }
    if (i < x.size())
        kept.append(x.constData() + i, x.size() - i);
    if ((needUsize || needCsize || needOffset) && !found)
        damaged("a zip64 field is missing");
    e.extra = kept;
}

} // namespace

CentralDirectory readCentralDirectory(int fd, qint64 fileSize)
{
    if (fileSize < kEndSize)
        damaged("it is not a zip file");
    const qint64 span = std::min(fileSize, kEndSearchSpan);
    const QByteArray tail = zipio::readAt(fd, fileSize - span, span);

    // The end record is the last signature whose comment reaches exactly to the end.
    qint64 endPos = -1;
    for (qint64 i = span - kEndSize; i >= 0; --i) {
        const char *p = tail.constData() + i;
        if (get32(p) == kEndSig && i + kEndSize + get16(p + 20) == span) {
            endPos = fileSize - span + i;
            break;
        }
    }
    if (endPos < 0)
        damaged("it is not a zip file");
    const char *end = tail.constData() + (endPos - (fileSize - span));
    if (get16(end + 4) != 0 || get16(end + 6) != 0)
        damaged("it spans several disks");

    CentralDirectory cd;
    cd.comment = QByteArray(end + 22, get16(end + 20));
    quint64 count = get16(end + 10);
    quint64 size = get32(end + 12);
    quint64 offset = get32(end + 16);
    qint64 cdEnd = endPos;

    const qint64 locatorPos = endPos - kZip64LocatorSize;
    if (locatorPos >= 0) {
        const QByteArray loc = zipio::readAt(fd, locatorPos, kZip64LocatorSize);
        if (get32(loc.constData()) == kZip64LocatorSig) {
            const quint64 recordPos = get64(loc.constData() + 8);
            if (recordPos > quint64(locatorPos) - kZip64EndSize)
                damaged("the zip64 end record is out of place");
            const QByteArray rec = zipio::readAt(fd, qint64(recordPos), kZip64EndSize);
            if (get32(rec.constData()) != kZip64EndSig)
                damaged("the zip64 end record is missing");
            count = get64(rec.constData() + 32);
            size = get64(rec.constData() + 40);
            offset = get64(rec.constData() + 48);
            cdEnd = qint64(recordPos);
        }
    }
    if (offset > quint64(cdEnd) || size != quint64(cdEnd) - offset)
        damaged("the central directory is out of place");
    // Each header takes at least 46 bytes, so a count beyond that cannot be true.
    if (count > size / kCentralHeaderSize)
        damaged("the member count is wrong");

    cd.tail = zipio::readAt(fd, qint64(offset), fileSize - qint64(offset));
    cd.offset = offset;
    cd.headersSize = qint64(size);
    cd.entries.reserve(qsizetype(count));
    const char *dir = cd.tail.constData();
    const auto slice = [](const char *p, qsizetype n) { return QByteArray::fromRawData(p, n); };
    qsizetype pos = 0;
    for (quint64 n = 0; n < count; ++n) {
        if (pos + kCentralHeaderSize > qsizetype(size))
            damaged("the central directory is short");
        const char *h = dir + pos;
        if (get32(h) != kCentralHeaderSig)
            damaged("a central directory header is damaged");
        CentralEntry e;
        e.madeBy = get16(h + 4);
        e.versionNeeded = get16(h + 6);
        e.flags = get16(h + 8);
        e.method = get16(h + 10);
        e.modTime = get16(h + 12);
        e.modDate = get16(h + 14);
        e.crc = get32(h + 16);
        e.compressedSize = get32(h + 20);
        e.uncompressedSize = get32(h + 24);
        const quint16 nameLen = get16(h + 28);
        const quint16 extraLen = get16(h + 30);
        const quint16 commentLen = get16(h + 32);
        const quint16 disk = get16(h + 34);
        e.internalAttributes = get16(h + 36);
        e.externalAttributes = get32(h + 38);
        e.localOffset = get32(h + 42);
        const qsizetype varLen = qsizetype(nameLen) + extraLen + commentLen;
        if (pos + kCentralHeaderSize + varLen > qsizetype(size))
            damaged("the central directory is short");
        e.name = slice(h + 46, nameLen);
        e.extra = slice(h + 46 + nameLen, extraLen);
        e.comment = slice(h + 46 + nameLen + extraLen, commentLen);
        takeZip64Extra(e, e.uncompressedSize == kMax32, e.compressedSize == kMax32,
                       e.localOffset == kMax32);
        if (disk != 0 && disk != kMax16)
            damaged("it spans several disks");
        if (e.localOffset >= offset || e.compressedSize > offset
            || e.localOffset + kLocalHeaderSize + nameLen + e.compressedSize > offset)
            damaged("a member lies outside the archive");
        cd.entries.append(std::move(e));
        pos += kCentralHeaderSize + varLen;
    }
    if (pos != qsizetype(size))
        damaged("the central directory has stray bytes");
    return cd;
}

QByteArray encodeLocalHeader(const CentralEntry &e)
{
    QByteArray out;
    out.reserve(kLocalHeaderSize + e.name.size());
    put32(out, kLocalHeaderSig);
    put16(out, e.versionNeeded);
    put16(out, e.flags);
    put16(out, e.method);
    put16(out, e.modTime);
    put16(out, e.modDate);
    put32(out, e.crc);
    put32(out, quint32(e.compressedSize));
    put32(out, quint32(e.uncompressedSize));
    put16(out, quint16(e.name.size()));
    put16(out, 0);
    out.append(e.name);
    return out;
}

bool decodeLocalHeader(const char *p, LocalHeader &h)
{
    if (get32(p) != kLocalHeaderSig)
        return false;
    h.flags = get16(p + 6);
    h.method = get16(p + 8);
    h.crc = get32(p + 14);
    h.compressedSize = get32(p + 18);
    h.uncompressedSize = get32(p + 22);
    h.nameLength = get16(p + 26);
    h.extraLength = get16(p + 28);
    return true;
}

void encodeCentralHeaders(const QList<CentralEntry> &entries, QByteArray &out)
{
    qsizetype estimate = out.size();
    for (const CentralEntry &e : entries)
        estimate += kCentralHeaderSize + 28 + e.name.size() + e.extra.size() + e.comment.size();
    out.reserve(estimate + kZip64EndSize + kZip64LocatorSize + kEndSize);

    for (const CentralEntry &e : entries) {
        const bool bigU = e.uncompressedSize >= kMax32;
        const bool bigC = e.compressedSize >= kMax32;
        const bool bigO = e.localOffset >= kMax32;
        QByteArray extra;
        if (bigU || bigC || bigO) {
            put16(extra, kZip64ExtraId);
            put16(extra, quint16(8 * (int(bigU) + int(bigC) + int(bigO))));
            if (bigU)
                put64(extra, e.uncompressedSize);
            if (bigC)
                put64(extra, e.compressedSize);
            if (bigO)
                put64(extra, e.localOffset);
        }
        extra.append(e.extra);
        put32(out, kCentralHeaderSig);
        put16(out, e.madeBy);
        put16(out, extra.size() > e.extra.size() ? std::max(e.versionNeeded, kVersionZip64)
                                                 : e.versionNeeded);
        put16(out, e.flags);
        put16(out, e.method);
        put16(out, e.modTime);
        put16(out, e.modDate);
        put32(out, e.crc);
        put32(out, bigC ? kMax32 : quint32(e.compressedSize));
        put32(out, bigU ? kMax32 : quint32(e.uncompressedSize));
        put16(out, quint16(e.name.size()));
        put16(out, quint16(extra.size()));
        put16(out, quint16(e.comment.size()));
        put16(out, 0);
        put16(out, e.internalAttributes);
        put32(out, e.externalAttributes);
        put32(out, bigO ? kMax32 : quint32(e.localOffset));
        out.append(e.name);
        out.append(extra);
        out.append(e.comment);
    }
}

void encodeEndRecords(quint64 count, quint64 size, quint64 offset, const QByteArray &comment,
                      QByteArray &out)
{
    const bool zip64 = count >= kMax16 || offset >= kMax32 || size >= kMax32;
    if (zip64) {
        const quint64 recordPos = offset + size;
        put32(out, kZip64EndSig);
        put64(out, kZip64EndSize - 12);
        put16(out, (3 << 8) | kVersionZip64);
        put16(out, kVersionZip64);
        put32(out, 0);
        put32(out, 0);
        put64(out, count);
        put64(out, count);
        put64(out, size);
        put64(out, offset);
        put32(out, kZip64LocatorSig);
        put32(out, 0);
        put64(out, recordPos);
        put32(out, 1);
    }
    put32(out, kEndSig);
    put16(out, 0);
    put16(out, 0);
    put16(out, zip64 ? kMax16 : quint16(count));
    put16(out, zip64 ? kMax16 : quint16(count));
    put32(out, zip64 ? kMax32 : quint32(size));
    put32(out, zip64 ? kMax32 : quint32(offset));
    put16(out, quint16(comment.size()));
    out.append(comment);
}

QByteArray encodeCentralDirectory(const QList<CentralEntry> &entries, quint64 offset,
                                  const QByteArray &comment)
{
    QByteArray out;
    encodeCentralHeaders(entries, out);
    encodeEndRecords(quint64(entries.size()), quint64(out.size()), offset, comment, out);
    return out;
}

QByteArray emptyArchive()
{
    return encodeCentralDirectory({}, 0, {});
}

void toDosTime(const QDateTime &t, quint16 &time, quint16 &date)
{
    const QDateTime local = t.toLocalTime();
    QDate d = local.date();
    QTime c = local.time();
    if (!d.isValid() || d.year() < 1980) {
        d = QDate(1980, 1, 1);
        c = QTime(0, 0);
    } else if (d.year() > 2107) {
        d = QDate(2107, 12, 31);
        c = QTime(23, 59, 58);
    }
    time = quint16((c.hour() << 11) | (c.minute() << 5) | (c.second() / 2));
    date = quint16(((d.year() - 1980) << 9) | (d.month() << 5) | d.day());
}

QString decodeName(const QByteArray &raw, quint16 flags)
{
    if (flags & kFlagUtf8)
        return QString::fromUtf8(raw);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(raw);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(raw);
}

bool nameMatches(const QString &memberName, const QString &name)
{
    return memberName == name || platform::bareFileName(memberName) == name;
}

} // namespace zipfmt
