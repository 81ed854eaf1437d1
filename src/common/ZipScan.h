#pragma once
// The member list of an archive, read by walking its local file headers from the
// front of the file rather than from its central directory.

#include <QIODevice>
#include <QList>
#include <QString>

// One member as its local file header describes it, fields in header order.
struct ZipDirEntry {
    quint16 versionNeeded = 0;
    quint16 flags = 0;
    quint16 compressionMethod = 0;
    quint16 modTime = 0;
    quint16 modDate = 0;
    quint32 crc32 = 0;
    quint32 compressedSize = 0;
    quint32 uncompressedSize = 0;
    quint16 fileNameLength = 0;
    quint16 extraFieldLength = 0;
    QString fileName;
};

namespace zipscan {

// The search for the first local header gives up after this many bytes...
inline constexpr qint64 kSearchLimit = 60000;
// ...counted from here in a self-extracting ".EXE", past its extractor program.
inline constexpr qint64 kExeStart = 14000;

// Walks the local headers of the archive in `in` from `start`, appending one entry
// per member to `list`. Text that is not an archive leaves `list` as it was.
// Throws platform::Error ("Error reading Zip File", "Error 2 reading Zip file" to
// "Error 5 reading Zip file") for an archive that breaks off; `list` then holds the
// members read before the break.
void scanLocalHeaders(QIODevice &in, qint64 start, QList<ZipDirEntry> &list);
// The same over an open file descriptor, read in large blocks; member data is
// skipped without being read when it spans whole blocks.
void scanLocalHeaders(int fd, qint64 start, QList<ZipDirEntry> &list);

// The members of the archive open in `fd`: as scanLocalHeaders over it, leaving out
// local entries that its central directory no longer names (the space a deletion
// leaves behind). When the directory cannot be read, or does not match the local
// headers found, every local entry counts.
void scanMembers(int fd, qint64 start, QList<ZipDirEntry> &list);

} // namespace zipscan
