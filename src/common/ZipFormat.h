#pragma once
// The records of the zip format that our own writer produces and reads back: local
// file headers, central directory headers, the end records (with the zip64 forms
// needed once an archive passes 4 GB or 65535 members). Members themselves stay
// below 4 GB, so local headers always carry real sizes and never zip64 fields.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace zipfmt {

inline constexpr quint32 kLocalHeaderSig = 0x04034B50;
inline constexpr quint32 kCentralHeaderSig = 0x02014B50;
inline constexpr quint32 kEndSig = 0x06054B50;
inline constexpr quint32 kZip64EndSig = 0x06064B50;
inline constexpr quint32 kZip64LocatorSig = 0x07064B50;
inline constexpr quint32 kDescriptorSig = 0x08074B50;

inline constexpr int kLocalHeaderSize = 30;
inline constexpr int kCentralHeaderSize = 46;
inline constexpr int kEndSize = 22;
inline constexpr int kZip64EndSize = 56;
inline constexpr int kZip64LocatorSize = 20;

inline constexpr quint16 kFlagEncrypted = 0x0001;
inline constexpr quint16 kFlagDescriptor = 0x0008;
inline constexpr quint16 kFlagUtf8 = 0x0800;

inline constexpr quint16 kMethodStored = 0;
inline constexpr quint16 kMethodDeflated = 8;

// Largest member we write: its sizes must fit the 32-bit fields of a local header.
inline constexpr quint64 kMaxMemberSize = 0xFFFFFFFEull;

// One member as its central directory header describes it. `extra` holds the
// extra fields other than zip64's, which is rebuilt on writing.
struct CentralEntry {
    quint16 madeBy = 0;
    quint16 versionNeeded = 0;
    quint16 flags = 0;
    quint16 method = 0;
    quint16 modTime = 0;
    quint16 modDate = 0;
    quint32 crc = 0;
    quint64 compressedSize = 0;
    quint64 uncompressedSize = 0;
    quint16 internalAttributes = 0;
    quint32 externalAttributes = 0;
    quint64 localOffset = 0;
    QByteArray name;
    QByteArray extra;
    QByteArray comment;
};

struct CentralDirectory {
    QList<CentralEntry> entries;   // names, extras and comments point into `tail`
    quint64 offset = 0;            // first central header; appended members go here
    qint64 headersSize = 0;        // bytes of central headers at the start of `tail`
    QByteArray comment;            // the archive comment, kept across rewrites
    QByteArray tail;               // the file from `offset` to its end
};

// Reads the central directory of the archive open in `fd` (`fileSize` bytes) and
// checks that it is whole: every offset and size lies inside the file and the end
// record sits at the end. Throws platform::Error with a short reason otherwise.
CentralDirectory readCentralDirectory(int fd, qint64 fileSize);

// The local header that `e` needs (no extra field, real sizes, no data descriptor).
QByteArray encodeLocalHeader(const CentralEntry &e);

// The fixed fields of a local header (sizes as stored: 32 bits, zero when a data
// descriptor follows the data).
struct LocalHeader {
    quint16 flags = 0;
    quint16 method = 0;
    quint32 crc = 0;
    quint32 compressedSize = 0;
    quint32 uncompressedSize = 0;
    quint16 nameLength = 0;
    quint16 extraLength = 0;
    // From the header's start to its member's data.
    qint64 size() const { return kLocalHeaderSize + nameLength + extraLength; }
};

// The local header whose kLocalHeaderSize bytes start at `p`; false when its
// signature is wrong.
bool decodeLocalHeader(const char *p, LocalHeader &h);

// The central directory for `entries` starting at `offset`, followed by the end
// records (zip64 ones only when offsets or the count need them).
QByteArray encodeCentralDirectory(const QList<CentralEntry> &entries, quint64 offset,
                                  const QByteArray &comment);

// The central headers of `entries`, appended to `out`.
void encodeCentralHeaders(const QList<CentralEntry> &entries, QByteArray &out);

// The end records of a directory of `count` headers and `size` bytes at `offset`,
// appended to `out`.
void encodeEndRecords(quint64 count, quint64 size, quint64 offset, const QByteArray &comment,
                      QByteArray &out);

// The bytes of an empty archive: one end record.
QByteArray emptyArchive();

// DOS date and time fields for a local time (clamped to 1980..2107).
void toDosTime(const QDateTime &t, quint16 &time, quint16 &date);

// A member name as text: UTF-8 when flagged or valid, else Latin-1.
QString decodeName(const QByteArray &raw, quint16 flags);

// Whether the member `memberName` is the one an entry of FSpecArgs names: the same
// name, or a member whose bare, sanitised name is that entry.
bool nameMatches(const QString &memberName, const QString &name);

// Little-endian field access.
quint16 get16(const char *p);
quint32 get32(const char *p);
quint64 get64(const char *p);
void put16(QByteArray &out, quint16 v);
void put32(QByteArray &out, quint32 v);
void put64(QByteArray &out, quint64 v);

} // namespace zipfmt
